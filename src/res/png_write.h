// PNG output for screenshots, headless frames and contact sheets.
#pragma once
#include <cstdint>

// Writes 32-bit pixels (0xAARRGGBB words, rows top first, `pitch_bytes` apart)
// as an RGB PNG, or RGBA when `keep_alpha`. With `exclusive` an existing file
// is never replaced: the write fails instead. Returns 1 on success, 0 on failure.
int png_write(const char* path, const uint32_t* pixels, int width, int height, int pitch_bytes,
              bool keep_alpha, bool exclusive = false);
