// The asset generator's toolkit: a seeded random generator, wrap-around noise,
// float pictures and sounds, and the declarations of every asset maker.
// Nothing here reads a clock or an unseeded source: the same build makes the
// same bytes every run.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

// ---- random numbers ---------------------------------------------------------

// PCG-style 64-bit state, 32-bit output; one stream per seed.
class Rng
{
  public:
    explicit Rng(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull)
    {
        next();
    }
    uint32_t next()
    {
        uint64_t old = state_;
        state_ = old * 6364136223846793005ull + 1442695040888963407ull;
        uint32_t xorshifted = uint32_t(((old >> 18u) ^ old) >> 27u);
        uint32_t rot = uint32_t(old >> 59u);
        return (xorshifted >> rot) | (xorshifted << ((32 - rot) & 31));
    }
    // Uniform in [0, 1).
    double uniform() { return next() * (1.0 / 4294967296.0); }
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Uniform integer in [0, n).
    int below(int n) { return int(uniform() * n); }
    // Roughly normal, mean 0, deviation 1 (sum of four uniforms).
    double gauss() { return (uniform() + uniform() + uniform() + uniform() - 2.0) * 1.7320508; }

  private:
    uint64_t state_;
};

// A 32-bit hash of lattice coordinates and a seed.
uint32_t hash3(int32_t x, int32_t y, uint32_t seed);

// ---- noise that wraps ----------------------------------------------------------

// Gradient noise on a lattice that repeats every `period` cells in x and y;
// (x, y) in lattice units. Result roughly in -1..1.
float noise_wrap(float x, float y, int period, uint32_t seed);

// Fractal sum over a unit tile: (u, v) in 0..1 wraps seamlessly. The first
// octave has `period` lattice cells across the tile, each next one twice as
// many with `gain` times the amplitude. Normalised to roughly -1..1.
float fbm_wrap(float u, float v, int period, int octaves, float gain, uint32_t seed);

// Distance from (u, v) in 0..1 to the nearest of one jittered point per cell
// of a `period` x `period` grid over the unit tile, wrapping; in cell units.
float cells_wrap(float u, float v, int period, uint32_t seed);

// ---- small maths -------------------------------------------------------------

inline float clamp01(float x)
{
    return x < 0 ? 0 : (x > 1 ? 1 : x);
}
inline float lerp(float a, float b, float t)
{
    return a + (b - a) * t;
}
inline float smoothstep(float e0, float e1, float x)
{
    float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}
// Wrap-around difference of two coordinates on a circle of length `size`.
inline float wrap_delta(float a, float b, float size)
{
    float d = a - b;
    d -= size * std::floor(d / size + 0.5f);
    return d;
}

struct Color {
    float r, g, b, a;
};
inline Color mix(const Color& x, const Color& y, float t)
{
    return {lerp(x.r, y.r, t), lerp(x.g, y.g, t), lerp(x.b, y.b, t), lerp(x.a, y.a, t)};
}

// ---- pictures ----------------------------------------------------------------

// A picture of float colours 0..1, top row first.
struct Picture {
    int width = 0, height = 0;
    std::vector<Color> pixels;

    Picture() = default;
    Picture(int w, int h, Color fill = {0, 0, 0, 1})
        : width(w), height(h), pixels(size_t(w) * h, fill)
    {
    }
    Color& at(int x, int y) { return pixels[size_t(y) * width + x]; }
    const Color& at(int x, int y) const { return pixels[size_t(y) * width + x]; }
    // Pixel with both coordinates wrapped into the picture.
    Color& wrapped(int x, int y)
    {
        x %= width;
        y %= height;
        return at(x < 0 ? x + width : x, y < 0 ? y + height : y);
    }
    // Bilinear sample at pixel coordinates, wrapping (pixel centres at +0.5).
    Color sample_wrap(float x, float y) const;
};

// ---- sounds ------------------------------------------------------------------

constexpr int SAMPLE_RATE = 44100;

// A sound of float samples, -1..1, one vector per channel.
struct Sound {
    std::vector<std::vector<float>> channels;
    int frames() const { return channels.empty() ? 0 : int(channels[0].size()); }
};

// ---- the assets --------------------------------------------------------------

// How a picture is stored: 24 bits drops alpha, 32 keeps it.
struct PictureAsset {
    const char* path; // relative path on disk, '/' separated, with extension
    int depth;
    Picture (*make)();
};

struct SoundAsset {
    const char* path;
    Sound (*make)();
};

Picture make_floor();
Picture make_water();
Picture make_rain();
Picture make_leaf();
Picture make_bolt();
Picture make_notfound();
Picture make_shade();
Picture make_font();
Picture make_heights();
Picture make_light();

// The height image's bytes as heights, the way the program reads them.
float height_of_byte(int byte);
// The world height grid (256 x 256, element column + row * 256) decoded from
// the height image; shared by the light maker and the contact sheet.
std::vector<float> heights_from_picture(const Picture& heights);

Sound make_rain_sound();
Sound make_thunder1();
Sound make_thunder2();
Sound make_thunder3();
Sound make_bgthunder();

// The font's rasterizer, found at build time; null when none was configured.
const char* font_file();
void set_font_file(const char* path);

// Draws the pictures (named by their paths without extension) on one sheet
// and writes it as PNG. 1 on success.
int write_contact_sheet(const char* path,
                        const std::vector<std::pair<std::string, Picture>>& pictures);
