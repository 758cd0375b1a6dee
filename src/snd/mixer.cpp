// The software mixer. Owns nothing: every call reads the channels it is given,
// advances their positions and writes the output block, so the same input
// always renders the same samples.
//
// Each output frame of a channel is the source interpolated linearly between
// the frame under the play position and the next one. For a looping channel
// the frame after the last is the first, so a buffer that was recorded to
// loop wraps without a step; for a one-shot channel it is silence, so the
// sound fades into its end over one frame instead of cutting off. Samples are
// decoded to -1..1 (8-bit unsigned around 128, 16-bit signed), scaled by the
// channel's gains and summed; only the final sum is limited.
//
// The limiter rides the gain instead of clipping: a crack of thunder over the
// rain, or several rumbles at once, would otherwise be cut flat at full scale
// and crackle. The envelope jumps to each new peak of the sum (so no sample
// ever gets through above the ceiling) and decays back with a time
// constant of a fifth of a second; the gain maps the envelope through a soft knee, the identity
// below SND_LIMIT_KNEE and bending smoothly towards SND_LIMIT_CEILING above it. A mix that stays
// under the knee passes bit for bit.
#include "snd/mixer.h"

#include <cmath>
#include <cstring>

#include "base/trig.h"

namespace
{

template <int CHANNELS, int BITS> struct FrameReader {
    static void read(const uint8_t* samples, uint32_t frame, float* left, float* right)
    {
        const uint8_t* p = samples + size_t(frame) * CHANNELS * (BITS / 8);
        if constexpr (BITS == 8) {
            *left = (float(p[0]) - 128.0f) * (1.0f / 128.0f);
            *right = CHANNELS == 2 ? (float(p[1]) - 128.0f) * (1.0f / 128.0f) : *left;
        } else {
            *left = float(int16_t(uint16_t(p[0] | p[1] << 8))) * (1.0f / 32768.0f);
            *right = CHANNELS == 2 ? float(int16_t(uint16_t(p[2] | p[3] << 8))) * (1.0f / 32768.0f)
                                   : *left;
        }
    }
};

constexpr uint64_t ONE = uint64_t(1) << 32;
constexpr float FRACTION_SCALE = 1.0f / 4294967296.0f;

template <int CHANNELS, int BITS> void mix_channel(SndChannel* channel, float* out, int frames)
{
    using Reader = FrameReader<CHANNELS, BITS>;
    const uint32_t length = channel->frames;
    const uint64_t end = uint64_t(length) << 32;
    uint64_t position = channel->position;
    const uint64_t step = channel->step;
    const float gain_left = channel->gain_left;
    const float gain_right = channel->gain_right;

    for (int i = 0; i < frames; ++i) {
        uint32_t frame = uint32_t(position >> 32);
        float fraction = float(uint32_t(position)) * FRACTION_SCALE;
        float l0, r0, l1 = 0.0f, r1 = 0.0f;
        Reader::read(channel->samples, frame, &l0, &r0);
        if (frame + 1 < length)
            Reader::read(channel->samples, frame + 1, &l1, &r1);
        else if (channel->looping)
            Reader::read(channel->samples, 0, &l1, &r1);
        out[2 * i] += (l0 + (l1 - l0) * fraction) * gain_left;
        out[2 * i + 1] += (r0 + (r1 - r0) * fraction) * gain_right;

        position += step;
        if (position >= end) {
            if (!channel->looping) {
                // A finished buffer rewinds, so a later Play starts over.
                channel->playing = 0;
                position = 0;
                break;
            }
            position %= end;
        }
    }
    channel->position = position;
}

typedef void (*MixFunction)(SndChannel*, float*, int);

// Indexed by (channels - 1) * 2 + (bits == 16).
constexpr MixFunction MIX_FUNCTIONS[4] = {
    mix_channel<1, 8>,
    mix_channel<1, 16>,
    mix_channel<2, 8>,
    mix_channel<2, 16>,
};

bool channel_is_playable(const SndChannel& channel)
{
    return channel.playing && channel.samples && channel.frames > 0 &&
           (channel.channels == 1 || channel.channels == 2) &&
           (channel.bits == 8 || channel.bits == 16) &&
           channel.position < (uint64_t(channel.frames) << 32);
}

} // namespace

// The level an envelope of `peak` is brought down to: itself up to the knee,
// then a tanh curve with the same slope there that never reaches the ceiling
// (our own tanh: the browser's C library and the desktop's differ in its
// last bit, and the sound of a replay should not).
static float limited_level(float peak)
{
    constexpr float ROOM = SND_LIMIT_CEILING - SND_LIMIT_KNEE;
    if (peak <= SND_LIMIT_KNEE)
        return peak;
    return SND_LIMIT_KNEE + ROOM * trig_tanh((peak - SND_LIMIT_KNEE) / ROOM);
}

static void limit(SndLimiter* limiter, float* out, int frames)
{
    float envelope = limiter->envelope;
    const float release = limiter->release;
    for (int i = 0; i < frames; ++i) {
        float peak = std::fmax(std::fabs(out[2 * i]), std::fabs(out[2 * i + 1]));
        // Up at once, down slowly: the decay keeps the gain from following
        // the waveform itself, which would distort it.
        envelope = peak > envelope ? peak : peak + (envelope - peak) * release;
        if (envelope > SND_LIMIT_KNEE) {
            float gain = limited_level(envelope) / envelope;
            out[2 * i] *= gain;
            out[2 * i + 1] *= gain;
        }
    }
    limiter->envelope = envelope;
}

void snd_limiter_init(SndLimiter* limiter, int rate)
{
    limiter->envelope = 0.0f;
    limiter->release = rate > 0 ? std::exp(-1.0f / (0.2f * float(rate))) : 0.0f;
}

void snd_mix(SndChannel* channels, int count, SndLimiter* limiter, float* out, int frames)
{
    if (frames <= 0)
        return;
    std::memset(out, 0, sizeof(float) * 2 * size_t(frames));
    for (int c = 0; c < count; ++c) {
        SndChannel& channel = channels[c];
        if (!channel.playing)
            continue;
        if (!channel_is_playable(channel)) {
            // Nothing sensible to play: stop rather than read out of bounds.
            channel.playing = 0;
            channel.position = 0;
            continue;
        }
        MIX_FUNCTIONS[(channel.channels - 1) * 2 + (channel.bits == 16)](&channel, out, frames);
    }
    limit(limiter, out, frames);
}

// Linear amplitude of a level in hundredths of a decibel: 10^(mB / 2000),
// 1 at 0 and exactly 0 at -10000 or below.
static float snd_gain(int32_t millibels)
{
    if (millibels <= -10000)
        return 0.0f;
    if (millibels >= 0)
        return 1.0f;
    return std::pow(10.0f, float(millibels) / 2000.0f);
}

void snd_pan_gains(int32_t volume, int32_t pan, float* left, float* right)
{
    // 64-bit sums: callers may pass the extremes of both ranges.
    int64_t left_mb = int64_t(volume) - (pan > 0 ? pan : 0);
    int64_t right_mb = int64_t(volume) - (pan < 0 ? -int64_t(pan) : 0);
    *left = left_mb <= -10000 ? 0.0f : snd_gain(int32_t(left_mb));
    *right = right_mb <= -10000 ? 0.0f : snd_gain(int32_t(right_mb));
}

uint64_t snd_step(uint32_t frequency, uint32_t output_rate)
{
    if (output_rate == 0)
        return ONE;
    return (uint64_t(frequency) << 32) / output_rate;
}
