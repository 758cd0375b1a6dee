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
std::vector<std::vector<float>> samples(const char* name, int* rate)
{
    MemFile* f = member(name);
    WavHeader h;
    std::vector<std::vector<float>> ch;
    if (f && wav_read_header(f, &h)) {
        *rate = int(h.format.samples_per_sec);
        ch.resize(h.format.channels);
        const uint8_t* d = f->data + WAV_DATA_OFFSET;
        for (int32_t i = 0; i + 1 < h.data_available; i += 2)
            ch[size_t(i / 2 % h.format.channels)].push_back(int16_t(d[i] | d[i + 1] << 8) /
                                                            32768.0f);
    }
    mf_close(f);
    return ch;
}

float rms(const std::vector<float>& v, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; i++)
        sum += double(v[i]) * v[i];
    return float(std::sqrt(sum / double(to - from)));
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
        EXPECT_GE(h.data_length / int32_t(h.format.avg_bytes_per_sec), 5) << name << ": seconds";
        mf_close(f);
    }
    snd_deinit();
}

TEST_F(AssetsTest, HeightsStayInTheSignedByteRangeWithPondsAndADryStart)
{
    ImagePtr hf = texture("data/hf");
    ASSERT_TRUE(hf);
    int below_water = 0, top = 0;
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            ASSERT_LE(at(hf, x, y, 0), 127) << "128+ reads as -12 or lower: " << x << "," << y;
            top = std::max(top, at(hf, x, y, 0));
            below_water += at(hf, x, y, 0) < 32; // b / 16 - 4 < -2
        }
    EXPECT_GE(top, 100) << "the hills use the upper range";
    EXPECT_GT(below_water, 256 * 256 / 100) << "a few hollows hold water";
    EXPECT_LT(below_water, 256 * 256 / 5) << "but it is land with ponds, not a lake";
    // The camera starts at x = -5, z = 0 (column 123, row 128), clear of the swell (-1.8).
    for (int dz = -2; dz <= 2; dz++)
        for (int dx = -2; dx <= 2; dx++)
            EXPECT_GE(at(hf, 123 + dx, 128 + dz, 0) / 16.0 - 4, -1.0);
}

// Of the rain's streaks that reach row `a`, the share that goes on into row `b`.
double streaks_going_on(const ImagePtr& rain, int a, int b)
{
    int reaching = 0, going_on = 0;
    for (int x = 0; x < rain->width; x++)
        if (at(rain, x, a, 3) >= 24)
            reaching++, going_on += at(rain, x, b, 3) > 0;
    return reaching ? double(going_on) / reaching : 1.0;
}

TEST_F(AssetsTest, RepeatingTexturesJoinAtTheirEdges)
{
    for (const char* name :
         {"data/hf", "data/hflight", "textures/floor", "textures/water", "textures/rain"}) {
        ImagePtr im = texture(name);
        EXPECT_LT(seam_ratio(im, true), 1.5) << name << " left-right";
        EXPECT_LT(seam_ratio(im, false), 1.5) << name << " top-bottom";
    }
    // The rain is mostly clear, so an average hides a seam: a streak running off
    // the bottom must go on at the top as often as from any row to the next.
    ImagePtr rain = texture("textures/rain");
    double inside = 0;
    for (int y = 0; y + 1 < rain->height; y++)
        inside += streaks_going_on(rain, y, y + 1) / (rain->height - 1);
    EXPECT_GT(streaks_going_on(rain, rain->height - 1, 0), 0.6 * inside);
}

TEST_F(AssetsTest, LightmapKeepsTheDetailBrightAndFollowsTheGround)
{
    ImagePtr light = texture("data/hflight"), hf = texture("data/hf");
    double sum = 0, wet = 0, dry = 0;
    int wet_n = 0, dry_n = 0;
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            double l =
                0.11 * at(light, x, y, 0) + 0.59 * at(light, x, y, 1) + 0.3 * at(light, x, y, 2);
            sum += l;
            // Texel (x, y) lies between grid points (x, y) and (x+1, y+1).
            int h = at(hf, x, y, 0) + at(hf, (x + 1) & 255, (y + 1) & 255, 0);
            if (h < 2 * 24)
                wet += l, wet_n++;
            if (h > 2 * 64)
                dry += l, dry_n++;
        }
    EXPECT_NEAR(sum / 65536, 128, 8) << "x2 modulation leaves the detail as bright as it is";
    ASSERT_TRUE(wet_n > 0 && dry_n > 0);
    EXPECT_LT(wet / wet_n, 0.8 * dry / dry_n) << "pond floors lie in shade under the water";
}

TEST_F(AssetsTest, BlendedTexturesCarryTheirAlpha)
{
    ImagePtr leaf = texture("textures/leaf");
    int n = leaf->width - 1, border = 0;
    for (int i = 0; i <= n; i++)
        border += at(leaf, i, 0, 3) + at(leaf, i, n, 3) + at(leaf, 0, i, 3) + at(leaf, n, i, 3);
    EXPECT_EQ(border, 0);
    EXPECT_EQ(at(leaf, n / 2, n / 2, 3), 255);

    ImagePtr water = texture("textures/water");
    for (int32_t i = 3; i < water->size; i += 4) // partly transparent: about 0.5..0.8
        ASSERT_TRUE(water->pixels[i] >= 120 && water->pixels[i] <= 205) << int(water->pixels[i]);

    ImagePtr rain = texture("textures/rain");
    int64_t alpha = 0;
    for (int32_t i = 0; i < rain->size; i += 4) {
        alpha += rain->pixels[i + 3];
        ASSERT_GE(rain->pixels[i + 2], 180) << "streak colour is light even where clear";
    }
    EXPECT_LT(alpha / (rain->size / 4), 25) << "mostly clear";

    // The bolt is added onto the frame: black at the sides, bright down every row.
    ImagePtr bolt = texture("textures/bolt");
    for (int y = 0; y < bolt->height; y++) {
        ASSERT_LE(at(bolt, 0, y, 0) + at(bolt, bolt->width - 1, y, 0), 8) << y;
        int brightest = 0;
        for (int x = 0; x < bolt->width; x++)
            brightest = std::max(brightest, at(bolt, x, y, 1));
        ASSERT_GE(brightest, 200) << "the channel is unbroken at row " << y;
    }
}

TEST_F(AssetsTest, FontHasAWhiteGlyphInEveryPrintableCell)
{
    ImagePtr font = texture("textures/bigchars");
    int cell = font->width / 16;
    for (int n = 32; n < 127; n++) {
        int solid = 0, white = 0;
        for (int y = (n / 16) * cell; y < (n / 16 + 1) * cell; y++)
            for (int x = (n % 16) * cell; x < (n % 16 + 1) * cell; x++)
                if (at(font, x, y, 3) >= 250) // the glyph itself, not its rim
                    solid++, white += at(font, x, y, 0) > 230 && at(font, x, y, 2) > 230;
        EXPECT_EQ(solid > 0, n != 32) << "character " << n;
        EXPECT_EQ(white, solid) << "character " << n;
    }
}

TEST_F(AssetsTest, SoundsHaveTheShapeTheScenePlaysThemFor)
{
    int rate = 0;
    for (const std::vector<float>& ch : samples("sound/rain.wav", &rate)) {
        size_t n = ch.size(), second = size_t(rate);
        float total = rms(ch, 0, n);
        EXPECT_GT(total, 0.03f);
        for (size_t s = 0; s + second <= n; s += second) // steady: each second within 3 dB
            EXPECT_NEAR(20 * std::log10(rms(ch, s, s + second) / total), 0, 3);
        // A seamless loop: the step from the last sample to the first is an ordinary one.
        double step = 0;
        for (size_t i = 1; i < n; i++)
            step += std::fabs(ch[i] - ch[i - 1]) / double(n - 1);
        EXPECT_LT(std::fabs(ch[0] - ch[n - 1]), 5 * step);
    }
    float distant_peak = 0;
    for (const char* name : {"sound/thunder1.wav", "sound/thunder2.wav", "sound/thunder3.wav",
                             "sound/bgthunder.wav"}) {
        const std::vector<float> v = samples(name, &rate).at(0);
        size_t quarter = size_t(rate) / 4, loudest = 0;
        float loudest_rms = 0, peak = 0;
        for (size_t i = 0; i + quarter <= v.size(); i += quarter)
            if (rms(v, i, i + quarter) > loudest_rms)
                loudest_rms = rms(v, i, i + quarter), loudest = i;
        for (float x : v)
            peak = std::max(peak, std::fabs(x));
        EXPECT_LT(peak, 0.999f) << name << " clips";
        EXPECT_LT(std::fabs(v.back()), 0.001f) << name << " ends in silence";
        if (std::string(name) == "sound/bgthunder.wav") {
            distant_peak = peak;
            EXPECT_GT(loudest, size_t(rate) / 2) << "a distant roll swells slowly";
            continue;
        }
        EXPECT_LT(loudest, size_t(rate)) << name << ": the crack comes first";
        EXPECT_GT(peak, 0.8f) << name;
        // A long rumble: still well audible three seconds in.
        EXPECT_GT(rms(v, size_t(rate) * 3, size_t(rate) * 4), loudest_rms / 30) << name;
    }
    EXPECT_LT(distant_peak, 0.5f) << "distant thunder is quieter than a close strike";
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
