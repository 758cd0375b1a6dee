// The font texture: a 16 x 16 grid of 16-pixel cells over 256 x 256, cell n
// holding character n (printable ASCII and the Latin-1 letters), rasterised
// from a TrueType font of the system's packages. Glyphs are white with their
// coverage in alpha, ringed by a thin dark outline so that the one HUD line
// stays readable over fog and lightning alike. Transparent texels are black,
// the colour of the outline they border, so filtering adds no light fringe.

#include <stb/stb_truetype.h>

#include <algorithm>
#include <cstdio>

#include "art.h"

static const int CELL = 16;
static const int GRID_CELLS = 16;
static const int SIDE = CELL * GRID_CELLS;

static std::string g_font_path = STORM_DEFAULT_FONT;

const char* font_file()
{
    return g_font_path.c_str();
}

void set_font_file(const char* path)
{
    g_font_path = path;
}

static bool read_font(std::vector<unsigned char>& bytes)
{
    FILE* fp = fopen(g_font_path.c_str(), "rb");
    if (!fp)
        return false;
    unsigned char buf[65536];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, fp)) > 0)
        bytes.insert(bytes.end(), buf, buf + got);
    fclose(fp);
    return !bytes.empty();
}

Picture make_font()
{
    Picture pic(SIDE, SIDE, {0, 0, 0, 0});
    std::vector<unsigned char> ttf;
    stbtt_fontinfo font;
    if (!read_font(ttf) ||
        !stbtt_InitFont(&font, ttf.data(), stbtt_GetFontOffsetForIndex(ttf.data(), 0))) {
        fprintf(stderr, "storm-assets: cannot read the font %s\n", g_font_path.c_str());
        return Picture(); // an empty picture: the caller reports the failure
    }

    // An em of 13 pixels puts capitals about 9.5 pixels tall; the glyphs are
    // widened a third so a fixed 16-pixel advance does not look sparse.
    const float scale_y = stbtt_ScaleForMappingEmToPixels(&font, 13.0f);
    const float scale_x = scale_y * 1.35f;
    const float baseline = 12.0f;

    std::vector<float> cover(size_t(SIDE) * SIDE, 0.0f);
    std::vector<unsigned char> glyph(size_t(CELL * 3) * CELL * 3);
    for (int code = 33; code < 256; code++) {
        if (code >= 127 && code <= 160)
            continue; // DEL, C1 controls, no-break space
        if (stbtt_FindGlyphIndex(&font, code) == 0)
            continue;
        int advance, bearing;
        stbtt_GetCodepointHMetrics(&font, code, &advance, &bearing);
        float left = (CELL - advance * scale_x) * 0.5f;
        float shift_x = left - std::floor(left), shift_y = baseline - std::floor(baseline);
        int x0, y0, x1, y1;
        stbtt_GetCodepointBitmapBoxSubpixel(&font, code, scale_x, scale_y, shift_x, shift_y, &x0,
                                            &y0, &x1, &y1);
        int gw = std::min(x1 - x0, CELL * 3), gh = std::min(y1 - y0, CELL * 3);
        if (gw <= 0 || gh <= 0)
            continue;
        std::fill(glyph.begin(), glyph.end(), 0);
        stbtt_MakeCodepointBitmapSubpixel(&font, glyph.data(), gw, gh, CELL * 3, scale_x, scale_y,
                                          shift_x, shift_y, code);
        int cell_x = (code % GRID_CELLS) * CELL, cell_y = (code / GRID_CELLS) * CELL;
        int ox = int(std::floor(left)) + x0, oy = int(std::floor(baseline)) + y0;
        // Clipped to the cell: a glyph never spills into its neighbours.
        for (int y = 0; y < gh; y++) {
            for (int x = 0; x < gw; x++) {
                int cx = ox + x, cy = oy + y;
                if (cx < 0 || cy < 0 || cx >= CELL || cy >= CELL)
                    continue;
                cover[size_t(cell_y + cy) * SIDE + cell_x + cx] =
                    glyph[size_t(y) * CELL * 3 + x] / 255.0f;
            }
        }
    }

    // White glyph over a dark ring one pixel wide, kept inside each cell.
    for (int y = 0; y < SIDE; y++) {
        for (int x = 0; x < SIDE; x++) {
            float g = cover[size_t(y) * SIDE + x];
            float ring = 0;
            for (int dy = -1; dy <= 1; dy++) {
                for (int dx = -1; dx <= 1; dx++) {
                    int nx = x + dx, ny = y + dy;
                    if (nx / CELL != x / CELL || ny / CELL != y / CELL || nx < 0 || ny < 0)
                        continue;
                    if (nx >= SIDE || ny >= SIDE)
                        continue;
                    float w = (dx == 0 || dy == 0) ? 1.0f : 0.6f;
                    ring = std::max(ring, w * cover[size_t(ny) * SIDE + nx]);
                }
            }
            float shadow = 0.7f * ring;
            float alpha = g + shadow * (1 - g);
            float white = alpha > 0 ? g / alpha : 0;
            pic.at(x, y) = {white, white, white, alpha};
        }
    }
    return pic;
}
