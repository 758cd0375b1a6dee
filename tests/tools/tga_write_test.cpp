// The TGA writer against the program's own decoder.
#include <gtest/gtest.h>

#include "res/files.h"
#include "res/tga.h"
#include "res/tga_write.h"

namespace
{

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
