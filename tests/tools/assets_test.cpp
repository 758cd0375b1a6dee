// The generated data set as the program meets it in data.pak: every file the
// scene names is there and decodes through the program's own readers, and
// the pictures and sounds have the properties the scene relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "res/files.h"
#include "res/tga.h"
#include "res/wav.h"
#include "snd/sound.h"
#include "test_util.h"
#include "tools/tool_paths.h"

namespace fs = std::filesystem;

namespace
{

const char* const TEXTURES[] = {"textures/common/notfound",
                                "textures/floor",
                                "textures/shade",
                                "textures/bigchars",
                                "textures/bolt",
                                "textures/rain",
                                "textures/water",
                                "textures/leaf",
                                "data/hf",
                                "data/hflight"};
const char* const SOUNDS[] = {"sound/rain.wav", "sound/thunder1.wav", "sound/thunder2.wav",
                              "sound/thunder3.wav", "sound/bgthunder.wav"};

using ImagePtr = std::unique_ptr<Image, decltype(&image_free)>;

// A member by its '/' name, asked for the way the loaders do: with '\'.
MemFile* member(std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    return mf_open_pak(name.c_str());
}

ImagePtr texture(const std::string& name)
{
    MemFile* f = member(name + ".tga");
    ImagePtr image(f ? image_load(f, IMAGE_FORMAT_TGA) : nullptr, &image_free);
    mf_close(f);
    return image;
}

// Byte c (0 blue, 1 green, 2 red, 3 alpha) of pixel (x, y).
int at(const ImagePtr& im, int x, int y, int c)
{
    return im->pixels[(size_t(y) * size_t(im->width) + size_t(x)) * 4 + size_t(c)];
}

// The samples of a 16-bit WAV member, one vector per channel, in -1..1.
std::vector<std::vector<float>> samples(const char* name)
{
    MemFile* f = member(name);
    WavHeader h;
    std::vector<std::vector<float>> ch;
    if (f && wav_read_header(f, &h)) {
        ch.resize(h.format.channels);
        const uint8_t* d = f->data + WAV_DATA_OFFSET;
        for (int32_t i = 0; i + 1 < h.data_available; i += 2)
            ch[size_t(i / 2 % h.format.channels)].push_back(int16_t(d[i] | d[i + 1] << 8) /
                                                            32768.0f);
    }
    mf_close(f);
    return ch;
}

// How much a picture changes across its wrap-around seam compared with
// between neighbouring lines inside: near 1 for a picture that tiles.
double seam_ratio(const ImagePtr& im, bool across)
{
    int lines = across ? im->width : im->height, along = across ? im->height : im->width;
    double inside = 0, seam = 0;
    for (int a = 0; a < lines; a++) {
        double sum = 0;
        int b = (a + 1) % lines;
        for (int k = 0; k < along; k++)
            for (int c = 0; c < 4; c++)
                sum += std::abs(across ? at(im, a, k, c) - at(im, b, k, c)
                                       : at(im, k, a, c) - at(im, k, b, c));
        if (b == 0)
            seam = sum;
        else
            inside += sum / (lines - 1);
    }
    return (seam + 1) / (inside + 1);
}

class AssetsTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(pak_open(data_pak().c_str()), 1) << data_pak() << " missing: build `data`";
    }
    void TearDown() override { pak_close(); }
};

TEST_F(AssetsTest, EveryFileTheSceneNamesIsInThePakAndDecodes)
{
    EXPECT_EQ(g_pak_count, int32_t(std::size(TEXTURES) + std::size(SOUNDS)));
    for (const char* name : TEXTURES) {
        ImagePtr im = texture(name);
        ASSERT_TRUE(im) << name;
        EXPECT_EQ(im->width & (im->width - 1), 0) << name << " width " << im->width;
        EXPECT_EQ(im->height & (im->height - 1), 0) << name << " height " << im->height;
        bool height_image = std::string(name).starts_with("data/");
        EXPECT_TRUE(!height_image || (im->width == 256 && im->height == 256)) << name;
    }
    ImagePtr font = texture("textures/bigchars");
    EXPECT_TRUE(font->width >= 256 && font->width == font->height);

    ASSERT_EQ(snd_init_null_output(), 1);
    for (const char* name : SOUNDS) {
        EXPECT_NE(snd_get(name), -1) << name << " refused by the sound manager";
        MemFile* f = member(name);
        WavHeader h;
        ASSERT_EQ(wav_read_header(f, &h), 1);
        EXPECT_EQ(wav_is_canonical(f), 1) << name;
        EXPECT_EQ(h.format.bits_per_sample, 16) << name;
        EXPECT_EQ(h.format.channels, std::string(name) == "sound/rain.wav" ? 2 : 1) << name;
        EXPECT_GE(h.data_length / int32_t(h.format.avg_bytes_per_sec), 3) << name << ": seconds";
        mf_close(f);
    }
    snd_deinit();
}

TEST_F(AssetsTest, HeightsAreSignedBytesAndRepeatingPicturesJoinAtTheirEdges)
{
    ImagePtr hf = texture("data/hf");
    for (int32_t i = 0; i < hf->size; i += 4) // 128 and above would read as a deep hole
        ASSERT_LE(hf->pixels[i], 127) << i / 4;
    for (const char* name :
         {"data/hf", "data/hflight", "textures/floor", "textures/water", "textures/rain"}) {
        ImagePtr im = texture(name);
        EXPECT_LT(seam_ratio(im, true), 1.5) << name << " left-right";
        EXPECT_LT(seam_ratio(im, false), 1.5) << name << " top-bottom";
    }
    // Blending needs the alpha: the leaf is cut out, the water partly transparent.
    ImagePtr leaf = texture("textures/leaf");
    EXPECT_EQ(at(leaf, 0, 0, 3) + at(leaf, leaf->width - 1, leaf->height / 2, 3), 0);
    EXPECT_EQ(at(leaf, leaf->width / 2, leaf->height / 2, 3), 255);
    ImagePtr water = texture("textures/water");
    for (int32_t i = 3; i < water->size; i += 4)
        ASSERT_TRUE(water->pixels[i] >= 120 && water->pixels[i] <= 205) << int(water->pixels[i]);
}

TEST_F(AssetsTest, TheRainLoopsWithoutAClick)
{
    for (const std::vector<float>& ch : samples("sound/rain.wav")) {
        // The step from the last sample to the first is an ordinary one.
        size_t n = ch.size();
        double step = 0;
        for (size_t i = 1; i < n; i++)
            step += std::fabs(ch[i] - ch[i - 1]) / double(n - 1);
        EXPECT_LT(std::fabs(ch[0] - ch[n - 1]), 5 * step);
    }
}

TEST_F(AssetsTest, GeneratorWritesTheSameBytesEveryRunAndThePakHoldsThem)
{
    ASSERT_TRUE(fs::exists(asset_tool())) << asset_tool() << " is not built";
    ScratchDir scratch;
    ASSERT_EQ(run_command(quoted(asset_tool()) + " one"), 0);
    ASSERT_EQ(run_command(quoted(asset_tool()) + " two"), 0);
    size_t files = 0;
    for (auto& e : fs::recursive_directory_iterator("one")) {
        if (!e.is_regular_file())
            continue;
        fs::path rel = e.path().lexically_relative("one");
        Bytes bytes = read_bytes(e.path());
        EXPECT_EQ(bytes, read_bytes("two" / rel)) << rel;
        MemFile* m = member(rel.string());
        ASSERT_NE(m, nullptr) << rel;
        EXPECT_TRUE(Bytes(m->data, m->data + m->size) == bytes) << rel;
        mf_close(m);
        files++;
    }
    EXPECT_EQ(files, std::size(TEXTURES) + std::size(SOUNDS));
}

} // namespace
