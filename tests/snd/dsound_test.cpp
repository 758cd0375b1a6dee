// The DirectSound stand-in on the null output: what it accepts, what
// duplicates share, and the mixer judged by the stereo blocks it renders.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/sys.h"
#include "snd/dsound.h"
#include "snd/snd_test_util.h"
#include "snd/sound.h"

namespace
{

constexpr float PI = 3.14159265358979f;
enum { LEFT, RIGHT };

// Over one channel of an interleaved stereo block.
float peak(const std::vector<float>& v, int channel)
{
    float m = 0.0f;
    for (size_t i = size_t(channel); i < v.size(); i += 2)
        m = std::fmax(m, std::fabs(v[i]));
    return m;
}

float rms(const std::vector<float>& v, int channel)
{
    double sum = 0.0;
    for (size_t i = size_t(channel); i < v.size(); i += 2)
        sum += double(v[i]) * v[i];
    return float(std::sqrt(sum / double(v.size() / 2)));
}

std::vector<float> sine(int frames, float cycles_per_frame, float amplitude, float phase = 0.0f)
{
    std::vector<float> out(size_t(frames), 0.0f);
    for (int i = 0; i < frames; ++i)
        out[size_t(i)] = amplitude * std::sin(2.0f * PI * cycles_per_frame * float(i) + phase);
    return out;
}

DWORD position(IDirectSoundBuffer8* buffer)
{
    DWORD at = 0;
    buffer->GetCurrentPosition(&at, nullptr);
    return at;
}

class SoundObject : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_EQ(snd_init_null_output(), 1); }
    void TearDown() override { snd_deinit(); }

    // A mono 16-bit sound in the top slot, as snd_load leaves it.
    int load(const std::vector<float>& values, DWORD rate = 48000)
    {
        g_sounds[2047].buffer = make_buffer(g_dsound, pcm(1, rate, 16), pcm16(values));
        std::strcpy(g_sounds[2047].name, "test");
        return 2047;
    }

    // Frames rendered until nothing plays any more.
    int frames_until_silent()
    {
        int frames = 0;
        for (; ds_buffers_playing() > 0 && frames < 100000; ++frames)
            render(1);
        return frames;
    }
};

TEST_F(SoundObject, ValidatesTheFormatAndSize)
{
    WAVEFORMATEX f = pcm(2, 44100, 16);
    struct Case {
        const char* what;
        WAVEFORMATEX format;
        DWORD bytes = 1000;
    } refused[] = {
        {"float", {3, 2, 44100, 176400, 4, 16, 0}},
        {"no channels", {1, 0, 44100, 0, 0, 16, 0}},
        {"six channels", pcm(6, 44100, 16)},
        {"24-bit", pcm(2, 44100, 24)},
        {"block align", {1, 2, 44100, 88200, 2, 16, 0}},
        {"bytes a second", {1, 2, 44100, 176401, 4, 16, 0}},
        {"rate zero", pcm(2, 0, 16)},
        {"rate too high", pcm(2, 400000, 16)},
        {"empty", f, 0},
        {"below the minimum", f, 2},
        {"beyond the maximum", f, DSBSIZE_MAX + 1},
    };
    for (Case& c : refused) {
        IDirectSoundBuffer8* buffer = reinterpret_cast<IDirectSoundBuffer8*>(&c);
        EXPECT_LT(create(g_dsound, c.format, c.bytes, &buffer), 0) << c.what;
        EXPECT_EQ(buffer, nullptr) << c.what;
    }
    IDirectSoundBuffer8* buffer = nullptr;
    DSBUFFERDESC no_format{DSBUFFERDESC_SIZE, 0, 100, 0, nullptr, {}};
    EXPECT_EQ(g_dsound->CreateSoundBuffer(&no_format, &buffer, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(ds_buffers_alive(), 0);

    for (WORD channels : {1, 2})
        for (WORD bits : {8, 16})
            for (DWORD rate : {8000u, 11025u, 44100u, 192000u})
                EXPECT_EQ(create(g_dsound, pcm(channels, rate, bits), 4000, &buffer), DS_OK);
}

TEST_F(SoundObject, DuplicatesShareSamplesButOwnTheirPlay)
{
    IDirectSoundBuffer8* original =
        make_buffer(g_dsound, pcm(1, 48000, 8), std::vector<uint8_t>(4800, 0xA0));
    original->Play(0, 0, DSBPLAY_LOOPING);
    render(10);
    IDirectSoundBuffer8* copy = nullptr;
    ASSERT_EQ(g_dsound->DuplicateSoundBuffer(original, &copy), DS_OK);
    EXPECT_EQ(position(copy), 0u);
    std::vector<uint8_t> loud(1, 0xC0);
    buffer_bytes(copy, &loud); // written through the copy
    EXPECT_EQ(buffer_bytes(original)[0], 0xC0);

    // The duplicate outlives the original and still plays its samples.
    copy->Play(0, 0, 0);
    EXPECT_EQ(original->Release(), 0u);
    std::vector<float> out = render(100);
    EXPECT_FLOAT_EQ(out[0], 0.5f);
    EXPECT_FLOAT_EQ(out[100], 0.25f);
    EXPECT_EQ(copy->Release(), 0u);
    EXPECT_EQ(ds_buffers_alive(), 0);
}

TEST_F(SoundObject, AStopKeepsItsPlaceAndTheEndGoesBackToTheStart)
{
    IDirectSoundBuffer8* buffer =
        make_buffer(g_dsound, pcm(2, 48000, 16), std::vector<uint8_t>(400)); // 100 frames
    buffer->Play(0, 0, 0);
    render(30);
    buffer->Stop();
    render(30);
    EXPECT_EQ(position(buffer), 30u * 4);
    buffer->Play(0, 0, 0);
    render(70);
    EXPECT_EQ(ds_buffers_playing(), 0);
    EXPECT_EQ(position(buffer), 0u);
}

TEST_F(SoundObject, OneObjectAtATimeAndItsReleaseTakesEverything)
{
    IDirectSound8* second = nullptr;
    EXPECT_EQ(DirectSoundCreate8(&DSDEVID_NullOutput, &second, nullptr), DSERR_ALLOCATED);
    EXPECT_EQ(second, nullptr);
    IDirectSoundBuffer8* buffer =
        make_buffer(g_dsound, pcm(1, 8000, 8), std::vector<uint8_t>(8, 1));
    IDirectSoundBuffer8* copy = nullptr;
    g_dsound->DuplicateSoundBuffer(buffer, &copy);
    copy->Play(0, 0, DSBPLAY_LOOPING);
    g_dsound->Release();
    g_dsound = nullptr;
    EXPECT_EQ(ds_buffers_alive(), 0);
    EXPECT_EQ(ds_output_rate(), 0);
    for (float sample : render(16))
        EXPECT_EQ(sample, 0.0f);
    ASSERT_EQ(DirectSoundCreate8(&DSDEVID_NullOutput, &g_dsound, nullptr), DS_OK);
    EXPECT_EQ(ds_output_rate(), DS_NULL_OUTPUT_RATE);
}

TEST_F(SoundObject, VolumeAndPanFollowTheDecibelLaw)
{
    int slot = load(sine(4800, 1000.0f / 48000.0f, 0.5f));
    const float full = 0.5f / std::sqrt(2.0f);
    struct Case {
        int volume, pan;
        float left, right; // rms relative to the full level
    } cases[] = {
        {0, 0, 1, 1},         {0, -10000, 1, 0},         {0, 10000, 0, 1},
        {0, -600, 1, 0.501f}, {-600, 0, 0.501f, 0.501f}, {-2000, 0, 0.1f, 0.1f},
        {-10000, 0, 0, 0},
    };
    for (const Case& c : cases) {
        snd_play(slot, 0, c.volume, c.pan, 0);
        std::vector<float> out = render(2400);
        EXPECT_NEAR(rms(out, LEFT) / full, c.left, 0.005f) << c.volume << " " << c.pan;
        EXPECT_NEAR(rms(out, RIGHT) / full, c.right, 0.005f) << c.volume << " " << c.pan;
        for (int channel : {LEFT, RIGHT})
            EXPECT_TRUE((channel == LEFT ? c.left : c.right) > 0 || peak(out, channel) == 0)
                << "silent, not just quiet: " << c.volume << " " << c.pan;
        frames_until_silent();
    }
}

TEST_F(SoundObject, FrequencyResamplesSoLengthFollowsTheRate)
{
    int slot = load(std::vector<float>(4800, 0.25f), 24000); // 0.2 s at 24 kHz
    for (auto [frequency, frames] : {std::pair{0, 9600}, {48000, 4800}, {12000, 19200}}) {
        snd_play(slot, 0, 0, 0, uint32_t(frequency));
        EXPECT_NEAR(frames_until_silent(), frames, 2) << frequency;
    }
}

TEST_F(SoundObject, OverlappingDuplicatesSumAndTheSumIsClipped)
{
    int slot = load(sine(4800, 300.0f / 48000.0f, 0.2f));
    snd_play(slot, 0, 0, 0, 0);
    std::vector<float> one = render(4800);
    frames_until_silent();
    for (int i = 0; i < 3; ++i)
        snd_play(slot, 0, 0, 0, 0);
    std::vector<float> three = render(4800);
    for (size_t i = 0; i < one.size(); ++i)
        ASSERT_NEAR(three[i], 3.0f * one[i], 1e-5f) << "sample " << i;
    frames_until_silent();
    for (int i = 0; i < 6; ++i) // 6 x 0.2 would reach 1.2
        snd_play(slot, 0, 0, 0, 0);
    std::vector<float> loud = render(4800);
    EXPECT_EQ(peak(loud, LEFT), 1.0f);
    EXPECT_EQ(peak(loud, RIGHT), 1.0f);
}

TEST_F(SoundObject, ALoopWrapsWithoutAStep)
{
    // Ten cycles of a cosine at 44.1 kHz: a loop end that faded, skipped a
    // frame or did not interpolate would show as a step.
    const int frames = 480;
    int slot = load(sine(frames, 10.0f / frames, 0.5f, PI / 2.0f), 44100);
    snd_play(slot, DSBPLAY_LOOPING, 0, 0, 0);
    std::vector<float> out = render(48000);
    float largest_step = 0.0f;
    for (size_t i = 2; i < out.size(); i += 2)
        largest_step = std::fmax(largest_step, std::fabs(out[i] - out[i - 2]));
    // The steepest a 918.75 Hz tone of amplitude 0.5 moves between output frames.
    float slope = 2.0f * PI * (10.0f * 44100.0f / frames) / 48000.0f * 0.5f;
    EXPECT_LT(largest_step, slope * 1.02f);
    EXPECT_GT(peak(out, LEFT), 0.49f);
    EXPECT_EQ(ds_buffers_playing(), 1);
}

TEST_F(SoundObject, SampleFormatsDecodeAroundTheirOwnSilence)
{
    struct Case {
        WORD channels, bits;
        std::vector<uint8_t> frame;
        float left, right;
    } cases[] = {
        {1, 8, {0x80}, 0.0f, 0.0f},
        {1, 8, {0xC0}, 0.5f, 0.5f},
        {2, 8, {0x00, 0xFF}, -1.0f, 127.0f / 128.0f},
        {2, 16, pcm16({0.5f, -0.25f}), 0.5f, -0.25f},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> samples;
        for (int i = 0; i < 8; ++i)
            samples.insert(samples.end(), c.frame.begin(), c.frame.end());
        IDirectSoundBuffer8* buffer =
            make_buffer(g_dsound, pcm(c.channels, 48000, c.bits), samples);
        buffer->Play(0, 0, DSBPLAY_LOOPING);
        std::vector<float> out = render(4);
        EXPECT_NEAR(out[4], c.left, 1e-4f) << c.channels << "x" << c.bits;
        EXPECT_NEAR(out[5], c.right, 1e-4f) << c.channels << "x" << c.bits;
        buffer->Release();
    }
}

TEST_F(SoundObject, FinishedDuplicatesAreReleasedAndNothingGrows)
{
    int slot = load(std::vector<float>(480, 0.1f));
    snd_play(slot, 0, 0, 0, 0);
    render(240);
    EXPECT_EQ(ds_buffers_alive(), 2); // still playing
    render(480);
    EXPECT_EQ(ds_buffers_alive(), 1);
    // A long run of thunder: a few claps at a time, each heard to its end.
    for (int clap = 0; clap < 3000; ++clap) {
        snd_play(slot, 0, 0, (clap % 21 - 10) * 1000, 0);
        if (clap % 4 == 3)
            render(480);
        ASSERT_LE(ds_buffers_alive(), 1 + 4);
    }
    render(480);
    EXPECT_EQ(ds_buffers_alive(), 1);
}

} // namespace
