// The mixer judged by what it renders: buffers are played through the sound
// object on the null output and the stereo blocks it produces are measured.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "snd/dsound.h"
#include "snd/mixer.h"
#include "snd/sound.h"
#include "snd/wav_bytes.h"

namespace
{

constexpr float PI = 3.14159265358979f;

struct Stereo {
    std::vector<float> left, right;
};

float peak(const std::vector<float>& v)
{
    float m = 0.0f;
    for (float x : v)
        m = std::fmax(m, std::fabs(x));
    return m;
}

float rms(const std::vector<float>& v)
{
    double sum = 0.0;
    for (float x : v)
        sum += double(x) * x;
    return v.empty() ? 0.0f : float(std::sqrt(sum / double(v.size())));
}

std::vector<float> sine(int frames, float cycles_per_frame, float amplitude, float phase = 0.0f)
{
    std::vector<float> out(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        out[size_t(i)] = amplitude * std::sin(2.0f * PI * cycles_per_frame * float(i) + phase);
    return out;
}

class Mixing : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_EQ(snd_init_null_output(), 1); }
    void TearDown() override { snd_deinit(); }

    IDirectSoundBuffer8* make_buffer(const WavFields& fields, const std::vector<uint8_t>& samples)
    {
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = fields.channels;
        format.nSamplesPerSec = fields.rate;
        format.wBitsPerSample = fields.bits;
        format.nBlockAlign = WORD(fields.channels * fields.bits / 8);
        format.nAvgBytesPerSec = fields.rate * format.nBlockAlign;
        DSBUFFERDESC description{};
        description.dwSize = DSBUFFERDESC_SIZE;
        description.dwFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY;
        description.dwBufferBytes = DWORD(samples.size());
        description.lpwfxFormat = &format;
        IDirectSoundBuffer8* buffer = nullptr;
        EXPECT_EQ(g_dsound->CreateSoundBuffer(&description, &buffer, nullptr), DS_OK);
        if (!buffer)
            return nullptr;
        void* bytes = nullptr;
        DWORD length = 0;
        EXPECT_EQ(buffer->Lock(0, 0, &bytes, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER),
                  DS_OK);
        std::memcpy(bytes, samples.data(), length);
        buffer->Unlock(bytes, length, nullptr, 0);
        return buffer;
    }

    // A mono 16-bit sound in slot `slot` of the table, as snd_load leaves it.
    int load_slot(int slot, const std::vector<float>& values, uint32_t rate = 48000)
    {
        WavFields fields;
        fields.rate = rate;
        g_sounds[slot].buffer = make_buffer(fields, pcm16(values));
        std::strcpy(g_sounds[slot].name, "test");
        return slot;
    }

    Stereo render(int frames)
    {
        std::vector<float> block(static_cast<size_t>(frames) * 2);
        ds_render(block.data(), frames);
        Stereo out;
        for (int i = 0; i < frames; ++i) {
            out.left.push_back(block[size_t(2 * i)]);
            out.right.push_back(block[size_t(2 * i + 1)]);
        }
        return out;
    }

    // Frames rendered until nothing plays any more.
    int frames_until_silent(int limit)
    {
        int frames = 0;
        while (ds_buffers_playing() > 0 && frames < limit) {
            render(1);
            ++frames;
        }
        return frames;
    }
};

TEST_F(Mixing, PanMovesTheSoundBetweenTheChannelsByTheDecibelLaw)
{
    int slot = load_slot(2047, sine(4800, 1000.0f / 48000.0f, 0.5f));

    snd_play(slot, 0, 0, -10000, 0);
    Stereo hard_left = render(2400);
    EXPECT_NEAR(peak(hard_left.left), 0.5f, 0.005f);
    EXPECT_EQ(peak(hard_left.right), 0.0f);
    frames_until_silent(10000);

    snd_play(slot, 0, 0, 10000, 0);
    Stereo hard_right = render(2400);
    EXPECT_EQ(peak(hard_right.left), 0.0f);
    EXPECT_NEAR(peak(hard_right.right), 0.5f, 0.005f);
    frames_until_silent(10000);

    // 6 dB to the left: the right channel at about half, the left untouched.
    snd_play(slot, 0, 0, -600, 0);
    Stereo slight = render(2400);
    EXPECT_NEAR(rms(slight.left), 0.5f / std::sqrt(2.0f), 0.005f);
    EXPECT_NEAR(rms(slight.right) / rms(slight.left), 0.501f, 0.005f);
}

TEST_F(Mixing, VolumeIsInHundredthsOfADecibel)
{
    int slot = load_slot(2047, sine(4800, 440.0f / 48000.0f, 0.8f));
    snd_play(slot, 0, 0, 0, 0);
    float full = rms(render(4000).left);
    frames_until_silent(10000);

    snd_play(slot, 0, -600, 0, 0);
    Stereo half = render(4000);
    EXPECT_NEAR(rms(half.left) / full, 0.501f, 0.005f);
    EXPECT_NEAR(rms(half.right) / full, 0.501f, 0.005f);
    frames_until_silent(10000);

    snd_play(slot, 0, -2000, 0, 0);
    EXPECT_NEAR(rms(render(4000).left) / full, 0.1f, 0.002f);
    frames_until_silent(10000);

    snd_play(slot, 0, -10000, 0, 0);
    EXPECT_EQ(peak(render(4000).left), 0.0f);
}

TEST_F(Mixing, FrequencyResamplesSoLengthFollowsTheRate)
{
    // 0.2 s recorded at 24 kHz, on a 48 kHz output.
    int slot = load_slot(2047, std::vector<float>(4800, 0.25f), 24000);

    snd_play(slot, 0, 0, 0, 0);
    EXPECT_NEAR(frames_until_silent(100000), 9600, 2);
    snd_play(slot, 0, 0, 0, 48000);
    EXPECT_NEAR(frames_until_silent(100000), 4800, 2);
    snd_play(slot, 0, 0, 0, 12000);
    EXPECT_NEAR(frames_until_silent(100000), 19200, 2);
}

TEST_F(Mixing, SlowPlaybackInterpolatesBetweenSamples)
{
    std::vector<float> ramp;
    for (int i = 0; i < 64; ++i)
        ramp.push_back(float(i) / 128.0f);
    int slot = load_slot(2047, ramp, 24000);
    snd_play(slot, 0, 0, 0, 0);
    Stereo out = render(100);
    for (int k = 0; k < 50; ++k) {
        EXPECT_NEAR(out.left[size_t(2 * k)], float(k) / 128.0f, 1e-4f);
        EXPECT_NEAR(out.left[size_t(2 * k + 1)], (float(k) + 0.5f) / 128.0f, 1e-4f);
    }
}

TEST_F(Mixing, OverlappingDuplicatesSumAndTheSumIsClipped)
{
    int slot = load_slot(2047, sine(4800, 300.0f / 48000.0f, 0.2f));
    snd_play(slot, 0, 0, 0, 0);
    Stereo one = render(4800);
    frames_until_silent(10000);

    for (int i = 0; i < 3; ++i)
        snd_play(slot, 0, 0, 0, 0);
    EXPECT_EQ(ds_buffers_playing(), 3);
    Stereo three = render(4800);
    for (size_t i = 0; i < one.left.size(); ++i) {
        ASSERT_NEAR(three.left[i], 3.0f * one.left[i], 1e-5f) << "frame " << i;
        ASSERT_NEAR(three.right[i], 3.0f * one.right[i], 1e-5f) << "frame " << i;
    }
    frames_until_silent(10000);

    // Six at 0.2 would reach 1.2: the output stops at full scale.
    for (int i = 0; i < 6; ++i)
        snd_play(slot, 0, 0, 0, 0);
    Stereo loud = render(4800);
    EXPECT_EQ(peak(loud.left), 1.0f);
    EXPECT_EQ(peak(loud.right), 1.0f);
}

TEST_F(Mixing, ALoopWrapsWithoutAStep)
{
    // Exactly ten cycles of a cosine: the first frame is the peak, so an end
    // that faded to silence or skipped a frame would show as a jump.
    const int frames = 480;
    int slot = load_slot(2047, sine(frames, 10.0f / frames, 0.5f, PI / 2.0f), 44100);
    snd_play(slot, DSBPLAY_LOOPING, 0, 0, 0);
    Stereo out = render(48000);

    float largest_step = 0.0f;
    for (size_t i = 1; i < out.left.size(); ++i)
        largest_step = std::fmax(largest_step, std::fabs(out.left[i] - out.left[i - 1]));
    // The steepest a 918.75 Hz tone of amplitude 0.5 moves between output frames.
    float slope = 2.0f * PI * (10.0f * 44100.0f / frames) / 48000.0f * 0.5f;
    EXPECT_LT(largest_step, slope * 1.02f);
    EXPECT_GT(peak(out.left), 0.49f);

    DWORD status = 0;
    g_sounds[slot].buffer->GetStatus(&status);
    EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
}

TEST_F(Mixing, SampleFormatsDecodeAroundTheirOwnSilence)
{
    WavFields mono8;
    mono8.bits = 8;
    IDirectSoundBuffer8* quiet = make_buffer(mono8, std::vector<uint8_t>(200, 0x80));
    quiet->Play(0, 0, 0);
    EXPECT_EQ(peak(render(100).left), 0.0f);
    quiet->Stop();

    IDirectSoundBuffer8* high = make_buffer(mono8, std::vector<uint8_t>(200, 0xC0));
    high->Play(0, 0, 0);
    Stereo out = render(100);
    EXPECT_FLOAT_EQ(out.left[50], 0.5f);
    EXPECT_FLOAT_EQ(out.right[50], 0.5f);
    high->Stop();

    // Stereo keeps its channels; a pan only scales them.
    WavFields stereo16;
    stereo16.channels = 2;
    std::vector<float> frames;
    for (int i = 0; i < 200; ++i) {
        frames.push_back(0.5f);
        frames.push_back(-0.25f);
    }
    IDirectSoundBuffer8* wide = make_buffer(stereo16, pcm16(frames));
    wide->Play(0, 0, 0);
    out = render(100);
    EXPECT_NEAR(out.left[50], 0.5f, 1e-4f);
    EXPECT_NEAR(out.right[50], -0.25f, 1e-4f);
    wide->SetPan(-10000);
    out = render(50);
    EXPECT_NEAR(out.left[25], 0.5f, 1e-4f);
    EXPECT_EQ(out.right[25], 0.0f);
    wide->Stop();

    WavFields stereo8;
    stereo8.channels = 2;
    stereo8.bits = 8;
    IDirectSoundBuffer8* split =
        make_buffer(stereo8, std::vector<uint8_t>{0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF});
    split->Play(0, 0, 0);
    out = render(1);
    EXPECT_FLOAT_EQ(out.left[0], -1.0f);
    EXPECT_NEAR(out.right[0], 127.0f / 128.0f, 1e-6f);
}

TEST_F(Mixing, FinishedDuplicatesAreReleasedAndNothingGrows)
{
    int slot = load_slot(2047, std::vector<float>(480, 0.1f));
    ASSERT_EQ(ds_buffers_alive(), 1);
    snd_play(slot, 0, 0, 0, 0);
    EXPECT_EQ(ds_buffers_alive(), 2);
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

// snd_mix on its own: channels it cannot read are stopped, never read.
TEST(SoundMixer, ChannelsItCannotReadAreStoppedNotRead)
{
    uint8_t bytes[4] = {0x80, 0x80, 0x80, 0x80};
    SndChannel channels[3]{};
    channels[0] = SndChannel{bytes, 0, 1, 8, 0, 1ull << 32, 1, 1, 1, 0};          // no frames
    channels[1] = SndChannel{bytes, 4, 1, 12, 0, 1ull << 32, 1, 1, 1, 0};         // 12-bit
    channels[2] = SndChannel{bytes, 4, 1, 8, 9ull << 32, 1ull << 32, 1, 1, 1, 1}; // past the end
    float out[8];
    snd_mix(channels, 3, out, 4);
    for (float sample : out)
        EXPECT_EQ(sample, 0.0f);
    for (const SndChannel& channel : channels)
        EXPECT_EQ(channel.playing, 0);
}

} // namespace
