// TGA decoding (row order, pixel depths, damaged headers or data) and the
// writer checked against the decoder.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "res/files.h"
#include "res/tga.h"
#include "res/tga_write.h"

namespace
{

using Bytes = std::vector<uint8_t>;
using ImagePtr = std::unique_ptr<Image, decltype(&image_free)>;

Bytes make_tga(int w, int h, int depth, int descriptor, const Bytes& pixels, int type = 2,
               int id_length = 0)
{
    Bytes b(18, 0);
    b[0] = uint8_t(id_length), b[2] = uint8_t(type), b[16] = uint8_t(depth);
    b[12] = uint8_t(w), b[13] = uint8_t(w >> 8), b[14] = uint8_t(h), b[15] = uint8_t(h >> 8);
    b[17] = uint8_t(descriptor);
    b.resize(b.size() + size_t(id_length), 0xEE);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

ImagePtr decode(const Bytes& b, int32_t format = IMAGE_FORMAT_TGA)
{
    MemFile* f = mf_open_memory(b.data(), int32_t(b.size()));
    ImagePtr image(image_load(f, format), &image_free);
    mf_close(f);
    return image;
}

Bytes pixel(const ImagePtr& image, int x, int y)
{
    const uint8_t* p = image->pixels + (y * image->width + x) * 4;
    return Bytes(p, p + 4);
}

const Bytes P0_P3 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

TEST(TgaTest, RowsLandWhereDescriptorBit5SaysAndShortFilesLeaveZeros)
{
    struct Case {
        int descriptor;
        Bytes stored, image;
    } cases[] = {
        // Bottom-up (bits 6-7 do not matter), top-down (nor do bits 0-4).
        {0xC0, P0_P3, {7, 8, 9, 255, 10, 11, 12, 255, 1, 2, 3, 255, 4, 5, 6, 255}},
        {0x3F, P0_P3, {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255}},
        // 1 1/3 pixels: the rest of the image stays zero.
        {0x20, {1, 2, 3, 4}, {1, 2, 3, 255, 4, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0}},
        {0x00, {1, 2, 3, 4}, {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 255, 4, 0, 0, 255}},
    };
    for (const Case& c : cases) {
        ImagePtr image = decode(make_tga(2, 2, 24, c.descriptor, c.stored));
        ASSERT_TRUE(image);
        EXPECT_EQ(Bytes(image->pixels, image->pixels + image->size), c.image) << c.descriptor;
    }
    ImagePtr none = decode(make_tga(1, 1, 24, 0, {}, 2, 255)); // pixels start past the end
    ASSERT_TRUE(none);
    EXPECT_EQ(pixel(none, 0, 0), Bytes(4, 0));
}

TEST(TgaTest, IdFieldSkippedAndDepthsConverted)
{
    Bytes pixels(128 * 4, 0);
    pixels[0] = 1, pixels[1] = 2, pixels[2] = 3, pixels[3] = 4;
    ImagePtr wide = decode(make_tga(0x80, 1, 32, 0x20, pixels, 2, 5));
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->width, 128);
    EXPECT_EQ(pixel(wide, 0, 0), Bytes({1, 2, 3, 4}));

    // 16 bits: 5-5-5 colour, the top bit the alpha.
    ImagePtr rgb555 =
        decode(make_tga(5, 1, 16, 0, {0xFF, 0xFF, 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0, 0, 0x80}));
    ASSERT_TRUE(rgb555);
    EXPECT_EQ(Bytes(rgb555->pixels, rgb555->pixels + 20),
              Bytes({248, 248, 248, 255, 0, 0, 248, 0, 0, 248, 0, 0, 248, 0, 0, 0, 0, 0, 0, 255}));
}

TEST(TgaTest, UnsupportedOrOversizedFilesAreRefused)
{
    for (const Bytes& file :
         {make_tga(2, 2, 24, 0, P0_P3, 10), make_tga(2, 2, 24, 0, P0_P3, 1),
          make_tga(2, 2, 8, 0, P0_P3), make_tga(2, 2, 15, 0, P0_P3), make_tga(0, 2, 24, 0, P0_P3),
          make_tga(2, 0, 24, 0, P0_P3), make_tga(65535, 65535, 32, 0, P0_P3),
          make_tga(32768, 16384, 24, 0, P0_P3), // exactly 2^31 bytes
          Bytes(10, 0)})
        EXPECT_FALSE(decode(file));
    EXPECT_FALSE(decode(make_tga(2, 2, 24, 0, P0_P3), 2));
    EXPECT_EQ(image_load(nullptr, IMAGE_FORMAT_TGA), nullptr);
}

TEST(TgaWriteTest, DecodesBackToTheSamePixelsAndRefusesTheUndescribable)
{
    // 300 x 2 (the width needs both header bytes) of distinct pixels.
    Image* image = image_alloc(300, 2);
    for (int32_t i = 0; i < image->size; i++)
        image->pixels[i] = uint8_t(i * 7 + i / 5);
    for (int depth : {32, 24}) {
        MemFile* file = tga_encode(image, depth);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->size, 18 + 300 * 2 * depth / 8);
        EXPECT_EQ(file->data[17] & 0x20, 0x20) << "rows are stored top first";
        Image* back = image_load(file, IMAGE_FORMAT_TGA);
        ASSERT_NE(back, nullptr);
        ASSERT_EQ(back->width, 300);
        ASSERT_EQ(back->height, 2);
        for (int32_t i = 0; i < image->size; i++)
            ASSERT_EQ(back->pixels[i], (depth == 24 && i % 4 == 3) ? 255 : image->pixels[i])
                << "byte " << i << " at depth " << depth;
        image_free(back);
        mf_close(file);
    }

    EXPECT_EQ(image_alloc(0, 4), nullptr);
    EXPECT_EQ(image_alloc(65536, 1), nullptr);
    EXPECT_EQ(tga_encode(image, 16), nullptr);
    EXPECT_EQ(tga_encode(nullptr, 32), nullptr);
    image->size -= 4; // a pixel block that does not match the sides
    EXPECT_EQ(tga_encode(image, 32), nullptr);
    image->size += 4;
    image_free(image);
}

} // namespace
