// The software mixer: a pure function from channel states to stereo float
// samples. No device, no thread, no clock; the caller owns the channels and
// decides when to mix, so tests feed it known input and read back what it
// rendered.
#pragma once
#include <cstdint>

// One source as the mixer sees it. Positions and steps are in frames of the
// source, 32.32 fixed point, so a step of 1 << 32 plays the samples at the
// output rate.
struct SndChannel {
    const uint8_t* samples; // PCM frames; 8-bit unsigned or 16-bit signed little-endian
    uint32_t frames;        // whole frames in `samples`
    uint16_t channels;      // 1 (mono) or 2 (left, right)
    uint16_t bits;          // 8 or 16
    uint64_t position;      // current play position
    uint64_t step;          // advance per output frame
    float gain_left;        // linear gains, 0..1
    float gain_right;
    uint8_t playing;
    uint8_t looping;
};

// Fills `out` with `frames` interleaved stereo frames: the sum of every
// playing channel, clipped to -1..1. A channel that is not looping stops at
// its end (playing = 0, position back to 0); a looping one wraps, and its
// last frame is interpolated towards its first, so the loop point is seamless.
void snd_mix(SndChannel* channels, int count, float* out, int frames);

// Left and right gains of a volume and a pan: the channel away from the pan
// loses |pan| / 100 dB on top of the volume, the near one keeps the volume.
void snd_pan_gains(int32_t volume, int32_t pan, float* left, float* right);

// The 32.32 step that plays a buffer at `frequency` source frames a second on
// an output running at `output_rate` frames a second.
uint64_t snd_step(uint32_t frequency, uint32_t output_rate);
