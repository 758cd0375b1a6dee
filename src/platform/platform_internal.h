// What the platform's own files share: the audio device and the system mouse
// as sys_init plugs them into the layers below.
#pragma once

#include "snd/snd_output.h"

// The SDL audio device, ready to be installed with snd_set_output.
const SndOutput* sys_audio_output();

// Tells the mouse device that there is (or no longer is) a mouse to read,
// and starts (or stops) reporting focus changes to it.
void sys_mouse_attach(bool attached);
// Hands one SDL mouse event (an SDL_Event) to the mouse device.
void sys_mouse_event(const void* sdl_event);
