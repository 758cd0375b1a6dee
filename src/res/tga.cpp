// TGA decoder: turns an uncompressed true-colour TGA file held in a MemFile
// into an Image of 32-bit blue-green-red-alpha pixels, top row first. The
// decoder owns nothing beyond the Image it returns to the caller.
//
// Invariants: an Image it returns has width and height of at least 1, a size
// of width * height * 4 that fits in int32, and a pixel block of exactly that
// size; pixels the file does not reach are zero. All reads go through the
// MemFile readers, which yield zero past the end, so a short or damaged file
// can never make the decoder read or write outside its buffers.

#include "res/tga.h"

#include <climits>
#include <cstdlib>

#include "res/files.h"

// Reads one pixel of `depth` bits and stores it as blue, green, red, alpha.
// An unknown depth reads nothing, stores zeros and returns 0; else 1.
static int tga_read_pixel(MemFile* file, int32_t depth, uint8_t* bgra)
{
    switch (depth) {
    case 32:
        for (int i = 0; i < 4; i++)
            bgra[i] = uint8_t(mf_getc(file));
        return 1;
    case 24:
        for (int i = 0; i < 3; i++)
            bgra[i] = uint8_t(mf_getc(file));
        bgra[3] = 255;
        return 1;
    case 16: {
        // 1-5-5-5: each 5-bit channel widened by a shift of three, so 31
        // becomes 248; the top bit is an all-or-nothing alpha.
        int v = mf_getw(file);
        bgra[0] = uint8_t((v & 0x1F) << 3);
        bgra[1] = uint8_t(((v >> 5) & 0x1F) << 3);
        bgra[2] = uint8_t(((v >> 10) & 0x1F) << 3);
        bgra[3] = (v & 0x8000) ? 255 : 0;
        return 1;
    }
    default:
        bgra[0] = bgra[1] = bgra[2] = bgra[3] = 0;
        return 0;
    }
}

// Allocates the pixels (zeroed) and fills them from header->data_offset on,
// in either row order, until the file or the image runs out. Refuses depths
// other than 16/24/32, a zero width or height, and sizes past int32.
static Image* tga_read_pixels(MemFile* file, const TgaHeader* header)
{
    if (!file || !header)
        return nullptr;
    int32_t width = header->width;
    int32_t height = header->height;
    int32_t depth = header->depth;
    if (depth != 16 && depth != 24 && depth != 32)
        return nullptr;
    // A zero-area image would start a bottom-up cursor before the block.
    if (width <= 0 || height <= 0)
        return nullptr;
    Image* image = image_alloc(width, height);
    if (!image)
        return nullptr;
    int64_t size = image->size;

    // The cursor is a byte offset into the block. A bottom-up file fills the
    // last row first and steps back two rows after each completed one; once
    // the top row is done the cursor drops below 0 and the loop ends.
    int64_t row_bytes = int64_t(width) * 4;
    int64_t cursor = header->bottom_up ? size - row_bytes : 0;
    mf_seek(file, header->data_offset, 0);
    while (!mf_eof(file)) {
        if (cursor < 0 || cursor >= size)
            break;
        tga_read_pixel(file, depth, image->pixels + cursor);
        cursor += 4;
        if (header->bottom_up && cursor % row_bytes == 0)
            cursor -= 2 * row_bytes;
    }
    return image;
}

// Reads the header from the start of `file`, then the pixels. Null when the
// image type is not 2 or the header is refused by tga_read_pixels.
static Image* tga_load(MemFile* file)
{
    if (!file)
        return nullptr;
    TgaHeader header;
    // Every other header field is found by its absolute offset, so the first
    // three must come from the start too, wherever the caller left pos.
    mf_seek(file, 0, 0);
    int id_length = mf_getc(file);
    mf_getc(file); // colour-map type: colour maps are not supported
    header.image_type = mf_getc(file);
    mf_seek(file, 8, 0);
    mf_getw(file); // x origin
    mf_getw(file); // y origin
    header.width = mf_getw(file);
    header.height = mf_getw(file);
    header.depth = mf_getc(file);
    int descriptor = mf_getc(file);
    header.bottom_up = (descriptor & 0x20) == 0 ? 1 : 0;
    header.data_offset = TGA_HEADER_SIZE + id_length;

    if (header.image_type != TGA_TYPE_TRUE_COLOR)
        return nullptr;
    return tga_read_pixels(file, &header);
}

Image* image_load(MemFile* file, int32_t format)
{
    if (format != IMAGE_FORMAT_TGA)
        return nullptr;
    return tga_load(file);
}

Image* image_alloc(int32_t width, int32_t height)
{
    // A TGA header holds each side in 16 bits; the pixel block must fit int32.
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        return nullptr;
    int64_t size = int64_t(width) * height * 4;
    if (size > INT32_MAX)
        return nullptr;
    Image* image = static_cast<Image*>(malloc(sizeof(Image)));
    if (!image)
        return nullptr;
    image->pixels = static_cast<uint8_t*>(calloc(size_t(size), 1));
    if (!image->pixels) {
        free(image);
        return nullptr;
    }
    image->width = width;
    image->height = height;
    image->size = int32_t(size);
    return image;
}

void image_free(Image* image)
{
    if (!image)
        return;
    free(image->pixels);
    free(image);
}
