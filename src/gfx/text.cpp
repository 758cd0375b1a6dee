// Text drawing. Owns no state: every character is one r_draw_quad2d of its
// cell in the font texture, bound and drawn on its own. The cell's lower edge
// goes to the quad's lower screen edge, so with y up in the 2D pass the glyph
// stands upright.
//
// Character codes are taken as signed bytes and split into row and column by
// truncating division, so a byte of 0x80 or above gives a negative row and
// column and texture coordinates outside 0..1. That is kept as it is: the
// font's wrap addressing decides what such a byte shows.

#include "gfx/text.h"

#include "gfx/renderer.h"

static const float CELL = 1.0f / float(FONT_GRID);

// Draws the glyph of `character` as a size x size square with its lower-left
// corner at (x, y). Bytes above 127 count as negative codes and sample outside
// the 0..1 texture range, where the stage's addressing decides what shows.
static void r_draw_char(float x, float y, float size, char character, int font_slot)
{
    int code = static_cast<signed char>(character);
    int row = code / FONT_GRID;
    int col = code % FONT_GRID;
    r_draw_quad2d(font_slot, x, y, x + size, y + size, float(col) * CELL, float(row + 1) * CELL,
                  float(col + 1) * CELL, float(row) * CELL);
}

void r_draw_text(float x, float y, float size, const char* text, int font_slot)
{
    if (!text)
        return;
    // Repeated addition, as the pen always moved: glyph i lands at
    // x + i * size within float rounding.
    float pen = x - size;
    for (const char* c = text; *c; ++c) {
        pen += size;
        r_draw_char(pen, y, size, *c, font_slot);
    }
}
