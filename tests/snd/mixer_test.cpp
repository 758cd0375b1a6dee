// The mixer fed by hand: channels built from known samples, gains, steps and
// loop flags, judged by the stereo block it renders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "snd/mixer.h"
#include "snd/snd_test_util.h"

namespace
{

constexpr uint64_t ONE = uint64_t(1) << 32;
constexpr float PI = 3.14159265358979f;
enum { LEFT, RIGHT };

// A playing channel over `bytes`, which the caller keeps alive.
SndChannel channel(const std::vector<uint8_t>& bytes, uint16_t channels = 1, uint16_t bits = 16,
                   uint64_t step = ONE, bool looping = false)
{
    SndChannel c{};
    c.samples = bytes.data();
    c.frames = uint32_t(bytes.size() / (channels * bits / 8));
    c.channels = channels;
    c.bits = bits;
    c.step = step;
    c.gain_left = c.gain_right = 1.0f;
    c.playing = 1;
    c.looping = looping ? 1 : 0;
    return c;
}

// `frames` stereo frames of the mix, over a block full of garbage: whatever
// the mixer does not write must not survive.
std::vector<float> mix(SndChannel* channels, int count, int frames)
{
    std::vector<float> out(size_t(frames) * 2, 7.0f);
    snd_mix(channels, count, out.data(), frames);
    return out;
}

float peak(const std::vector<float>& v, int side)
{
    float m = 0.0f;
    for (size_t i = size_t(side); i < v.size(); i += 2)
        m = std::fmax(m, std::fabs(v[i]));
    return m;
}

std::vector<float> sine(int frames, float cycles_per_frame, float amplitude, float phase = 0.0f)
{
    std::vector<float> out(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        out[size_t(i)] = amplitude * std::sin(2.0f * PI * cycles_per_frame * float(i) + phase);
    return out;
}

TEST(Mixer, VolumeAndPanFollowTheDecibelLaw)
{
    struct Case {
        int32_t volume, pan;
        float left, right;
    } cases[] = {
        {0, 0, 1, 1},
        {0, -10000, 1, 0},
        {0, 10000, 0, 1},
        {0, -600, 1, 0.501f},
        {-600, 0, 0.501f, 0.501f},
        {-2000, 0, 0.1f, 0.1f},
        {-600, 600, 0.251f, 0.501f},
        {-10000, 0, 0, 0},
        {INT32_MIN, INT32_MAX, 0, 0},
        {0, INT32_MIN, 1, 0},
    };
    for (const Case& c : cases) {
        float left = -1.0f, right = -1.0f;
        snd_pan_gains(c.volume, c.pan, &left, &right);
        EXPECT_NEAR(left, c.left, 0.001f) << c.volume << " " << c.pan;
        EXPECT_NEAR(right, c.right, 0.001f) << c.volume << " " << c.pan;
        // Silent means silent, not merely quiet.
        EXPECT_TRUE(c.left > 0 || left == 0.0f) << c.volume << " " << c.pan;
        EXPECT_TRUE(c.right > 0 || right == 0.0f) << c.volume << " " << c.pan;
    }
}

TEST(Mixer, SampleFormatsDecodeAroundTheirOwnSilenceAndTakeTheGains)
{
    struct Case {
        uint16_t channels, bits;
        std::vector<uint8_t> frame;
        float left, right;
    } cases[] = {
        {1, 8, {0x80}, 0.0f, 0.0f},
        {1, 8, {0xC0}, 0.5f, 0.5f},
        {2, 8, {0x00, 0xFF}, -1.0f, 127.0f / 128.0f},
        {1, 16, {0x00, 0xC0}, -0.5f, -0.5f},
        {2, 16, pcm16({0.5f, -0.25f}), 0.5f, -0.25f},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> samples;
        for (int i = 0; i < 8; ++i)
            samples.insert(samples.end(), c.frame.begin(), c.frame.end());
        SndChannel one = channel(samples, c.channels, c.bits);
        one.gain_right = 0.5f;
        std::vector<float> out = mix(&one, 1, 4);
        EXPECT_NEAR(out[4], c.left, 1e-4f) << c.channels << "x" << c.bits;
        EXPECT_NEAR(out[5], c.right * 0.5f, 1e-4f) << c.channels << "x" << c.bits;
    }
}

TEST(Mixer, TheStepResamplesAndAOneShotEndsRewound)
{
    const std::vector<uint8_t> samples = pcm16(std::vector<float>(4800, 0.25f));
    struct Case {
        uint32_t frequency;
        int frames;
    } cases[] = {{48000, 4800}, {24000, 9600}, {12000, 19200}, {96000, 2400}, {44100, 5225}};
    for (const Case& c : cases) {
        SndChannel one = channel(samples, 1, 16, snd_step(c.frequency, 48000));
        std::vector<float> out = mix(&one, 1, 20000);
        int heard = 0;
        for (size_t i = 0; i < out.size(); i += 2)
            heard += out[i] != 0.0f;
        EXPECT_EQ(heard, c.frames) << c.frequency;
        EXPECT_EQ(out.back(), 0.0f) << c.frequency;
        EXPECT_EQ(one.playing, 0) << c.frequency;
        EXPECT_EQ(one.position, 0u) << c.frequency;
    }

    // Blocks of any size render the same samples as one long block.
    SndChannel whole = channel(samples, 1, 16, snd_step(44100, 48000));
    SndChannel pieces = whole;
    std::vector<float> expected = mix(&whole, 1, 6000);
    for (int at = 0; at < 6000; at += 333) {
        int frames = std::min(333, 6000 - at);
        std::vector<float> block = mix(&pieces, 1, frames);
        for (int i = 0; i < 2 * frames; ++i)
            ASSERT_EQ(block[size_t(i)], expected[size_t(2 * at + i)]) << "frame " << at + i / 2;
    }

    // Played again it starts over.
    pieces.playing = 1;
    EXPECT_NEAR(mix(&pieces, 1, 1)[0], 0.25f, 1e-4f);
}

TEST(Mixer, ALoopWrapsWithoutAStepAndAOneShotFadesIntoItsEnd)
{
    // Ten cycles of a cosine at 44.1 kHz: a loop end that faded, skipped a
    // frame or did not interpolate would show as a step.
    const int frames = 480;
    std::vector<uint8_t> cosine = pcm16(sine(frames, 10.0f / frames, 0.5f, PI / 2.0f));
    SndChannel loop = channel(cosine, 1, 16, snd_step(44100, 48000), true);
    std::vector<float> out = mix(&loop, 1, 48000);
    float largest_step = 0.0f;
    for (size_t i = 2; i < out.size(); i += 2)
        largest_step = std::fmax(largest_step, std::fabs(out[i] - out[i - 2]));
    // The steepest a 918.75 Hz tone of amplitude 0.5 moves between output frames.
    float slope = 2.0f * PI * (10.0f * 44100.0f / frames) / 48000.0f * 0.5f;
    EXPECT_LT(largest_step, slope * 1.02f);
    EXPECT_GT(peak(out, LEFT), 0.49f);
    EXPECT_EQ(loop.playing, 1);

    // At half speed the last output frame lies halfway between the last
    // sample and the silence after it.
    std::vector<uint8_t> level = pcm16({0.5f, 0.5f});
    SndChannel once = channel(level, 1, 16, ONE / 2);
    out = mix(&once, 1, 5);
    EXPECT_NEAR(out[4], 0.5f, 1e-4f);
    EXPECT_NEAR(out[6], 0.25f, 1e-4f);
    EXPECT_EQ(out[8], 0.0f);
}

TEST(Mixer, ChannelsSumAndOnlyTheSumIsClipped)
{
    const std::vector<uint8_t> tone = pcm16(sine(4800, 300.0f / 48000.0f, 0.2f));
    SndChannel one = channel(tone);
    std::vector<float> single = mix(&one, 1, 4800);
    SndChannel three[3] = {channel(tone), channel(tone), channel(tone)};
    std::vector<float> sum = mix(three, 3, 4800);
    for (size_t i = 0; i < sum.size(); ++i)
        ASSERT_NEAR(sum[i], 3.0f * single[i], 1e-5f) << "sample " << i;

    SndChannel six[6] = {channel(tone), channel(tone), channel(tone),
                         channel(tone), channel(tone), channel(tone)};
    std::vector<float> loud = mix(six, 6, 4800);
    EXPECT_EQ(peak(loud, LEFT), 1.0f);
    EXPECT_EQ(peak(loud, RIGHT), 1.0f);

    // 0.9 + 0.9 - 0.9: clipping along the way would leave 0.1.
    const std::vector<uint8_t> up = pcm16({0.9f, 0.9f}), down = pcm16({-0.9f, -0.9f});
    SndChannel against[3] = {channel(up), channel(up), channel(down)};
    EXPECT_NEAR(mix(against, 3, 1)[0], 0.9f, 1e-4f);
}

TEST(Mixer, WhatCannotBePlayedIsStoppedNotRead)
{
    const std::vector<uint8_t> bytes(64, 0x40);
    SndChannel bad[5] = {channel(bytes), channel(bytes, 1, 24), channel(bytes, 3, 16),
                         channel(bytes), channel(bytes)};
    bad[0].samples = nullptr;
    bad[3].frames = 0;
    bad[4].position = uint64_t(bad[4].frames) << 32; // at the end already
    SndChannel idle = channel(bytes);
    idle.playing = 0;
    idle.position = 5 * ONE;
    std::vector<float> out = mix(bad, 5, 16);
    for (float sample : out)
        ASSERT_EQ(sample, 0.0f);
    for (const SndChannel& c : bad)
        EXPECT_EQ(c.playing, 0);
    mix(&idle, 1, 16);
    EXPECT_EQ(idle.position, 5 * ONE); // a stopped channel keeps its place
}

} // namespace
