// The audio device under the mixer: the one place where mixed samples leave
// the program. snd_output_sdl.cpp opens it through SDL; builds without SDL
// (the fuzz targets) supply a version that never finds a device.
#pragma once

// Opens the system's default audio device for float stereo at about 48 kHz
// with a block of about 20 ms and starts it: from then on the device's thread
// calls ds_render. Returns the rate it runs at, or 0 where there is no device
// (a headless run, no driver, no hardware); the program then runs silent.
int snd_output_open();

// Stops and closes the device. When it returns, ds_render is no longer called.
void snd_output_close();

// 1 while the opened device is running; 0 once it has gone away (unplugged,
// its server stopped) or when none is open.
int snd_output_running();
