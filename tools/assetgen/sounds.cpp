// The scene's sounds, synthesised from seeded noise: 16-bit PCM at 44100 Hz.
// The rain is a stereo loop that the program plays without end, so every
// part of it is made periodic over the loop's length (filters are run twice
// round the loop, drops that run past the end continue at the start, the
// gusts complete whole cycles). The thunder is mono, so the program's pan
// can place it towards the strike: a tearing crack, a boom and a long
// rolling rumble for the three close strikes, a short low roll for the
// distant one.

#include <algorithm>

#include "art.h"

static const double PI = 3.14159265358979323846;

// A second-order filter (the usual audio-cookbook forms), transposed direct
// form II, in double precision.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0, z1 = 0, z2 = 0;
    double run(double x)
    {
        double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

enum FilterKind { LOWPASS, HIGHPASS, BANDPASS };

static Biquad make_filter(FilterKind kind, double freq, double q)
{
    double w = 2 * PI * freq / SAMPLE_RATE, cw = std::cos(w), alpha = std::sin(w) / (2 * q);
    double a0 = 1 + alpha;
    Biquad f;
    switch (kind) {
    case LOWPASS:
        f.b0 = (1 - cw) / 2;
        f.b1 = 1 - cw;
        f.b2 = (1 - cw) / 2;
        break;
    case HIGHPASS:
        f.b0 = (1 + cw) / 2;
        f.b1 = -(1 + cw);
        f.b2 = (1 + cw) / 2;
        break;
    case BANDPASS:
        f.b0 = alpha;
        f.b1 = 0;
        f.b2 = -alpha;
        break;
    }
    f.b0 /= a0;
    f.b1 /= a0;
    f.b2 /= a0;
    f.a1 = -2 * cw / a0;
    f.a2 = (1 - alpha) / a0;
    return f;
}

static double white(Rng& rng)
{
    return rng.uniform() * 2 - 1;
}

// ---- rain -------------------------------------------------------------------------

Sound make_rain_sound()
{
    const int N = 8 * SAMPLE_RATE;
    Sound s;
    s.channels.assign(2, std::vector<float>(size_t(N), 0.0f));
    Rng rng(71);

    for (int ch = 0; ch < 2; ch++) {
        std::vector<float> noise(static_cast<size_t>(N));
        for (float& v : noise)
            v = float(white(rng));
        // Hiss of rain on leaves and grass, and the soft roar of the
        // downpour further off. Two rounds of the loop: the second starts
        // with the filter state the first ended with, so its end joins its
        // start.
        Biquad hp = make_filter(HIGHPASS, 500, 0.7), lp = make_filter(LOWPASS, 7000, 0.7);
        Biquad roar = make_filter(LOWPASS, 350, 0.6), roar2 = make_filter(LOWPASS, 350, 0.6);
        double phase = ch * 1.7;
        for (int pass = 0; pass < 2; pass++) {
            for (int n = 0; n < N; n++) {
                double x = noise[size_t(n)];
                double hiss = lp.run(hp.run(x));
                double low = roar2.run(roar.run(x));
                double t = double(n) / N;
                double gust = 1 + 0.16 * std::sin(2 * PI * t + phase) +
                              0.07 * std::sin(2 * PI * 3 * t + 2 * phase);
                if (pass == 1)
                    s.channels[size_t(ch)][size_t(n)] = float((0.20 * hiss + 0.9 * low) * gust);
            }
        }
    }

    // Drops: tiny ringing ticks, most faint, a few close and loud; some low
    // plops from drops into puddles. Each is placed somewhere in the stereo
    // field and wraps round the loop's end.
    const int DROPS = 8 * 1900;
    for (int i = 0; i < DROPS; i++) {
        int start = rng.below(N);
        bool plop = rng.uniform() < 0.08;
        double freq = plop ? rng.range(500, 1100) : rng.range(1800, 6500);
        double tau = plop ? rng.range(0.006, 0.015) : rng.range(0.0012, 0.005);
        double amp = 0.015 + 0.22 * std::pow(rng.uniform(), 7.0);
        if (plop)
            amp *= 1.5;
        double pan = rng.uniform();
        double gain[2] = {std::sqrt(1 - pan) * amp, std::sqrt(pan) * amp};
        int length = int(6 * tau * SAMPLE_RATE);
        double w = 2 * PI * freq / SAMPLE_RATE, decay = std::exp(-1.0 / (tau * SAMPLE_RATE));
        // Damped sine by recursion: y[n] = 2 r cos(w) y[n-1] - r^2 y[n-2].
        double c = 2 * decay * std::cos(w), r2 = decay * decay;
        double y = 0, y_next = decay * std::sin(w);
        for (int k = 0; k < length; k++) {
            double value = y;
            double after = c * y_next - r2 * y;
            y = y_next;
            y_next = after;
            // A short click of noise at the impact.
            double click = k < 12 ? white(rng) * (1 - k / 12.0) * 0.6 : 0;
            size_t at = size_t((start + k) % N);
            s.channels[0][at] += float(gain[0] * (value + click));
            s.channels[1][at] += float(gain[1] * (value + click));
        }
    }

    // About -19 dBFS RMS: steady and quiet under the thunder.
    double sum = 0;
    for (auto& ch : s.channels)
        for (float v : ch)
            sum += double(v) * v;
    double rms = std::sqrt(sum / (2.0 * N));
    float k = float(0.11 / rms);
    for (auto& ch : s.channels)
        for (float& v : ch)
            v = float(0.95 * std::tanh(v * k / 0.95));
    return s;
}

// ---- thunder ----------------------------------------------------------------------

struct Thunder {
    uint64_t seed;
    double length;     // seconds
    int cracks;        // separate strikes heard as cracks
    double crack;      // peak level of the crack
    double boom;       // loudness of the low thump after the crack, relative to the crack
    int rolls;         // swells of the rumble
    double spread;     // seconds over which the swells are spread
    double cutoff;     // rumble brightness, Hz
    double attack;     // seconds for the first swell to build
    double rumble_rms; // loudness of the rumble over the whole sound
};

static Sound make_thunder(const Thunder& p)
{
    const int N = int(p.length * SAMPLE_RATE);
    Rng rng(p.seed);
    std::vector<double> rumble(static_cast<size_t>(N), 0.0);

    // Rumble: brownish noise, low-passed, with a mid-range growl that small
    // speakers can carry, shaped by swells that build and die away one
    // after another, and a slow flutter on top.
    struct Roll {
        double at, rise, fall, level;
    };
    std::vector<Roll> rolls;
    double t0 = p.cracks > 0 ? 0.08 : 0.3;
    for (int i = 0; i < p.rolls; i++) {
        double at = t0 + (i == 0 ? 0 : std::pow(rng.uniform(), 1.3) * p.spread);
        double level =
            (i == 0 ? 1.0 : rng.range(0.35, 0.9)) * std::exp(-at / (p.spread * 0.8 + 0.5));
        rolls.push_back({at, i == 0 ? p.attack : rng.range(0.15, 0.6), rng.range(0.6, 1.8), level});
    }
    Biquad low1 = make_filter(LOWPASS, p.cutoff, 0.7), low2 = make_filter(LOWPASS, p.cutoff, 0.7);
    Biquad sub = make_filter(HIGHPASS, 30, 0.7);
    Biquad growl = make_filter(BANDPASS, p.cutoff * 1.8, 0.8);
    Biquad flutter_filter = make_filter(LOWPASS, 5, 0.7);
    double brown = 0;
    for (int n = 0; n < N; n++) {
        double t = double(n) / SAMPLE_RATE;
        double x = white(rng);
        brown = 0.995 * brown + 0.06 * x;
        double body = sub.run(low2.run(low1.run(brown + 0.3 * x)));
        double mid = growl.run(x) * 0.08;
        double swell = 0;
        for (const Roll& r : rolls) {
            double d = t - r.at;
            if (d < 0)
                continue;
            double rise = d < r.rise ? 0.5 - 0.5 * std::cos(PI * d / r.rise) : 1.0;
            double fall = d < r.rise ? 1.0 : std::exp(-(d - r.rise) / r.fall);
            swell += r.level * rise * fall;
        }
        double flutter = 1 + 6.0 * flutter_filter.run(white(rng));
        rumble[size_t(n)] = (body * 4.0 + mid) * swell * std::max(0.2, flutter);
    }
    double sum = 0;
    for (double v : rumble)
        sum += v * v;
    double gain = p.rumble_rms / std::sqrt(sum / N + 1e-20);
    std::vector<double> out(static_cast<size_t>(N));
    for (int n = 0; n < N; n++)
        out[size_t(n)] = rumble[size_t(n)] * gain;

    // Cracks: a tearing run of sharp grains, the main crack, a ripping
    // mid-range tail that carries into the rumble, and a falling boom.
    Biquad crack_hp = make_filter(HIGHPASS, 700, 0.7);
    Biquad rip_band = make_filter(BANDPASS, 900, 0.6);
    for (int c = 0; c < p.cracks; c++) {
        double start = 0.01 + c * rng.range(0.35, 0.6);
        double level = p.crack * (c == 0 ? 1.0 : rng.range(0.55, 0.75));
        int grains = 60 + rng.below(40);
        for (int g = 0; g < grains; g++) {
            double at = start + 0.4 * std::pow(rng.uniform(), 1.8);
            int len = int(rng.range(0.001, 0.006) * SAMPLE_RATE);
            double amp = level * rng.range(0.15, 0.55) * std::exp(-(at - start) / 0.25);
            int first = int(at * SAMPLE_RATE);
            for (int k = 0; k < len && first + k < N; k++)
                out[size_t(first + k)] += amp * white(rng) * std::exp(-k / (0.25 * len + 1.0));
        }
        int first = int((start + 0.02) * SAMPLE_RATE);
        for (int k = 0; k < int(3.0 * SAMPLE_RATE) && first + k < N; k++) {
            double t = double(k) / SAMPLE_RATE;
            double attack = std::min(1.0, t / 0.0008);
            double crack = attack * std::exp(-t / 0.07) * crack_hp.run(white(rng)) * 1.4;
            double rip = attack * std::exp(-t / 0.35) * rip_band.run(white(rng)) * 1.2;
            out[size_t(first + k)] += level * (crack + rip);
        }
        // The boom: a falling low thump under the crack.
        double ph = 0;
        for (int k = 0; k < int(1.6 * SAMPLE_RATE) && first + k < N; k++) {
            double t = double(k) / SAMPLE_RATE;
            double freq = 42 + 70 * std::exp(-t / 0.25);
            ph += 2 * PI * freq / SAMPLE_RATE;
            double env = std::min(1.0, t / 0.012) * std::exp(-t / 0.45);
            out[size_t(first + k)] += p.boom * level * env * std::sin(ph);
        }
    }

    // A last half second that fades to silence, so the end never clicks.
    int fade = SAMPLE_RATE / 2;
    for (int k = 0; k < fade && k < N; k++)
        out[size_t(N - 1 - k)] *= 0.5 - 0.5 * std::cos(PI * k / fade);

    // A soft limit rounds off the crack's few highest peaks instead of
    // clipping them.
    Sound s;
    s.channels.assign(1, std::vector<float>(size_t(N)));
    for (int n = 0; n < N; n++)
        s.channels[0][size_t(n)] = float(0.97 * std::tanh(out[size_t(n)] / 0.97));
    return s;
}

// The close strikes come every few seconds (every two at high frame rates,
// where the scene's per-update chance is drawn more often), so their rumble
// must die down within a few seconds and stay well under the crack: long
// loud tails would pile up into a roar that buries the rain.

// A single hard strike close by: short, bright, a quick rumble.
Sound make_thunder1()
{
    return make_thunder({81, 4.0, 1, 0.9, 0.6, 4, 1.5, 260, 0.25, 0.045});
}

// Two strikes in quick succession and a longer rumble.
Sound make_thunder2()
{
    return make_thunder({82, 4.5, 2, 0.8, 0.6, 5, 2.0, 230, 0.3, 0.045});
}

// A crack that rolls on across the sky.
Sound make_thunder3()
{
    return make_thunder({83, 5.5, 1, 0.75, 0.7, 6, 3.0, 200, 0.4, 0.045});
}

// Far away: no crack, only a short, low roll well under the rain. The scene
// starts one with a fixed chance at every update, so how many overlap grows
// with the frame rate: about four at 60 frames a second, over a dozen at
// 240. Short and quiet, they add up to a murmur under the rain rather than
// a roar over it.
Sound make_bgthunder()
{
    return make_thunder({84, 3.0, 0, 0.0, 0.0, 4, 1.2, 140, 0.6, 0.02});
}
