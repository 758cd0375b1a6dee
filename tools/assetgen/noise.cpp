// Wrap-around noise for tiling textures and the terrain: every function here
// takes its lattice modulo a period, so a tile's right edge continues into its
// left edge and its bottom into its top.

#include "art.h"

uint32_t hash3(int32_t x, int32_t y, uint32_t seed)
{
    uint32_t h = seed * 0x27D4EB2Du ^ uint32_t(x) * 0x85EBCA6Bu ^ uint32_t(y) * 0xC2B2AE35u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

static int wrap_index(int i, int period)
{
    i %= period;
    return i < 0 ? i + period : i;
}

// One of 16 unit gradients, picked by hash.
static void gradient(int x, int y, int period, uint32_t seed, float& gx, float& gy)
{
    static const float TABLE[16][2] = {
        {1, 0},  {0.9239f, 0.3827f},   {0.7071f, 0.7071f},   {0.3827f, 0.9239f},
        {0, 1},  {-0.3827f, 0.9239f},  {-0.7071f, 0.7071f},  {-0.9239f, 0.3827f},
        {-1, 0}, {-0.9239f, -0.3827f}, {-0.7071f, -0.7071f}, {-0.3827f, -0.9239f},
        {0, -1}, {0.3827f, -0.9239f},  {0.7071f, -0.7071f},  {0.9239f, -0.3827f}};
    uint32_t h = hash3(wrap_index(x, period), wrap_index(y, period), seed) >> 28;
    gx = TABLE[h][0];
    gy = TABLE[h][1];
}

static float fade(float t)
{
    return t * t * t * (t * (t * 6 - 15) + 10);
}

float noise_wrap(float x, float y, int period, uint32_t seed)
{
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    float fx = x - x0, fy = y - y0;
    float g[4][2];
    gradient(x0, y0, period, seed, g[0][0], g[0][1]);
    gradient(x0 + 1, y0, period, seed, g[1][0], g[1][1]);
    gradient(x0, y0 + 1, period, seed, g[2][0], g[2][1]);
    gradient(x0 + 1, y0 + 1, period, seed, g[3][0], g[3][1]);
    float n00 = g[0][0] * fx + g[0][1] * fy;
    float n10 = g[1][0] * (fx - 1) + g[1][1] * fy;
    float n01 = g[2][0] * fx + g[2][1] * (fy - 1);
    float n11 = g[3][0] * (fx - 1) + g[3][1] * (fy - 1);
    float u = fade(fx), v = fade(fy);
    // Gradient noise peaks near +-0.7; scale towards +-1.
    return 1.4142f * lerp(lerp(n00, n10, u), lerp(n01, n11, u), v);
}

float fbm_wrap(float u, float v, int period, int octaves, float gain, uint32_t seed)
{
    float sum = 0, amplitude = 1, norm = 0;
    for (int o = 0; o < octaves; o++) {
        sum += amplitude * noise_wrap(u * period, v * period, period, seed + uint32_t(o) * 1013u);
        norm += amplitude;
        amplitude *= gain;
        period *= 2;
    }
    return sum / norm * 1.6f;
}

float cells_wrap(float u, float v, int period, uint32_t seed)
{
    float x = u * period, y = v * period;
    int cx = int(std::floor(x)), cy = int(std::floor(y));
    float best = 1e9f;
    for (int dy = -1; dy <= 1; dy++) {
        for (int dx = -1; dx <= 1; dx++) {
            int gx = cx + dx, gy = cy + dy;
            uint32_t h = hash3(wrap_index(gx, period), wrap_index(gy, period), seed);
            float px = gx + (h & 0xFFFF) / 65536.0f;
            float py = gy + (h >> 16) / 65536.0f;
            float d = (px - x) * (px - x) + (py - y) * (py - y);
            if (d < best)
                best = d;
        }
    }
    return std::sqrt(best);
}

Color Picture::sample_wrap(float x, float y) const
{
    x -= 0.5f;
    y -= 0.5f;
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    float fx = x - x0, fy = y - y0;
    auto px = [&](int xi, int yi) -> const Color& {
        return at(wrap_index(xi, width), wrap_index(yi, height));
    };
    Color top = mix(px(x0, y0), px(x0 + 1, y0), fx);
    Color bottom = mix(px(x0, y0 + 1), px(x0 + 1, y0 + 1), fx);
    return mix(top, bottom, fy);
}
