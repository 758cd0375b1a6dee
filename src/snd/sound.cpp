// Sound manager. Until the mixer exists the program runs silent, exactly as it
// does on a machine without an audio device.
#include "snd/sound.h"

int snd_init(HWND)
{
    return 0;
}

void snd_deinit()
{
}
