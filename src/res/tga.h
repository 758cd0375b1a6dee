// Decoding of uncompressed true-colour TGA images into 32-bit pixels.
#pragma once

#include <cstdint>

struct MemFile;

// A decoded picture: `height` rows of `width` pixels, top row first, each
// pixel 4 bytes in memory order blue, green, red, alpha (a little-endian
// A8R8G8B8 texel). size = width * height * 4. Released with image_free.
struct Image {
    int32_t width;
    int32_t height;
    uint8_t* pixels;
    int32_t size;
};

// What the decoder keeps of the 18-byte file header between its steps.
struct TgaHeader {
    int32_t width;
    int32_t height;
    int32_t depth;       // bits per pixel: 16, 24 or 32
    int32_t bottom_up;   // 1 when the file stores its bottom row first
    int32_t data_offset; // 18 + ID length: where the pixels begin
    int32_t image_type;  // only 2, uncompressed true-colour, is decoded
};

constexpr int32_t IMAGE_FORMAT_TGA = 1;
constexpr int32_t TGA_TYPE_TRUE_COLOR = 2;
constexpr int32_t TGA_HEADER_SIZE = 18;

// Decodes `file` (not closed) as `format`; only IMAGE_FORMAT_TGA is known.
// Returns null on any failure, with nothing left allocated.
Image* image_load(MemFile* file, int32_t format);

// A blank image of width x height pixels (all bytes zero), released with
// image_free. Null for a side of zero or past 65535 (what a TGA header can
// hold), or out of memory.
Image* image_alloc(int32_t width, int32_t height);

// Releases an image and its pixels. Null is ignored.
void image_free(Image* image);
