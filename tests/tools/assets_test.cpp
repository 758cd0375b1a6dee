// The generated data set, as the program will meet it in data.pak: every file
// the scene names is there under its backslash name and decodes through the
// program's own readers, the pictures have the properties the scene relies
// on (heights in the signed-byte range, tiling edges, alpha where it blends)
// and the sounds the shape the scene plays them for.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
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

class AssetsTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(pak_open(data_pak().c_str()), 1)
            << data_pak() << " missing: build the default target";
    }
    void TearDown() override { pak_close(); }

    // Opens a member the way the loaders do: '/' turned to '\'.
    static MemFile* member(std::string name)
    {
        for (char& c : name)
            if (c == '/')
                c = '\\';
        return mf_open_pak(name.c_str());
    }
    static Image* texture(const std::string& name)
    {
        MemFile* f = member(name + ".tga");
        Image* image = f ? image_load(f, IMAGE_FORMAT_TGA) : nullptr;
        mf_close(f);
        return image;
    }
};

struct Samples {
    int channels = 0, rate = 0;
    std::vector<std::vector<float>> ch; // -1..1
};

Samples decode(MemFile* f)
{
    Samples s;
    WavHeader h;
    if (!wav_read_header(f, &h))
        return s;
    s.channels = h.format.channels;
    s.rate = int(h.format.samples_per_sec);
    s.ch.assign(size_t(s.channels), {});
    const uint8_t* d = f->data + WAV_DATA_OFFSET;
    for (int32_t i = 0; i + 1 < h.data_available; i += 2) {
        int16_t v = int16_t(d[i] | d[i + 1] << 8);
        s.ch[size_t((i / 2) % s.channels)].push_back(v / 32768.0f);
    }
    return s;
}

float rms(const std::vector<float>& v, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; i++)
        sum += double(v[i]) * v[i];
    return float(std::sqrt(sum / double(to - from)));
}

int channel(const Image* im, int x, int y, int c)
{
    return im->pixels[(size_t(y) * im->width + x) * 4 + c];
}

// How much a picture changes across its wrap-around seam compared with how
// much it changes between any two neighbouring rows or columns inside. A
// picture that tiles has a seam like any other line: a ratio near 1.
double seam_ratio(const Image* im, bool across)
{
    int w = im->width, h = im->height;
    int lines = across ? w : h, along = across ? h : w;
    double inside = 0, seam = 0;
    for (int a = 0; a < lines; a++) {
        double sum = 0;
        int b = (a + 1) % lines;
        for (int k = 0; k < along; k++) {
            for (int c = 0; c < 4; c++) {
                int p = across ? channel(im, a, k, c) : channel(im, k, a, c);
                int q = across ? channel(im, b, k, c) : channel(im, k, b, c);
                sum += std::abs(p - q);
            }
        }
        if (b == 0)
            seam = sum;
        else
            inside += sum / (lines - 1);
    }
    return (seam + 1) / (inside + 1);
}

TEST_F(AssetsTest, EveryFileTheSceneNamesIsInThePakAndDecodes)
{
    EXPECT_EQ(g_pak_count, int32_t(std::size(TEXTURES) + std::size(SOUNDS)));
    for (const char* name : TEXTURES) {
        Image* im = texture(name);
        ASSERT_NE(im, nullptr) << name;
        EXPECT_EQ(im->width & (im->width - 1), 0) << name << " width " << im->width;
        EXPECT_EQ(im->height & (im->height - 1), 0) << name << " height " << im->height;
        image_free(im);
    }
    for (const char* name : {"data/hf", "data/hflight"}) {
        Image* im = texture(name);
        EXPECT_EQ(im->width, 256);
        EXPECT_EQ(im->height, 256);
        image_free(im);
    }
    Image* font = texture("textures/bigchars");
    EXPECT_GE(font->width, 256);
    EXPECT_EQ(font->width, font->height);
    image_free(font);

    for (const char* name : SOUNDS) {
        MemFile* f = member(name);
        ASSERT_NE(f, nullptr) << name;
        EXPECT_EQ(wav_is_canonical(f), 1) << name;
        WavHeader h;
        ASSERT_EQ(wav_read_header(f, &h), 1);
        EXPECT_EQ(h.format.bits_per_sample, 16) << name;
        EXPECT_EQ(h.format.channels, strcmp(name, "sound/rain.wav") == 0 ? 2 : 1) << name;
        EXPECT_GE(h.data_length / int32_t(h.format.avg_bytes_per_sec), 5) << name << ": seconds";
        mf_close(f);
    }
}

TEST_F(AssetsTest, SoundsLoadThroughTheSoundManager)
{
    ASSERT_EQ(snd_init_null_output(), 1);
    for (const char* name : SOUNDS) {
        int slot = snd_get(name);
        ASSERT_NE(slot, -1) << name << " refused by the sound manager";
        MemFile* f = member(name);
        WavHeader h;
        ASSERT_EQ(wav_read_header(f, &h), 1);
        void* bytes = nullptr;
        DWORD locked = 0;
        ASSERT_GE(g_sounds[slot].buffer->Lock(0, 0, &bytes, &locked, nullptr, nullptr,
                                              DSBLOCK_ENTIREBUFFER),
                  0);
        EXPECT_EQ(int32_t(locked), h.data_length) << name;
        EXPECT_EQ(memcmp(bytes, f->data + WAV_DATA_OFFSET, size_t(h.data_length)), 0) << name;
        g_sounds[slot].buffer->Unlock(bytes, locked, nullptr, 0);
        mf_close(f);
    }
    snd_deinit();
}

TEST_F(AssetsTest, HeightsStayInTheSignedByteRangeWithPondsAndADryStart)
{
    Image* hf = texture("data/hf");
    ASSERT_NE(hf, nullptr);
    int below_water = 0, top = 0;
    for (int y = 0; y < 256; y++) {
        for (int x = 0; x < 256; x++) {
            int b = channel(hf, x, y, 0);
            ASSERT_LE(b, 127) << "a byte of 128+ reads as -12 or lower: " << x << "," << y;
            top = std::max(top, b);
            below_water += b < 32; // b / 16 - 4 < -2
        }
    }
    EXPECT_GE(top, 100) << "the hills use the upper range";
    EXPECT_GT(below_water, 256 * 256 / 100) << "a few hollows hold water";
    EXPECT_LT(below_water, 256 * 256 / 5) << "but it is land with ponds, not a lake";
    // The camera starts at x = -5, z = 0: column 123, row 128, and all the
    // cells around it stand clear of the water's highest swell (-1.8).
    for (int dz = -2; dz <= 2; dz++)
        for (int dx = -2; dx <= 2; dx++)
            EXPECT_GE(channel(hf, 123 + dx, 128 + dz, 0) / 16.0 - 4, -1.0);
    EXPECT_LT(seam_ratio(hf, true), 1.5);
    EXPECT_LT(seam_ratio(hf, false), 1.5);
    image_free(hf);
}

// Of the streaks that reach row `a` of the rain, the share that goes on into
// row `b` below it.
double streaks_going_on(const Image* rain, int a, int b)
{
    int reaching = 0, going_on = 0;
    for (int x = 0; x < rain->width; x++) {
        if (channel(rain, x, a, 3) < 24)
            continue;
        reaching++;
        going_on += channel(rain, x, b, 3) > 0;
    }
    return reaching ? double(going_on) / reaching : 1.0;
}

TEST_F(AssetsTest, RepeatingTexturesJoinAtTheirEdges)
{
    for (const char* name : {"textures/floor", "textures/water", "textures/rain", "data/hflight"}) {
        Image* im = texture(name);
        ASSERT_NE(im, nullptr) << name;
        EXPECT_LT(seam_ratio(im, true), 1.5) << name << " left-right";
        EXPECT_LT(seam_ratio(im, false), 1.5) << name << " top-bottom";
        image_free(im);
    }
    // The rain is mostly clear, so an average hides a seam: follow the
    // streaks instead. One that runs off the bottom edge must go on at the
    // top as often as streaks go on from any row to the next.
    Image* rain = texture("textures/rain");
    double inside = 0;
    for (int y = 0; y + 1 < rain->height; y++)
        inside += streaks_going_on(rain, y, y + 1) / (rain->height - 1);
    EXPECT_GT(streaks_going_on(rain, rain->height - 1, 0), 0.6 * inside);
    image_free(rain);
}

TEST_F(AssetsTest, LightmapKeepsTheDetailBrightAndFollowsTheGround)
{
    Image* light = texture("data/hflight");
    Image* hf = texture("data/hf");
    ASSERT_TRUE(light && hf);
    double sum = 0, wet = 0, dry = 0;
    int wet_n = 0, dry_n = 0;
    for (int y = 0; y < 256; y++) {
        for (int x = 0; x < 256; x++) {
            double l = 0.11 * channel(light, x, y, 0) + 0.59 * channel(light, x, y, 1) +
                       0.3 * channel(light, x, y, 2);
            sum += l;
            // Texel (x, y) lies between grid points (x, y) and (x+1, y+1).
            int h = channel(hf, x, y, 0) + channel(hf, (x + 1) & 255, (y + 1) & 255, 0);
            if (h < 2 * 24)
                wet += l, wet_n++;
            if (h > 2 * 64)
                dry += l, dry_n++;
        }
    }
    EXPECT_NEAR(sum / 65536, 128, 8) << "x2 modulation leaves the detail as bright as it is";
    ASSERT_GT(wet_n, 0);
    ASSERT_GT(dry_n, 0);
    EXPECT_LT(wet / wet_n, 0.8 * dry / dry_n) << "pond floors lie in shade under the water";
    image_free(light);
    image_free(hf);
}

TEST_F(AssetsTest, BlendedTexturesCarryTheirAlpha)
{
    Image* leaf = texture("textures/leaf");
    ASSERT_NE(leaf, nullptr);
    for (int i = 0; i < leaf->width; i++) {
        EXPECT_EQ(channel(leaf, i, 0, 3), 0);
        EXPECT_EQ(channel(leaf, i, leaf->height - 1, 3), 0);
        EXPECT_EQ(channel(leaf, 0, i, 3), 0);
        EXPECT_EQ(channel(leaf, leaf->width - 1, i, 3), 0);
    }
    EXPECT_EQ(channel(leaf, leaf->width / 2, leaf->height / 2, 3), 255);
    image_free(leaf);

    Image* water = texture("textures/water");
    int lo = 255, hi = 0;
    for (int32_t i = 3; i < water->size; i += 4)
        lo = std::min(lo, int(water->pixels[i])), hi = std::max(hi, int(water->pixels[i]));
    EXPECT_GE(lo, 120); // about 0.5
    EXPECT_LE(hi, 205); // about 0.8
    image_free(water);

    Image* rain = texture("textures/rain");
    int64_t alpha = 0;
    for (int32_t i = 0; i < rain->size; i += 4) {
        alpha += rain->pixels[i + 3];
        ASSERT_GE(rain->pixels[i + 2], 180)
            << "streak colour is light everywhere, even where clear";
    }
    EXPECT_LT(alpha / (rain->size / 4), 25) << "mostly clear";
    image_free(rain);

    // The bolt is added onto the frame: black at the billboard's sides,
    // white-hot down its middle from top to bottom.
    Image* bolt = texture("textures/bolt");
    for (int y = 0; y < bolt->height; y++) {
        ASSERT_LE(channel(bolt, 0, y, 0) + channel(bolt, bolt->width - 1, y, 0), 8) << y;
        int brightest = 0;
        for (int x = 0; x < bolt->width; x++)
            brightest = std::max(brightest, channel(bolt, x, y, 1));
        ASSERT_GE(brightest, 200) << "the channel is unbroken at row " << y;
    }
    image_free(bolt);
}

TEST_F(AssetsTest, FontHasAWhiteGlyphInEveryPrintableCell)
{
    Image* font = texture("textures/bigchars");
    ASSERT_NE(font, nullptr);
    int cell = font->width / 16;
    for (int n = 32; n < 127; n++) {
        int solid = 0, white = 0;
        for (int y = 0; y < cell; y++) {
            for (int x = 0; x < cell; x++) {
                int px = (n % 16) * cell + x, py = (n / 16) * cell + y;
                if (channel(font, px, py, 3) < 250)
                    continue; // the glyph itself, not its rim
                solid++;
                white += channel(font, px, py, 0) > 230 && channel(font, px, py, 2) > 230;
            }
        }
        if (n == 32) {
            EXPECT_EQ(solid, 0) << "space";
            continue;
        }
        EXPECT_GT(solid, 0) << "character " << n;
        EXPECT_EQ(white, solid) << "character " << n;
    }
    image_free(font);
}

TEST_F(AssetsTest, SoundsHaveTheShapeTheScenePlaysThemFor)
{
    MemFile* f = member("sound/rain.wav");
    Samples rain = decode(f);
    mf_close(f);
    ASSERT_EQ(rain.channels, 2);
    for (const auto& ch : rain.ch) {
        size_t n = ch.size(), second = size_t(rain.rate);
        float total = rms(ch, 0, n);
        EXPECT_GT(total, 0.03f);
        // Steady: every second within 3 dB of the whole.
        for (size_t s = 0; s + second <= n; s += second)
            EXPECT_NEAR(20 * std::log10(rms(ch, s, s + second) / total), 0, 3);
        // A seamless loop: the step from the last sample to the first is an
        // ordinary step, not a click.
        double step = 0;
        for (size_t i = 1; i < n; i++)
            step += std::fabs(ch[i] - ch[i - 1]);
        step /= double(n - 1);
        EXPECT_LT(std::fabs(ch[0] - ch[n - 1]), 5 * step);
    }

    float distant_peak = 0;
    for (const char* name : {"sound/thunder1.wav", "sound/thunder2.wav", "sound/thunder3.wav",
                             "sound/bgthunder.wav"}) {
        f = member(name);
        Samples s = decode(f);
        mf_close(f);
        ASSERT_EQ(s.channels, 1) << name;
        const std::vector<float>& v = s.ch[0];
        size_t quarter = size_t(s.rate) / 4, loudest = 0;
        float loudest_rms = 0, peak = 0;
        int clipped = 0;
        for (size_t i = 0; i + quarter <= v.size(); i += quarter) {
            float r = rms(v, i, i + quarter);
            if (r > loudest_rms)
                loudest_rms = r, loudest = i;
        }
        for (float x : v)
            peak = std::max(peak, std::fabs(x)), clipped += std::fabs(x) >= 0.999f;
        EXPECT_EQ(clipped, 0) << name;
        EXPECT_LT(std::fabs(v.back()), 0.001f) << name << " ends in silence";
        if (strcmp(name, "sound/bgthunder.wav") == 0) {
            distant_peak = peak;
            EXPECT_GT(loudest, size_t(s.rate) / 2) << "a distant roll swells slowly";
            continue;
        }
        EXPECT_LT(loudest, size_t(s.rate)) << name << ": the crack comes first";
        EXPECT_GT(peak, 0.8f) << name;
        // A long rumble: still well audible three seconds in.
        EXPECT_GT(rms(v, size_t(s.rate) * 3, size_t(s.rate) * 4), loudest_rms / 30) << name;
    }
    EXPECT_LT(distant_peak, 0.5f) << "distant thunder is quieter than a close strike";
}

TEST_F(AssetsTest, GeneratorWritesTheSameBytesEveryRun)
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
        std::vector<uint8_t> bytes = read_bytes(e.path());
        EXPECT_EQ(bytes, read_bytes("two" / rel)) << rel;
        // And the archive beside the program holds exactly this output.
        MemFile* m = member(rel.string());
        ASSERT_NE(m, nullptr) << rel;
        EXPECT_TRUE(std::vector<uint8_t>(m->data, m->data + m->size) == bytes) << rel;
        mf_close(m);
        files++;
    }
    EXPECT_EQ(files, std::size(TEXTURES) + std::size(SOUNDS));
}

} // namespace
