// The contact sheet: every picture of the data set on one PNG, to be looked
// at rather than read. Pictures with alpha sit on a grey checker; the tiling
// ones are also shown 2 x 2 so a seam would show as a line; and three
// previews show pictures the way the scene uses them: the ground from above
// (detail times lightmap times two, water over the hollows), a frame's worth
// of rain streaks over the grey fog, and the view from the camera's starting
// point through the terrain and water passes.

#include <stb/stb_image_write.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "art.h"

namespace
{

struct Sheet {
    int width, height;
    std::vector<Color> pixels;
    Sheet(int w, int h) : width(w), height(h), pixels(size_t(w) * h, {0.11f, 0.11f, 0.12f, 1}) {}
    void blend(int x, int y, const Color& c)
    {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        Color& d = pixels[size_t(y) * width + x];
        d = {lerp(d.r, c.r, c.a), lerp(d.g, c.g, c.a), lerp(d.b, c.b, c.a), 1};
    }
};

enum Backdrop { CHECKER, OPAQUE, FOG };

constexpr int BOX = 256, GAP = 24, TOP = 24; // panel size, spacing, label height

// Draws `pic` into the box at (x, y) of size w x h, averaging the source
// pixels under each destination pixel (or repeating them when enlarging).
void draw(Sheet& sheet, const Picture& pic, int x, int y, int w, int h, Backdrop backdrop,
          float repeat = 1.0f)
{
    for (int dy = 0; dy < h; dy++) {
        for (int dx = 0; dx < w; dx++) {
            float sx0 = dx * pic.width * repeat / w, sx1 = (dx + 1) * pic.width * repeat / w;
            float sy0 = dy * pic.height * repeat / h, sy1 = (dy + 1) * pic.height * repeat / h;
            Color acc{0, 0, 0, 0};
            int n = 0;
            for (int sy = int(sy0); sy < std::max(int(sy0) + 1, int(std::ceil(sy1))); sy++) {
                for (int sx = int(sx0); sx < std::max(int(sx0) + 1, int(std::ceil(sx1))); sx++) {
                    const Color& c = pic.at(sx % pic.width, sy % pic.height);
                    acc.r += c.r * c.a;
                    acc.g += c.g * c.a;
                    acc.b += c.b * c.a;
                    acc.a += c.a;
                    n++;
                }
            }
            Color c{0, 0, 0, acc.a / n};
            if (acc.a > 0)
                c = {acc.r / acc.a, acc.g / acc.a, acc.b / acc.a, acc.a / n};
            Color under;
            if (backdrop == CHECKER)
                under = ((dx / 8 + dy / 8) & 1) ? Color{0.42f, 0.42f, 0.44f, 1}
                                                : Color{0.58f, 0.58f, 0.60f, 1};
            else if (backdrop == FOG)
                under = {0.5f, 0.5f, 0.5f, 1};
            else
                under = {0, 0, 0, 1};
            if (backdrop == OPAQUE)
                c.a = 1;
            sheet.blend(x + dx, y + dy, under);
            sheet.blend(x + dx, y + dy, c);
        }
    }
}

// Writes `text` with the data set's own font, one cell per character.
void label(Sheet& sheet, const Picture& font, int x, int y, const std::string& text)
{
    if (font.width != 256)
        return;
    for (size_t i = 0; i < text.size(); i++) {
        int code = static_cast<unsigned char>(text[i]);
        int cx = (code % 16) * 16, cy = (code / 16) * 16;
        for (int py = 0; py < 16; py++)
            for (int px = 0; px < 16; px++)
                sheet.blend(x + int(i) * 11 + px - 2, y + py, font.at(cx + px, cy + py));
    }
}

// The ground seen from above over x, z in -64..64: what the terrain pass
// draws (detail x lightmap x 2) with the water laid over the hollows.
Picture ground_preview(const Picture& floor, const Picture& light, const Picture& heights,
                       const Picture& water)
{
    const int S = 256;
    std::vector<float> h = heights_from_picture(heights);
    Picture out(S, S);
    for (int py = 0; py < S; py++) {
        for (int px = 0; px < S; px++) {
            float wx = px * 0.5f - 64 + 0.25f, wz = py * 0.5f - 64 + 0.25f;
            Color d = floor.sample_wrap(wx * 0.4f * floor.width, wz * 0.4f * floor.height);
            Color l = light.sample_wrap(wx + 128, wz + 128);
            Color c{clamp01(d.r * l.r * 2), clamp01(d.g * l.g * 2), clamp01(d.b * l.b * 2), 1};
            int col = (int(std::floor(wx)) + 128) & 255, row = (int(std::floor(wz)) + 128) & 255;
            if (h[size_t(row) * 256 + col] < -2.0f) {
                Color w = water.sample_wrap(px * 2.0f, py * 2.0f);
                c = mix(c, w, w.a);
            }
            out.at(px, py) = c;
        }
    }
    return out;
}

// Roughly what the rain strip in front of the eye shows in one frame: about
// 1.1 repeats across and a twelfth of a repeat along, stretched to a 4:3 view.
Picture rain_preview(const Picture& rain)
{
    const int W = 256, H = 192;
    Picture out(W, H);
    for (int py = 0; py < H; py++) {
        for (int px = 0; px < W; px++) {
            float u = (px + 0.5f) / W * 1.1f * rain.width;
            float v = (py + 0.5f) / H * 0.083f * rain.height + 40;
            out.at(px, py) = rain.sample_wrap(u, v);
        }
    }
    return out;
}

// The view from the camera's starting point, as the scene's terrain and
// water passes would draw it before any rain, fire or lightning: ground
// detail times lightmap times two, the water at -2 over it, grey fog from 5
// to 18 units, left and right mirrored as the program's projection does.
Picture start_view(const Picture& floor, const Picture& light, const Picture& heights,
                   const Picture& water)
{
    const int W = 640, H = 480;
    std::vector<float> h = heights_from_picture(heights);
    // The program's own ground height: the two triangles of each cell.
    auto ground = [&](float x, float z) {
        float gx = x + 128, gz = z + 128;
        int ix = int(std::floor(gx)), iz = int(std::floor(gz));
        float fx = gx - ix, fz = gz - iz;
        auto at = [&](int c, int r) { return h[size_t(r & 255) * 256 + (c & 255)]; };
        float h00 = at(ix, iz), h10 = at(ix + 1, iz), h11 = at(ix + 1, iz + 1),
              h01 = at(ix, iz + 1);
        if (fx > fz)
            return h00 + fx * (h10 - h00) + fz * (h11 - h10);
        return h00 + fx * (h11 - h01) + fz * (h01 - h00);
    };
    const float FOG_START = 5, FOG_END = 18, WATER = -2;
    const Color FOG{0.5f, 0.5f, 0.5f, 1};
    float eye_x = -5, eye_z = 0, eye_y = ground(eye_x, eye_z) + 2;
    float tan_half = std::tan(22.5f * 3.14159265f / 180);
    Picture out(W, H);
    for (int py = 0; py < H; py++) {
        for (int px = 0; px < W; px++) {
            // Forward +x, up +y; the mirrored projection puts +z on the right.
            float sx = ((px + 0.5f) / W * 2 - 1) * tan_half * W / H;
            float sy = (1 - (py + 0.5f) / H * 2) * tan_half;
            float dx = 1, dy = sy, dz = sx;
            Color c = FOG;
            float water_t = dy < 0 ? (WATER - eye_y) / dy : 1e9f;
            for (float t = 0.05f; t < FOG_END; t += 0.02f + t * 0.004f) {
                float x = eye_x + dx * t, y = eye_y + dy * t, z = eye_z + dz * t;
                if (y > ground(x, z))
                    continue;
                Color d = floor.sample_wrap(x * 0.4f * floor.width, z * 0.4f * floor.height);
                Color l = light.sample_wrap(x + 128, z + 128);
                c = {clamp01(d.r * l.r * 2), clamp01(d.g * l.g * 2), clamp01(d.b * l.b * 2), 1};
                if (water_t < t) {
                    // The water square travels with the camera: u along x, v along z.
                    Color w = water.sample_wrap((dx * water_t + 20) / 40 * water.width,
                                                (dz * water_t + 20) / 40 * water.height);
                    c = mix(c, w, w.a);
                    t = water_t;
                }
                // Linear fog on the distance along the view, as the device does.
                c = mix(c, FOG, clamp01((t - FOG_START) / (FOG_END - FOG_START)));
                break;
            }
            out.at(px, py) = c;
        }
    }
    return out;
}

} // namespace

int write_contact_sheet(const char* path, const std::vector<std::pair<std::string, Picture>>& list)
{
    std::map<std::string, const Picture*> by_name;
    for (const auto& [name, pic] : list)
        by_name[name] = &pic;
    auto get = [&](const char* name) -> const Picture& {
        static const Picture none(1, 1, {0, 0, 0, 0});
        auto it = by_name.find(name);
        return it == by_name.end() || it->second->width == 0 ? none : *it->second;
    };
    const Picture& font = get("textures/bigchars");

    Sheet sheet(5 * (BOX + GAP) + 64 + 2 * GAP, 3 * (BOX + GAP + TOP) + 480 + TOP + 2 * GAP);
    auto slot = [&](int col, int row, const char* title, const Picture& pic, Backdrop backdrop,
                    float repeat = 1.0f, int w = BOX, int h = BOX) {
        int x = GAP + col * (BOX + GAP), y = GAP + row * (BOX + GAP + TOP);
        label(sheet, font, x, y, title);
        draw(sheet, pic, x, y + TOP, w, h, backdrop, repeat);
    };

    slot(0, 0, "floor", get("textures/floor"), OPAQUE);
    slot(1, 0, "water", get("textures/water"), CHECKER);
    slot(2, 0, "rain", get("textures/rain"), FOG);
    slot(3, 0, "leaf", get("textures/leaf"), CHECKER);
    slot(4, 0, "bigchars", font, FOG);

    slot(0, 1, "floor 2x2", get("textures/floor"), OPAQUE, 2);
    slot(1, 1, "water 2x2", get("textures/water"), CHECKER, 2);
    slot(2, 1, "rain 2x2", get("textures/rain"), FOG, 2);
    slot(3, 1, "notfound", get("textures/common/notfound"), OPAQUE);
    slot(4, 1, "shade", get("textures/shade"), CHECKER);

    slot(0, 2, "data/hf", get("data/hf"), OPAQUE);
    slot(1, 2, "data/hflight", get("data/hflight"), OPAQUE);
    slot(2, 2, "ground 128u",
         ground_preview(get("textures/floor"), get("data/hflight"), get("data/hf"),
                        get("textures/water")),
         OPAQUE);
    slot(3, 2, "rain in view", rain_preview(get("textures/rain")), FOG, 1.0f, BOX, 192);
    slot(4, 2, "hf 2x2", get("data/hf"), OPAQUE, 2);
    slot(0, 3, "view from the start, no rain",
         start_view(get("textures/floor"), get("data/hflight"), get("data/hf"),
                    get("textures/water")),
         OPAQUE, 1.0f, 640, 480);

    // The bolt, full height, in a column of its own.
    const Picture& bolt = get("textures/bolt");
    int bx = GAP + 5 * (BOX + GAP);
    label(sheet, font, bx, GAP, "bolt");
    draw(sheet, bolt, bx, GAP + TOP, 64, 512, OPAQUE);

    std::vector<unsigned char> rgb(size_t(sheet.width) * sheet.height * 3);
    for (size_t i = 0; i < sheet.pixels.size(); i++) {
        rgb[i * 3 + 0] = (unsigned char)std::lround(clamp01(sheet.pixels[i].r) * 255);
        rgb[i * 3 + 1] = (unsigned char)std::lround(clamp01(sheet.pixels[i].g) * 255);
        rgb[i * 3 + 2] = (unsigned char)std::lround(clamp01(sheet.pixels[i].b) * 255);
    }
    return stbi_write_png(path, sheet.width, sheet.height, 3, rgb.data(), sheet.width * 3) ? 1 : 0;
}
