// TGA decoding: row order, pixel depths and damaged headers or data.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "res/files.h"
#include "res/tga.h"

namespace {

using Bytes = std::vector<uint8_t>;
using ImagePtr = std::unique_ptr<Image, decltype(&image_free)>;

Bytes make_tga(int w, int h, int depth, int descriptor, const Bytes& pixels, int type = 2, int id_length = 0) {
    Bytes b = {uint8_t(id_length), 0, uint8_t(type), 0, 0, 0, 0, 0, 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8),
               uint8_t(h), uint8_t(h >> 8), uint8_t(depth), uint8_t(descriptor)};
    b.resize(b.size() + id_length, 0xEE);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

ImagePtr decode(const Bytes& b, int32_t format = IMAGE_FORMAT_TGA) {
    MemFile* f = mf_open_memory(b.data(), int32_t(b.size()));
    ImagePtr image(image_load(f, format), &image_free);
    mf_close(f);
    return image;
}

Bytes pixel(const ImagePtr& image, int x, int y) {
    const uint8_t* p = image->pixels + (y * image->width + x) * 4;
    return Bytes(p, p + 4);
}

const Bytes P0_P3 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

TEST(TgaTest, RowOrderFollowsDescriptorBit5) {
    ImagePtr up = decode(make_tga(2, 2, 24, 0xC0, P0_P3));  // bits 6-7 do not matter
    ASSERT_TRUE(up);
    EXPECT_EQ(up->size, 16);
    EXPECT_EQ(pixel(up, 0, 0), Bytes({7, 8, 9, 255}));
    EXPECT_EQ(pixel(up, 1, 0), Bytes({10, 11, 12, 255}));
    EXPECT_EQ(pixel(up, 0, 1), Bytes({1, 2, 3, 255}));
    ImagePtr down = decode(make_tga(2, 2, 24, 0x3F, P0_P3));  // nor do bits 0-4
    ASSERT_TRUE(down);
    EXPECT_EQ(pixel(down, 0, 0), Bytes({1, 2, 3, 255}));
    EXPECT_EQ(pixel(down, 1, 1), Bytes({10, 11, 12, 255}));
}

TEST(TgaTest, IdFieldSkippedAndDepthsConverted) {
    Bytes pixels(128 * 4, 0);
    pixels[0] = 1, pixels[1] = 2, pixels[2] = 3, pixels[3] = 4;
    ImagePtr wide = decode(make_tga(0x80, 1, 32, 0x20, pixels, 2, 5));
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->width, 128);
    EXPECT_EQ(pixel(wide, 0, 0), Bytes({1, 2, 3, 4}));

    ImagePtr rgb555 = decode(make_tga(5, 1, 16, 0, {0xFF, 0xFF, 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0, 0, 0x80}));
    ASSERT_TRUE(rgb555);
    EXPECT_EQ(pixel(rgb555, 0, 0), Bytes({248, 248, 248, 255}));
    EXPECT_EQ(pixel(rgb555, 1, 0), Bytes({0, 0, 248, 0}));
    EXPECT_EQ(pixel(rgb555, 2, 0), Bytes({0, 248, 0, 0}));
    EXPECT_EQ(pixel(rgb555, 3, 0), Bytes({248, 0, 0, 0}));
    EXPECT_EQ(pixel(rgb555, 4, 0), Bytes({0, 0, 0, 255}));
}

TEST(TgaTest, UnsupportedOrOversizedFilesAreRefused) {
    for (const Bytes& file : {make_tga(2, 2, 24, 0, P0_P3, 10), make_tga(2, 2, 24, 0, P0_P3, 1),
                              make_tga(2, 2, 8, 0, P0_P3), make_tga(2, 2, 15, 0, P0_P3),
                              make_tga(0, 2, 24, 0, P0_P3), make_tga(2, 0, 24, 0, P0_P3),
                              make_tga(65535, 65535, 32, 0, P0_P3),
                              make_tga(32768, 16384, 24, 0, P0_P3),  // exactly 2^31 bytes
                              Bytes(10, 0)})
        EXPECT_FALSE(decode(file));
    EXPECT_FALSE(decode(make_tga(2, 2, 24, 0, P0_P3), 2));
    EXPECT_EQ(image_load(nullptr, IMAGE_FORMAT_TGA), nullptr);
}

TEST(TgaTest, ShortFileFillsOnlyThePixelsItHolds) {
    ImagePtr down = decode(make_tga(2, 2, 24, 0x20, {1, 2, 3, 4}));  // 1 1/3 pixels
    ASSERT_TRUE(down);
    EXPECT_EQ(pixel(down, 0, 0), Bytes({1, 2, 3, 255}));
    EXPECT_EQ(pixel(down, 1, 0), Bytes({4, 0, 0, 255}));
    EXPECT_EQ(pixel(down, 0, 1), Bytes(4, 0));

    ImagePtr up = decode(make_tga(512, 512, 32, 0, Bytes(512 * 4, 0x55)));  // one row
    ASSERT_TRUE(up);
    EXPECT_EQ(pixel(up, 511, 511), Bytes(4, 0x55));
    EXPECT_EQ(pixel(up, 511, 510), Bytes(4, 0));

    ImagePtr none = decode(make_tga(1, 1, 24, 0, {}, 2, 255));  // pixels start past the end
    ASSERT_TRUE(none);
    EXPECT_EQ(pixel(none, 0, 0), Bytes(4, 0));
}

TEST(TgaTest, HeaderReadFromTheStartAndFileLeftOpen) {
    Bytes file = make_tga(2, 2, 24, 0x20, P0_P3);
    file.resize(file.size() + 100, 0xFF);  // trailing bytes are ignored
    MemFile* f = mf_open_memory(file.data(), int32_t(file.size()));
    mf_seek(f, 20, 0);
    ImagePtr image(image_load(f, IMAGE_FORMAT_TGA), &image_free);
    ASSERT_TRUE(image);
    EXPECT_EQ(pixel(image, 1, 1), Bytes({10, 11, 12, 255}));
    EXPECT_EQ(mf_getc(f), 0xFF);
    mf_close(f);
}

}  // namespace
