// The DirectSound stand-in on the null output: what it accepts, what
// duplicates share, and that plays reach the mixer with their settings.
#include <gtest/gtest.h>

#include <vector>

#include "snd/dsound.h"
#include "snd/snd_test_util.h"
#include "snd/sound.h"

namespace
{

class SoundObject : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_EQ(snd_init_null_output(), 1); }
    void TearDown() override { snd_deinit(); }

    // A mono 16-bit sound in the top slot, as snd_load leaves it.
    int load(const std::vector<float>& values, DWORD rate = 48000)
    {
        g_sounds[2047].buffer = make_buffer(g_dsound, pcm(1, rate, 16), pcm16(values));
        return 2047;
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
    // A lock never reaches past the buffer's end.
    void* bytes = nullptr;
    DWORD length = 0;
    EXPECT_LT(buffer->Lock(1000, 3001, &bytes, &length, nullptr, nullptr, 0), 0);
}

TEST_F(SoundObject, DuplicatesShareSamplesButOwnTheirPlay)
{
    IDirectSoundBuffer8* original =
        make_buffer(g_dsound, pcm(1, 48000, 8), std::vector<uint8_t>(4800, 0xA0));
    original->Play(0, 0, DSBPLAY_LOOPING);
    render(10);
    IDirectSoundBuffer8* copy = nullptr;
    ASSERT_EQ(g_dsound->DuplicateSoundBuffer(original, &copy), DS_OK);
    std::vector<uint8_t> loud(1, 0xC0);
    buffer_bytes(copy, &loud); // written through the copy
    EXPECT_EQ(buffer_bytes(original)[0], 0xC0);

    // The duplicate plays from the start, outlives the original and still
    // plays its samples.
    copy->Play(0, 0, 0);
    EXPECT_EQ(original->Release(), 0u);
    std::vector<float> out = render(100);
    EXPECT_FLOAT_EQ(out[0], 0.5f);
    EXPECT_FLOAT_EQ(out[100], 0.25f);
    EXPECT_EQ(copy->Release(), 0u);
    EXPECT_EQ(ds_buffers_alive(), 0);
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

TEST_F(SoundObject, PlaysReachTheMixWithTheirVolumePanAndFrequency)
{
    int slot =
        load(std::vector<float>(480, 0.25f), 24000); // the sum stays under the limiter's knee
    // Left loses the volume and the pan's 600 away from it; right only the
    // volume. At the recording's own 24 kHz it lasts 960 output frames.
    snd_play(slot, 0, -600, 600, 0);
    snd_play(slot, 0, 0, -10000, 12000); // left only, 1920 frames
    std::vector<float> out = render(2000);
    EXPECT_NEAR(out[20], 0.25f * 0.251f + 0.25f, 0.001f);
    EXPECT_NEAR(out[21], 0.25f * 0.501f, 0.001f);
    EXPECT_NE(out[2 * 959 + 1], 0.0f);
    EXPECT_EQ(out[2 * 960 + 1], 0.0f);
    EXPECT_NE(out[2 * 1919], 0.0f);
    EXPECT_EQ(out[2 * 1920], 0.0f);
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
