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
    SndLimiter limiter;
    snd_limiter_init(&limiter, 48000);
    snd_mix(channels, count, &limiter, out.data(), frames);
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
        one.gain_left = 0.5f; // under the limiter's knee, which would bend full scale
        one.gain_right = 0.5f;
        std::vector<float> out = mix(&one, 1, 2);
        EXPECT_NEAR(out[2], c.left * 0.5f, 1e-4f) << c.channels << "x" << c.bits;
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

// What the limiter makes of a steady level well above its knee.
float limited(float level)
{
    constexpr float ROOM = SND_LIMIT_CEILING - SND_LIMIT_KNEE;
    return SND_LIMIT_KNEE + ROOM * std::tanh((level - SND_LIMIT_KNEE) / ROOM); // the real one
}

TEST(Mixer, ChannelsSumAndOnlyTheSumIsLimited)
{
    const std::vector<uint8_t> up = pcm16({0.1f, 0.9f}), down = pcm16({-0.9f});
    SndChannel three[3] = {channel(up), channel(up), channel(up)};
    std::vector<float> out = mix(three, 3, 2);
    EXPECT_NEAR(out[0], 0.3f, 1e-4f); // under the knee: untouched
    EXPECT_NEAR(out[2], limited(2.7f), 1e-4f);
    EXPECT_LT(out[2], SND_LIMIT_CEILING);
    // 0.9 + 0.9 - 0.9: limiting along the way would leave far less than 0.9.
    SndChannel against[3] = {channel(up), channel(up), channel(down)};
    against[0].position = against[1].position = ONE;
    EXPECT_NEAR(mix(against, 3, 1)[0], limited(0.9f), 1e-4f);
}

// A quiet tone with three full-scale bursts over it, 0.1 s at 0.5 s: the sum
// reaches 3. The limiter must hold it under full scale, leave the tone alone
// before the bursts, bring its level back smoothly after them, and do the
// same however the stream is cut into blocks.
TEST(Mixer, TheLimiterRidesBurstsUnderFullScaleAndRecoversSmoothly)
{
    std::vector<float> tone(48000), burst(4800);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.2f * std::sin(6.2831853f * 220.0f * float(i) / 48000.0f);
    for (size_t i = 0; i < burst.size(); ++i)
        burst[i] = (i / 40) % 2 ? 0.99f : -0.99f; // 600 Hz square
    const std::vector<uint8_t> tone_bytes = pcm16(tone), burst_bytes = pcm16(burst);
    auto channels = [&]() {
        std::vector<SndChannel> c = {channel(tone_bytes), channel(burst_bytes),
                                     channel(burst_bytes), channel(burst_bytes)};
        c[0].looping = 1;
        for (int i = 1; i < 4; ++i)
            c[i].playing = 0;
        return c;
    };
    // Played through one limiter, the bursts starting at frame 24000, in
    // blocks of `block` frames (0: one block each side of the start).
    auto play = [&](int block) {
        std::vector<SndChannel> c = channels();
        SndLimiter limiter;
        snd_limiter_init(&limiter, 48000);
        std::vector<float> out(2 * 96000);
        int at = 0;
        while (at < 96000) {
            if (at == 24000)
                for (int i = 1; i < 4; ++i)
                    c[size_t(i)].playing = 1;
            int end = block ? at + block : (at < 24000 ? 24000 : 96000);
            if (at < 24000 && end > 24000)
                end = 24000;
            end = end < 96000 ? end : 96000;
            snd_mix(c.data(), 4, &limiter, out.data() + 2 * at, end - at);
            at = end;
        }
        return out;
    };
    std::vector<float> out = play(0);
    // The tone as mixed alone: what the output is a gain of.
    std::vector<SndChannel> alone = channels();
    std::vector<float> bed(2 * 96000);
    SndLimiter unused;
    snd_limiter_init(&unused, 48000);
    snd_mix(alone.data(), 1, &unused, bed.data(), 96000);

    float peak = 0.0f;
    for (float v : out) {
        peak = std::fmax(peak, std::fabs(v));
        ASSERT_LT(std::lround(std::fabs(v) * 32767.0f), 32767);
    }
    EXPECT_GT(peak, 0.9f) << "the bursts are still loud";
    for (int i = 0; i < 24000; ++i)
        ASSERT_EQ(out[2 * size_t(i)], bed[2 * size_t(i)]) << i;
    // After the bursts the tone's gain climbs back without a jump, and is
    // whole again well within a second and a half.
    float previous = 0.0f, last = 0.0f, largest_jump = 0.0f;
    for (int i = 28801; i < 96000; ++i) {
        float in = bed[2 * size_t(i)];
        if (std::fabs(in) < 0.1f) { // the gain is only read well from loud samples
            previous = 0.0f;
            continue;
        }
        float gain = out[2 * size_t(i)] / in;
        if (previous > 0.0f)
            largest_jump = std::fmax(largest_jump, std::fabs(gain - previous));
        previous = last = gain;
        ASSERT_LE(gain, 1.0f + 1e-6f);
    }
    EXPECT_LT(largest_jump, 1e-4f); // from one frame to the next
    EXPECT_NEAR(last, 1.0f, 1e-3f);
    // Cut into other blocks, the stream comes out the same, bit for bit.
    for (int block : {1, 7, 1024, 4801})
        EXPECT_EQ(play(block), out) << "blocks of " << block;
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
