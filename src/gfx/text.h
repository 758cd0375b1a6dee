// Text from a font texture of 16 x 16 glyph cells, one quad per character,
// drawn in the 2D pass.
#pragma once

// Cells per row and per column of the font texture; the cell of code n is
// in column n % 16 from the left and row n / 16 from the top.
constexpr int FONT_GRID = 16;

// Draws the glyph of `character` as a size x size square with its lower-left
// corner at (x, y). Bytes above 127 count as negative codes and sample outside
// the 0..1 texture range, where the stage's addressing decides what shows.
void r_draw_char(float x, float y, float size, char character, int font_slot);
// Draws every byte of `text` (controls and spaces too) left to right, glyph
// i at x + i * size; no layout of any kind.
void r_draw_text(float x, float y, float size, const char* text, int font_slot);
