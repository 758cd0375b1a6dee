// The audio device under the mixer: the one place where mixed samples leave
// the program. The device itself belongs to the platform layer, which
// installs it here; without one (headless runs, tests, the fuzz targets)
// there is never a device and the program runs silent.
#pragma once

struct SndOutput {
    // Opens the system's default audio device for float stereo at about
    // 48 kHz and starts it: from then on the device's thread calls ds_render.
    // Returns the rate it runs at, or 0 when there is no device.
    int (*open)();
    // Stops and closes the device. When it returns, ds_render is no longer called.
    void (*close)();
    // 1 while the opened device is running; 0 once it has gone away.
    int (*running)();
};

// Installs the device (kept by pointer); null removes it. Only while no
// sound object is alive.
void snd_set_output(const SndOutput* output);

// The installed device's operations, or their "no device" answers.
int snd_output_open();
void snd_output_close();
int snd_output_running();
