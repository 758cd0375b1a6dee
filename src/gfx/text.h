// Text from a font texture of 16 x 16 glyph cells, one quad per character,
// drawn in the 2D pass.
#pragma once

// Cells per row and per column of the font texture; the cell of code n is
// in column n % 16 from the left and row n / 16 from the top.
constexpr int FONT_GRID = 16;

// Draws every byte of `text` (controls and spaces too) left to right, glyph
// i at x + i * size; no layout of any kind.
void r_draw_text(float x, float y, float size, const char* text, int font_slot);
