// The mixer fed by hand: channels built from known samples, gains, steps and
// loop flags, judged by the stereo block it renders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "snd/mixer.h"
#include "snd/snd_test_util.h"

namespace
{

constexpr uint64_t ONE = uint64_t(1) << 32;

// A playing channel over `bytes`, which the caller keeps alive.
SndChannel channel(const std::vector<uint8_t>& bytes, uint16_t channels = 1, uint16_t bits = 16,
                   uint64_t step = ONE)
{
    uint32_t frames = uint32_t(bytes.size() / (channels * bits / 8));
    return SndChannel{bytes.data(), frames, channels, bits, 0, step, 1.0f, 1.0f, 1, 0};
}

// `frames` stereo frames of the mix, written over garbage that must not survive.
std::vector<float> mix(SndChannel* channels, int count, int frames)
{
    std::vector<float> out(size_t(frames) * 2, 7.0f);
    snd_mix(channels, count, out.data(), frames);
    return out;
}

TEST(Mixer, VolumeAndPanFollowTheDecibelLaw)
{
    struct Case {
        int32_t volume, pan;
        float left, right; // 0 is exact: silent, not merely quiet
    } cases[] = {{0, 0, 1, 1},
                 {0, -10000, 1, 0},
                 {-600, 600, 0.251f, 0.501f},
                 {-10000, 0, 0, 0},
                 {INT32_MIN, INT32_MAX, 0, 0}, // no overflow on the way
                 {0, INT32_MIN, 1, 0}};
    for (const Case& c : cases) {
        float left = -1.0f, right = -1.0f;
        snd_pan_gains(c.volume, c.pan, &left, &right);
        EXPECT_NEAR(left, c.left, c.left > 0 ? 0.001f : 0.0f) << c.volume << " " << c.pan;
        EXPECT_NEAR(right, c.right, c.right > 0 ? 0.001f : 0.0f) << c.volume << " " << c.pan;
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
        {2, 8, {0x00, 0xFF}, -1.0f, 127.0f / 128.0f},
        {1, 16, {0x00, 0x80}, -1.0f, -1.0f},
        {2, 16, pcm16({0.5f, -0.25f}), 0.5f, -0.25f},
    };
    for (const Case& c : cases) {
        SndChannel one = channel(c.frame, c.channels, c.bits, 0); // holds its first frame
        one.gain_right = 0.5f;
        std::vector<float> out = mix(&one, 1, 2);
        EXPECT_NEAR(out[2], c.left, 1e-4f) << c.channels << "x" << c.bits;
        EXPECT_NEAR(out[3], c.right * 0.5f, 1e-4f) << c.channels << "x" << c.bits;
    }
}

TEST(Mixer, TheStepResamplesAndAOneShotFadesIntoItsEndAndRewinds)
{
    const std::vector<uint8_t> samples = pcm16(std::vector<float>(4800, 0.5f));
    const std::pair<uint32_t, int> cases[] = {
        {48000, 4800}, {24000, 9600}, {12000, 19200}, {96000, 2400}, {44100, 5225}};
    for (auto [frequency, frames] : cases) {
        SndChannel one = channel(samples, 1, 16, snd_step(frequency, 48000));
        std::vector<float> out = mix(&one, 1, 20000);
        int heard = 0;
        for (size_t i = 0; i < out.size(); i += 2)
            heard += out[i] != 0.0f;
        EXPECT_EQ(heard, frames) << frequency;
        EXPECT_EQ(one.playing, 0) << frequency;
        if (frequency == 24000) { // halfway between the last sample and the silence after it
            EXPECT_NEAR(out[2 * 9599], 0.25f, 1e-4f);
        }
        one.playing = 1; // played again, it starts over
        EXPECT_NEAR(mix(&one, 1, 1)[0], 0.5f, 1e-4f);
    }
}

TEST(Mixer, ALoopWrapsWithoutAStep)
{
    // Ten cycles of a cosine at 44.1 kHz: a loop end that faded, skipped a
    // frame or did not interpolate would show as a step.
    std::vector<float> cosine(480);
    for (size_t i = 0; i < cosine.size(); ++i)
        cosine[i] = 0.5f * std::cos(6.2831853f * 10.0f * float(i) / 480.0f);
    std::vector<uint8_t> samples = pcm16(cosine);
    SndChannel loop = channel(samples, 1, 16, snd_step(44100, 48000));
    loop.looping = 1;
    std::vector<float> out = mix(&loop, 1, 48000);
    float largest_step = 0.0f;
    for (size_t i = 2; i < out.size(); i += 2)
        largest_step = std::fmax(largest_step, std::fabs(out[i] - out[i - 2]));
    // The steepest a 918.75 Hz tone of amplitude 0.5 moves between output frames.
    EXPECT_LT(largest_step, 6.2831853f * 918.75f / 48000.0f * 0.5f * 1.02f);
    EXPECT_NEAR(out[0], 0.5f, 1e-3f); // and not simply silent
    EXPECT_EQ(loop.playing, 1);
}

TEST(Mixer, ChannelsSumAndOnlyTheSumIsClipped)
{
    const std::vector<uint8_t> up = pcm16({0.2f, 0.9f}), down = pcm16({-0.9f});
    SndChannel three[3] = {channel(up), channel(up), channel(up)};
    std::vector<float> out = mix(three, 3, 2);
    EXPECT_NEAR(out[0], 0.6f, 1e-4f);
    EXPECT_EQ(out[2], 1.0f); // 2.7
    // 0.9 + 0.9 - 0.9: clipping along the way would leave 0.1.
    SndChannel against[3] = {channel(up), channel(up), channel(down)};
    against[0].position = against[1].position = ONE;
    EXPECT_NEAR(mix(against, 3, 1)[0], 0.9f, 1e-4f);
}

TEST(Mixer, WhatCannotBePlayedIsStoppedNotRead)
{
    const std::vector<uint8_t> bytes(64, 0x40);
    SndChannel bad[4] = {channel(bytes), channel(bytes, 1, 24), channel(bytes, 3, 16),
                         channel(bytes)};
    bad[0].samples = nullptr;
    bad[3].position = uint64_t(bad[3].frames) << 32; // already at the end
    for (float sample : mix(bad, 4, 16))
        ASSERT_EQ(sample, 0.0f);
    for (const SndChannel& c : bad)
        EXPECT_EQ(c.playing, 0);
}

} // namespace
