// Sound manager: the sound table and playback.
#pragma once
#include "app/sys.h"

// 1 when sound output is ready, 0 when the program runs silent.
int snd_init(HWND window);
// Stops and releases every sound and the output.
void snd_deinit();
