// The terrain's two images. "data/hf" holds the ground height of each of the
// 256 x 256 grid points in its blue byte; the program reads that byte as a
// signed value b and takes b / 16 - 4 as the height, so only bytes 0..127
// (heights -4 .. 3.94) are used. "data/hflight" is the light of each grid
// cell, computed here from those same quantised heights: the program
// stretches it over the grid with texel (column, row) between grid points
// (column, row) and (column + 1, row + 1), and multiplies the ground detail
// by it times two, so its average sits near 128 (mid grey: detail unchanged).
//
// Both wrap: the grid repeats every 256 units, and so do the noise, the
// shadows and the occlusion computed over it.

#include <algorithm>

#include "art.h"

static const int GRID = 256;
static const float WATER_LEVEL = -2.0f;

float height_of_byte(int byte)
{
    // The program reads the byte as signed; the generator never writes 128+.
    int b = byte < 128 ? byte : byte - 256;
    return float(b) / 256.0f * 16.0f - 4.0f;
}

// World (x, z) to grid coordinates: column x + 128, row z + 128.
static float grid_distance(int col, int row, float wx, float wz)
{
    float dx = wrap_delta(float(col), wx + 128, GRID), dz = wrap_delta(float(row), wz + 128, GRID);
    return std::sqrt(dx * dx + dz * dz);
}

struct Pond {
    float x, z, radius;
};

// Hollows that fill with water, within the camera's 50-unit range and beyond.
static const Pond PONDS[] = {
    {12, 1, 11},   {-18, 22, 15}, {26, 26, 13},  {-32, -22, 16}, {38, -32, 14},
    {-46, 44, 17}, {60, 8, 15},   {-6, -42, 13}, {92, 92, 20},   {-92, 72, 16},
};

// Rises that frame the view from the start, on either side of the pond
// beyond the fire: x, z, radius, height added.
struct Rise {
    float x, z, radius, height;
};
static const Rise RISES[] = {{7, 11, 7, 2.6f}, {5, -11, 8, 2.2f}, {22, 4, 9, 2.0f}};

Picture make_heights()
{
    std::vector<float> h(size_t(GRID) * GRID);
    for (int row = 0; row < GRID; row++) {
        for (int col = 0; col < GRID; col++) {
            float u = float(col) / GRID, v = float(row) / GRID;
            float rolling = fbm_wrap(u, v, 4, 6, 0.5f, 61);
            float hills = fbm_wrap(u, v, 12, 4, 0.5f, 65);
            float ridges = 1 - std::fabs(fbm_wrap(u, v, 6, 4, 0.5f, 62));
            float height = 0.4f + 2.2f * rolling + 1.7f * hills + 1.6f * (ridges - 0.55f);

            // A meadow around the fire at the origin and the camera's start
            // at (-5, 0): gentler and a little low, so the fire is in view.
            for (const Rise& r : RISES) {
                float t = grid_distance(col, row, r.x, r.z) / r.radius;
                if (t < 1)
                    height += r.height * smoothstep(1.0f, 0.0f, t);
            }
            float meadow = smoothstep(8, 3, grid_distance(col, row, -2, 0));
            height = lerp(height, 0.3f * height - 0.1f, meadow);
            float clearing = smoothstep(4.5f, 1.5f, grid_distance(col, row, 0, 0));
            height = lerp(height, -0.45f, clearing);

            // Ponds: flat-bottomed hollows with shores bent by noise, so
            // none of them is round.
            float warp_x = 5.0f * noise_wrap(u * 12, v * 12, 12, 63);
            float warp_z = 5.0f * noise_wrap(u * 12, v * 12, 12, 66);
            for (const Pond& p : PONDS) {
                float t = grid_distance(col, row, p.x + warp_x, p.z + warp_z) / p.radius;
                if (t >= 1)
                    continue;
                float bowl = smoothstep(1.0f, 0.3f, t);
                float bottom = -3.2f + 0.35f * noise_wrap(u * 32, v * 32, 32, 64);
                height = std::min(height, lerp(height, bottom, bowl));
            }

            // Soft limits inside what a byte 0..127 can say.
            if (height > 3.0f)
                height = 3.0f + 0.9f * std::tanh((height - 3.0f) / 0.9f);
            if (height < -3.5f)
                height = -3.5f - 0.4f * std::tanh((-3.5f - height) / 0.4f);
            h[size_t(row) * GRID + col] = height;
        }
    }

    Picture pic(GRID, GRID);
    for (int i = 0; i < GRID * GRID; i++) {
        int byte = std::clamp(int(std::lround((h[size_t(i)] + 4.0f) * 16.0f)), 0, 127);
        float grey = byte / 255.0f;
        pic.pixels[size_t(i)] = {grey, grey, grey, 1};
    }
    return pic;
}

std::vector<float> heights_from_picture(const Picture& heights)
{
    std::vector<float> h(size_t(GRID) * GRID);
    for (int i = 0; i < GRID * GRID; i++) {
        int byte = int(std::lround(heights.pixels[size_t(i)].b * 255.0f));
        h[size_t(i)] = height_of_byte(byte);
    }
    return h;
}

// Height between grid points, bilinear, wrapping; (x, y) in grid units.
static float height_at(const std::vector<float>& h, float x, float y)
{
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    float fx = x - x0, fy = y - y0;
    auto at = [&](int c, int r) { return h[size_t(r & (GRID - 1)) * GRID + (c & (GRID - 1))]; };
    return lerp(lerp(at(x0, y0), at(x0 + 1, y0), fx), lerp(at(x0, y0 + 1), at(x0 + 1, y0 + 1), fx),
                fy);
}

// Sine of the highest horizon seen from (x, y) at height `eye` along the
// direction (dx, dy), looking up to `reach` units away.
static float horizon_sine(const std::vector<float>& h, float x, float y, float eye, float dx,
                          float dy, float reach, int steps)
{
    float best = -1;
    for (int i = 1; i <= steps; i++) {
        // Steps grow with distance: near slopes matter most.
        float t = reach * float(i * i) / float(steps * steps);
        float rise = height_at(h, x + dx * t, y + dy * t) - eye;
        float s = rise / std::sqrt(rise * rise + t * t);
        best = std::max(best, s);
    }
    return best;
}

Picture make_light()
{
    std::vector<float> h = heights_from_picture(make_heights());

    // A low moon: 21 degrees up, from the +z side and a little behind the
    // camera's starting view along +x.
    const float ELEVATION = 0.37f, AZIMUTH = 1.95f;
    const float lx = std::cos(ELEVATION) * std::cos(AZIMUTH), ly = std::sin(ELEVATION),
                lz = std::cos(ELEVATION) * std::sin(AZIMUTH);
    const float flat = std::sqrt(lx * lx + lz * lz);
    const Color MOON{0.90f, 0.95f, 1.03f, 1}, SKY{0.70f, 0.76f, 0.88f, 1};
    const int AO_DIRECTIONS = 12;

    std::vector<Color> light(size_t(GRID) * GRID);
    for (int row = 0; row < GRID; row++) {
        for (int col = 0; col < GRID; col++) {
            auto at = [&](int c, int r) {
                return h[size_t(r & (GRID - 1)) * GRID + (c & (GRID - 1))];
            };
            float h00 = at(col, row), h10 = at(col + 1, row), h01 = at(col, row + 1),
                  h11 = at(col + 1, row + 1);
            // The cell's mean slope, from the same corner heights the
            // program draws its two triangles with.
            float sx = ((h10 - h00) + (h11 - h01)) * 0.5f;
            float sz = ((h01 - h00) + (h11 - h10)) * 0.5f;
            float nlen = std::sqrt(sx * sx + 1 + sz * sz);
            float ndotl = std::max(0.0f, (-sx * lx + ly - sz * lz) / nlen);
            float cx = col + 0.5f, cz = row + 0.5f;
            float centre = (h00 + h10 + h01 + h11) * 0.25f;

            // Soft shadow: how much of a moon disc of a few degrees shows
            // above the horizon towards it.
            float horizon = horizon_sine(h, cx, cz, centre + 0.05f, lx / flat, lz / flat, 48, 40);
            float sun_sine = std::sin(ELEVATION);
            float shadow = smoothstep(-0.09f, 0.09f, sun_sine - horizon);

            // Ambient occlusion: the open share of the sky around the cell.
            float open = 0;
            for (int d = 0; d < AO_DIRECTIONS; d++) {
                float a = (d + 0.5f) * 6.2831853f / AO_DIRECTIONS;
                float s = horizon_sine(h, cx, cz, centre + 0.05f, std::cos(a), std::sin(a), 14, 10);
                open += 1 - std::max(0.0f, s);
            }
            open /= AO_DIRECTIONS;

            float direct = ndotl * shadow;
            float ambient = 0.55f * open * open;
            Color c{SKY.r * ambient + MOON.r * direct, SKY.g * ambient + MOON.g * direct,
                    SKY.b * ambient + MOON.b * direct, 1};
            // Ground under the water gets less light the deeper it lies.
            float under = std::exp(-std::max(0.0f, WATER_LEVEL - centre) * 0.6f);
            c.r *= under;
            c.g *= under;
            c.b *= under;
            light[size_t(row) * GRID + col] = c;
        }
    }

    // A light blur takes the edge off the steps of quantised heights.
    Picture pic(GRID, GRID);
    double sum = 0;
    for (int row = 0; row < GRID; row++) {
        for (int col = 0; col < GRID; col++) {
            Color acc{0, 0, 0, 1};
            float weight = 0;
            for (int dr = -1; dr <= 1; dr++) {
                for (int dc = -1; dc <= 1; dc++) {
                    float w = float((2 - std::abs(dr)) * (2 - std::abs(dc)));
                    const Color& s =
                        light[size_t((row + dr) & (GRID - 1)) * GRID + ((col + dc) & (GRID - 1))];
                    acc.r += w * s.r;
                    acc.g += w * s.g;
                    acc.b += w * s.b;
                    weight += w;
                }
            }
            Color c{acc.r / weight, acc.g / weight, acc.b / weight, 1};
            pic.at(col, row) = c;
            sum += 0.3 * c.r + 0.59 * c.g + 0.11 * c.b;
        }
    }
    // Scale so the average brightness is 128 / 255: the ground detail keeps
    // its own brightness on average, lit slopes above it, shadows below.
    float scale = float(128.0 / 255.0 / (sum / (GRID * GRID)));
    for (Color& c : pic.pixels) {
        c.r = clamp01(c.r * scale);
        c.g = clamp01(c.g * scale);
        c.b = clamp01(c.b * scale);
    }
    return pic;
}
