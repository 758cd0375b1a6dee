// TGA writer: the one place that lays out the 18-byte header and the pixel
// rows of the images the asset tools produce. It writes only what the decoder
// reads best: image type 2, no ID field, no colour map, 24 or 32 bits, rows
// top first (descriptor bit 5), so a file it makes decodes back to exactly
// the pixels it was given (alpha 255 for 24 bits).

#include "res/tga_write.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "res/files.h"
#include "res/tga.h"

// The header stores each side in 16 bits.
static const int32_t TGA_MAX_SIDE = 65535;

// Descriptor bits: 0x20 rows top first; the low nibble counts alpha bits.
static const uint8_t TGA_TOP_FIRST = 0x20;

MemFile* tga_encode(const Image* image, int32_t depth)
{
    if (!image || !image->pixels || (depth != 24 && depth != 32))
        return nullptr;
    int32_t w = image->width, h = image->height;
    if (w <= 0 || h <= 0 || w > TGA_MAX_SIDE || h > TGA_MAX_SIDE)
        return nullptr;
    int64_t pixel_count = int64_t(w) * h;
    if (int64_t(image->size) != pixel_count * 4)
        return nullptr;
    int32_t bytes_per_pixel = depth / 8;
    int64_t file_size = TGA_HEADER_SIZE + pixel_count * bytes_per_pixel;
    if (file_size > INT32_MAX)
        return nullptr;

    uint8_t* bytes = static_cast<uint8_t*>(calloc(size_t(file_size), 1));
    if (!bytes)
        return nullptr;
    bytes[2] = TGA_TYPE_TRUE_COLOR;
    bytes[12] = uint8_t(w & 0xFF);
    bytes[13] = uint8_t(w >> 8);
    bytes[14] = uint8_t(h & 0xFF);
    bytes[15] = uint8_t(h >> 8);
    bytes[16] = uint8_t(depth);
    bytes[17] = uint8_t(TGA_TOP_FIRST | (depth == 32 ? 8 : 0));

    uint8_t* out = bytes + TGA_HEADER_SIZE;
    const uint8_t* in = image->pixels;
    if (depth == 32) {
        memcpy(out, in, size_t(pixel_count) * 4);
    } else {
        for (int64_t i = 0; i < pixel_count; i++, in += 4, out += 3) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
    MemFile* file = mf_open_memory(bytes, int32_t(file_size));
    free(bytes);
    return file;
}
