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

// The output stage: rides the gain of the summed mix so that it never
// reaches full scale. Its state is the level the mix has lately peaked at,
// so what it does to a sample depends only on the samples before it, never on
// how the stream was cut into blocks.
struct SndLimiter {
    float envelope; // the recent peak, 0 when the mix has been silent
    float release;  // the envelope's decay per frame
};

// Where the limiter starts to act (about -6 dBFS) and the level it never
// reaches (about -0.26 dBFS: a 16-bit conversion stays below 31800).
constexpr float SND_LIMIT_KNEE = 0.5f;
constexpr float SND_LIMIT_CEILING = 0.97f;

// A limiter that has heard nothing yet, for an output of `rate` frames a
// second: its gain recovers from a peak with a time constant of 0.2 s.
void snd_limiter_init(SndLimiter* limiter, int rate);

// Fills `out` with `frames` interleaved stereo frames: the sum of every
// playing channel through the limiter. A channel that is not looping stops at
// its end (playing = 0, position back to 0); a looping one wraps, and its
// last frame is interpolated towards its first, so the loop point is seamless.
void snd_mix(SndChannel* channels, int count, SndLimiter* limiter, float* out, int frames);

// Left and right gains of a volume and a pan: the channel away from the pan
// loses |pan| / 100 dB on top of the volume, the near one keeps the volume.
void snd_pan_gains(int32_t volume, int32_t pan, float* left, float* right);

// The 32.32 step that plays a buffer at `frequency` source frames a second on
// an output running at `output_rate` frames a second.
uint64_t snd_step(uint32_t frequency, uint32_t output_rate);
