// The audio device on SDL: the device's own thread mixes while the program
// plays, changes and releases buffers.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sys.h"
#include "snd/dsound.h"
#include "snd/snd_output.h"
#include "snd/snd_test_util.h"
#include "snd/sound.h"
#include "test_util.h"

namespace
{

std::vector<float> sine(int frames, float cycles_per_frame, float amplitude)
{
    std::vector<float> out(size_t(frames), 0.0f);
    for (int i = 0; i < frames; ++i)
        out[size_t(i)] = amplitude * std::sin(6.2831853f * cycles_per_frame * float(i));
    return out;
}

// The device's thread mixes while the program's plays, changes and releases
// buffers; under ThreadSanitizer this checks they only meet under the lock.
TEST(SoundDevice, TheDeviceThreadMixesWhileTheProgramPlays)
{
    if (sys_init(false) != 1)
        GTEST_SKIP() << "no video driver";
    if (snd_init(nullptr) != 1) {
        sys_shutdown();
        GTEST_SKIP() << "no audio device (set SDL_AUDIODRIVER=dummy)";
    }
    IDirectSoundBuffer8* rain =
        make_buffer(g_dsound, pcm(1, 22050, 16), pcm16(sine(2205, 0.01f, 0.1f)));
    g_sounds[2047] = {"rain", rain};
    snd_play(2047, DSBPLAY_LOOPING, 0, 0, 0);
    int plays = 0;
    for (uint32_t start = SDL_GetTicks(); SDL_GetTicks() - start < 400; SDL_Delay(1), ++plays) {
        snd_play(2047, 0, -(plays % 30) * 100, (plays % 21 - 10) * 1000,
                 11025 + (plays % 40) * 1000);
        // Changed last, before the pause: nothing else orders them with the device's mix.
        rain->SetFrequency(22050 + DWORD(plays % 7) * 100);
        rain->SetPan((plays % 5 - 2) * 500);
        rain->SetVolume(-(plays % 10) * 100);
    }
    // The claps last at most 0.2 s. Only the device thread's mix ends them
    // while the device runs, so their release shows it kept mixing.
    EXPECT_EQ(snd_output_running(), 1);
    for (uint32_t wait = SDL_GetTicks(); ds_buffers_alive() > 1 && SDL_GetTicks() - wait < 3000;)
        SDL_Delay(10);
    EXPECT_EQ(ds_buffers_alive(), 1);
    EXPECT_EQ(ds_buffers_playing(), 1);
    snd_deinit();
    sys_shutdown();
}

// SDL's disk driver plays into a file (raw float32 frames as the device got
// them, in real time): what a speaker would get, left then right. A sound
// panned hard left must come out on the left only.
TEST(SoundDevice, AHardLeftPanReachesTheLeftSpeakerOnly)
{
    ScratchDir scratch;
    std::string file = (scratch.path() / "speakers.raw").string();
    const char* had = std::getenv("SDL_AUDIODRIVER");
    std::string driver = had ? had : "";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    struct Restore {
        std::string driver;
        bool had;
        ~Restore()
        {
            if (had)
                setenv("SDL_AUDIODRIVER", driver.c_str(), 1);
            else
                unsetenv("SDL_AUDIODRIVER");
            unsetenv("SDL_DISKAUDIOFILE");
        }
    } restore{driver, had != nullptr};

    if (sys_init(false) != 1)
        GTEST_SKIP() << "no video driver";
    if (snd_init(nullptr) != 1) {
        sys_shutdown();
        GTEST_SKIP() << "SDL has no disk audio driver";
    }
    IDirectSoundBuffer8* tone =
        make_buffer(g_dsound, pcm(1, 22050, 16), pcm16(sine(2205, 0.05f, 0.5f)));
    g_sounds[2047] = {"tone", tone};
    snd_play(2047, DSBPLAY_LOOPING, 0, DSBPAN_LEFT, 0);
    SDL_Delay(250);
    snd_deinit(); // closes the device: the file is complete
    sys_shutdown();

    std::FILE* in = std::fopen(file.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    std::vector<float> samples(48000);
    samples.resize(std::fread(samples.data(), sizeof(float), samples.size(), in));
    std::fclose(in);
    double left = 0, right = 0;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
        left += double(samples[i]) * double(samples[i]);
        right += double(samples[i + 1]) * double(samples[i + 1]);
    }
    ASSERT_GE(samples.size(), size_t(2 * 1024)) << "the device wrote less than a block";
    EXPECT_GT(left, 100 * right) << "left " << left << ", right " << right;
    EXPECT_GT(left / double(samples.size() / 2), 0.01) << "the tone is missing";
}

} // namespace
