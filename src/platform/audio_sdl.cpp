// The audio device on SDL2, installed under the sound object by sys_init.
// Owns the one SDL audio device and, if it had to start it, SDL's audio
// subsystem. The device pulls float stereo blocks on its
// own thread through a callback that does nothing but call ds_render: all
// mixing and all shared state live on the mixer's side of that call.
//
// If the device goes away while the program runs, SDL posts
// SDL_AUDIODEVICEREMOVED and reports the device stopped; the sound object
// notices through snd_output_running, closes it and opens the default device
// again later. The audio subsystem goes with each close and comes back with
// each open: after a sound server restarts, only a fresh start of it reaches
// the new server.
#include <SDL.h>

#include "platform/platform_internal.h"
#include "snd/dsound.h"

static SDL_AudioDeviceID s_device = 0;
static bool s_started_audio = false;
static bool s_removed = false; // SDL said the open device went away

// About 20 ms at 48 kHz: short enough that a thunder clap follows its flash,
// long enough not to starve on a busy machine.
static constexpr int OUTPUT_RATE = 48000;
static constexpr int OUTPUT_FRAMES = 1024;

static void SDLCALL fill_block(void*, Uint8* stream, int length)
{
    ds_render(reinterpret_cast<float*>(stream), length / int(2 * sizeof(float)));
}

static void stop_audio_subsystem()
{
    if (s_started_audio)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    s_started_audio = false;
}

// Whether SDL may pick its PulseAudio driver: it is asked for, or no driver is.
static bool may_use_pulse()
{
    const char* driver = SDL_GetHint(SDL_HINT_AUDIODRIVER);
    return !driver || !driver[0] || SDL_strstr(driver, "pulse");
}

static int open_output()
{
    if (s_device)
        return 0;
    if (!SDL_WasInit(SDL_INIT_AUDIO)) {
        if (may_use_pulse() && sys_pulse_lacks_sink())
            return 0; // SDL would crash starting on it; a sink may come later
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return 0;
        s_started_audio = true;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = OUTPUT_RATE;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 2;
    wanted.samples = OUTPUT_FRAMES;
    wanted.callback = fill_block;
    // A removal still queued belongs to a device closed before; SDL may hand
    // the new one the same id.
    SDL_FlushEvent(SDL_AUDIODEVICEREMOVED);
    s_removed = false;
    SDL_AudioSpec obtained{};
    // Format and channel count are fixed (SDL converts if the hardware
    // differs); only the rate may follow the device, the mixer resamples.
    s_device =
        SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (!s_device || obtained.freq <= 0) {
        if (s_device)
            SDL_CloseAudioDevice(s_device);
        s_device = 0;
        stop_audio_subsystem();
        return 0;
    }
    SDL_PauseAudioDevice(s_device, 0);
    return obtained.freq;
}

static void close_output()
{
    if (s_device)
        SDL_CloseAudioDevice(s_device); // joins the device's thread
    s_device = 0;
    stop_audio_subsystem();
}

static int output_running()
{
    return s_device && !s_removed && SDL_GetAudioDeviceStatus(s_device) == SDL_AUDIO_PLAYING;
}

void sys_audio_device_removed(uint32_t device)
{
    if (s_device && device == s_device)
        s_removed = true;
}

const SndOutput* sys_audio_output()
{
    static const SndOutput OUTPUT = {open_output, close_output, output_running};
    return &OUTPUT;
}
