// Texture creation against the device's size rules, and the mip-chain box
// filter with its exact rounding.
#include <random>

#include "gfx/texture_create.h"
#include "gfx_test_util.h"

namespace
{

class TextureCreate : public GfxTest
{
  protected:
    struct Fit {
        HRESULT result;
        UINT width, height, levels;
    };
    Fit fit(UINT width, UINT height, UINT levels = 0)
    {
        D3DFORMAT format = D3DFMT_A8R8G8B8;
        Fit out;
        out.result =
            tx_check_requirements(g_device, &width, &height, &levels, 0, &format, D3DPOOL_MANAGED);
        out.width = width;
        out.height = height;
        out.levels = levels;
        return out;
    }
    IDirect3DTexture8* create(UINT width, UINT height)
    {
        IDirect3DTexture8* texture = nullptr;
        EXPECT_EQ(tx_create_texture(g_device, width, height, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                    &texture),
                  D3D_OK);
        return texture;
    }
};

#define EXPECT_FIT(f, w, h, l)                                                                     \
    do {                                                                                           \
        EXPECT_EQ((f).result, D3D_OK);                                                             \
        EXPECT_EQ((f).width, UINT(w));                                                             \
        EXPECT_EQ((f).height, UINT(h));                                                            \
        EXPECT_EQ((f).levels, UINT(l));                                                            \
    } while (0)

TEST_F(TextureCreate, FullChainsCountDownToOneTexel)
{
    IDirect3DTexture8* square = create(256, 256);
    ASSERT_NE(square, nullptr);
    EXPECT_EQ(square->GetLevelCount(), 9u);
    square->Release();

    IDirect3DTexture8* tall = create(64, 128);
    ASSERT_NE(tall, nullptr);
    ASSERT_EQ(tall->GetLevelCount(), 8u);
    const UINT sizes[8][2] = {{64, 128}, {32, 64}, {16, 32}, {8, 16},
                              {4, 8},    {2, 4},   {1, 2},   {1, 1}};
    for (UINT level = 0; level < 8; ++level) {
        D3DSURFACE_DESC desc;
        ASSERT_EQ(tall->GetLevelDesc(level, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, sizes[level][0]) << "level " << level;
        EXPECT_EQ(desc.Height, sizes[level][1]) << "level " << level;
        EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    }
    tall->Release();
}

TEST_F(TextureCreate, SizeRulesFollowTheCaps)
{
    EXPECT_FIT(fit(100, 60), 128, 64, 8); // POW2 rounds up, then the chain
    EXPECT_FIT(fit(1, 1), 1, 1, 1);
    EXPECT_FIT(fit(TX_DEFAULT, TX_DEFAULT), 256, 256, 9);
    EXPECT_FIT(fit(TX_DEFAULT, 32), 32, 32, 6); // one default takes the other's value
    EXPECT_FIT(fit(16, TX_DEFAULT), 16, 16, 5);
    EXPECT_FIT(fit(0, 0), 1, 1, 1);
    EXPECT_FIT(fit(64, 64, 3), 64, 64, 3);  // a shorter chain stays as asked
    EXPECT_FIT(fit(64, 64, 50), 64, 64, 7); // a longer one is cut to the full chain

    SoftConfig& config = soft_config();
    config.caps.MaxTextureWidth = 1000;
    config.caps.MaxTextureHeight = 512;
    // Clamped to the maximum before rounding: 3000 -> 1000 -> 1024, 4096 -> 512.
    EXPECT_FIT(fit(3000, 4096), 1024, 512, 11);

    config.caps.MaxTextureWidth = config.caps.MaxTextureHeight = 2048;
    config.caps.MaxTextureAspectRatio = 4;
    EXPECT_FIT(fit(256, 16), 64, 16, 7);
    EXPECT_FIT(fit(8, 200), 8, 32, 6);

    config.caps.TextureCaps |= D3DPTEXTURECAPS_SQUAREONLY;
    EXPECT_FIT(fit(64, 128), 64, 64, 7);

    config.caps.TextureCaps = D3DPTEXTURECAPS_MIPMAP; // no POW2, no SQUAREONLY
    config.caps.MaxTextureAspectRatio = 0;            // no aspect limit
    EXPECT_FIT(fit(100, 100), 100, 100, 1);           // not a power of two: no chain
    EXPECT_FIT(fit(100, 64), 100, 64, 1);
    EXPECT_FIT(fit(32, 8), 32, 8, 6);

    config.caps.TextureCaps = D3DPTEXTURECAPS_POW2; // no MIPMAP
    EXPECT_FIT(fit(32, 32), 32, 32, 1);
}

TEST_F(TextureCreate, BadRequestsAndRefusedFormatsFail)
{
    UINT w = 16, h = 16, levels = 0;
    D3DFORMAT format = D3DFMT_A8R8G8B8;
    EXPECT_EQ(tx_check_requirements(nullptr, &w, &h, &levels, 0, &format, D3DPOOL_MANAGED),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_check_requirements(g_device, &w, &h, &levels, 0x4, &format, D3DPOOL_MANAGED),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_check_requirements(g_device, &w, &h, &levels, 0, &format, D3DPOOL(3)),
              D3DERR_INVALIDCALL);
    // 0xFFFFFFFF means usage 0.
    EXPECT_EQ(
        tx_check_requirements(g_device, &w, &h, &levels, 0xFFFFFFFFu, &format, D3DPOOL_MANAGED),
        D3D_OK);

    IDirect3DTexture8* texture = reinterpret_cast<IDirect3DTexture8*>(&w); // must be cleared
    EXPECT_EQ(tx_create_texture(nullptr, 4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(tx_create_texture(g_device, 4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr),
              D3DERR_INVALIDCALL);

    // A device without A8R8G8B8 gets no texture in another format: the
    // texture manager writes A8R8G8B8 words into level 0.
    soft_config().refused_format[D3DFMT_A8R8G8B8] = true;
    rec_->clear();
    w = h = 16;
    EXPECT_EQ(tx_check_requirements(g_device, &w, &h, &levels, 0, &format, D3DPOOL_MANAGED),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(tx_create_texture(g_device, 16, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(rec_->count(REC_CREATE_TEXTURE), 0u);
}

// One 32-bit level in memory with a pitch wider than its rows; the padding
// holds a marker that must survive.
struct Level {
    UINT width, height;
    INT pitch;
    std::vector<uint32_t> words;
    static constexpr uint32_t PAD = 0xA5A5A5A5u;

    Level(UINT w, UINT h, UINT pad_words = 3)
        : width(w), height(h), pitch(INT((w + pad_words) * 4)),
          words(size_t(h) * (w + pad_words), PAD)
    {
    }
    uint32_t& at(UINT x, UINT y) { return words[size_t(y) * size_t(pitch / 4) + x]; }
    D3DLOCKED_RECT lock() { return D3DLOCKED_RECT{pitch, words.data()}; }
};

// The rule, channel by channel: (s0 + s1 + s2 + s3 + 2) / 4.
uint32_t box_formula(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t sum = ((a >> shift) & 0xFF) + ((b >> shift) & 0xFF) + ((c >> shift) & 0xFF) +
                       ((d >> shift) & 0xFF);
        out |= ((sum + 2) / 4) << shift;
    }
    return out;
}

uint32_t shrink_2x2(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    Level src(2, 2), dst(1, 1);
    src.at(0, 0) = a;
    src.at(1, 0) = b;
    src.at(0, 1) = c;
    src.at(1, 1) = d;
    D3DLOCKED_RECT s = src.lock(), t = dst.lock();
    tx_box_shrink(&t, &s, 2, 2);
    return dst.at(0, 0);
}

TEST(BoxShrink, RoundsHalvesUpInEveryChannelWithoutCarries)
{
    for (int shift = 0; shift < 32; shift += 8) {
        auto ch = [shift](uint32_t v) { return v << shift; };
        EXPECT_EQ(shrink_2x2(ch(0), ch(0), ch(0), ch(1)), ch(0)) << "shift " << shift;
        EXPECT_EQ(shrink_2x2(ch(0), ch(0), ch(1), ch(1)), ch(1)) << "shift " << shift;
        EXPECT_EQ(shrink_2x2(ch(255), ch(255), ch(255), ch(254)), ch(255)) << "shift " << shift;
    }
    // All channels at their maximum at once: no channel spills into the next.
    EXPECT_EQ(shrink_2x2(~0u, ~0u, ~0u, ~0u), ~0u);
    EXPECT_EQ(shrink_2x2(0x00FF00FFu, 0xFF00FF00u, 0x00FF00FFu, 0xFF00FF00u), 0x80808080u);
}

TEST(BoxShrink, OneTexelSidesReadTheirTexelTwice)
{
    Level row(2, 1), out(1, 1);
    row.at(0, 0) = 0x00000000u;
    row.at(1, 0) = 0x01010101u;
    D3DLOCKED_RECT s = row.lock(), t = out.lock();
    tx_box_shrink(&t, &s, 2, 1);
    EXPECT_EQ(out.at(0, 0), 0x01010101u); // (a + b + 1) / 2, halves up

    Level column(1, 4), half(1, 2);
    column.at(0, 0) = 0x10203040u;
    column.at(0, 1) = 0x11213141u;
    column.at(0, 2) = 0xFF000000u;
    column.at(0, 3) = 0xFE000001u;
    s = column.lock();
    t = half.lock();
    tx_box_shrink(&t, &s, 1, 4);
    EXPECT_EQ(half.at(0, 0), 0x11213141u);
    EXPECT_EQ(half.at(0, 1), 0xFF000001u);
    EXPECT_EQ(half.at(1, 0), Level::PAD); // the pitch padding is left alone

    Level one(1, 1), same(1, 1);
    one.at(0, 0) = 0x12345678u;
    s = one.lock();
    t = same.lock();
    tx_box_shrink(&t, &s, 1, 1);
    EXPECT_EQ(same.at(0, 0), 0x12345678u);
}

TEST(BoxShrink, PackedPathMatchesThePerChannelFormulaOnRandomLevels)
{
    std::mt19937 random(20240607);
    const UINT sizes[][2] = {{2, 2}, {8, 4}, {4, 16}, {32, 32}};
    for (const auto& size : sizes) {
        for (int round = 0; round < 20; ++round) {
            Level src(size[0], size[1], 5), dst(size[0] / 2, size[1] / 2, 2);
            for (UINT y = 0; y < src.height; ++y) {
                for (UINT x = 0; x < src.width; ++x) {
                    uint32_t v = random();
                    // Bias towards the extremes, where carries would show.
                    if (round % 4 == 1)
                        v |= 0xFCFCFCFCu;
                    if (round % 4 == 2)
                        v &= 0x03030303u;
                    src.at(x, y) = v;
                }
            }
            D3DLOCKED_RECT s = src.lock(), t = dst.lock();
            tx_box_shrink(&t, &s, src.width, src.height);
            for (UINT y = 0; y < dst.height; ++y) {
                for (UINT x = 0; x < dst.width; ++x) {
                    uint32_t want =
                        box_formula(src.at(2 * x, 2 * y), src.at(2 * x + 1, 2 * y),
                                    src.at(2 * x, 2 * y + 1), src.at(2 * x + 1, 2 * y + 1));
                    ASSERT_EQ(dst.at(x, y), want)
                        << size[0] << "x" << size[1] << " at " << x << "," << y;
                }
                EXPECT_EQ(dst.at(dst.width, y), Level::PAD);
            }
        }
    }
}

TEST_F(TextureCreate, FilterRebuildsEachLevelFromTheOneAbove)
{
    IDirect3DTexture8* texture = create(4, 4);
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(texture->GetLevelCount(), 3u);
    uint32_t level0[4][4];
    std::mt19937 random(7);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            write_texel(texture, 0, x, y, level0[y][x] = random());

    ASSERT_EQ(tx_filter_texture(texture, 0, FILTER_DEFAULT), D3D_OK);
    uint32_t level1[2][2];
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            level1[y][x] = box_formula(level0[2 * y][2 * x], level0[2 * y][2 * x + 1],
                                       level0[2 * y + 1][2 * x], level0[2 * y + 1][2 * x + 1]);
            EXPECT_EQ(texel_at(texture, 1, x, y), level1[y][x]);
        }
    }
    // Level 2 comes from level 1 as made, not from level 0.
    EXPECT_EQ(texel_at(texture, 2, 0, 0),
              box_formula(level1[0][0], level1[0][1], level1[1][0], level1[1][1]));

    // From source level 1 on, level 0 is left alone and level 2 follows level 1.
    write_texel(texture, 1, 0, 0, 0xFFFFFFFFu);
    write_texel(texture, 1, 1, 0, 0xFFFFFFFFu);
    write_texel(texture, 1, 0, 1, 0xFFFFFFFFu);
    write_texel(texture, 1, 1, 1, 0xFFFFFFFFu);
    EXPECT_EQ(tx_filter_texture(texture, 1, FILTER_BOX | FILTER_DITHER), D3D_OK);
    EXPECT_EQ(texel_at(texture, 2, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(texel_at(texture, 0, 3, 3), level0[3][3]);
    texture->Release();
}

TEST_F(TextureCreate, FilterCodesAndLevelsAreChecked)
{
    IDirect3DTexture8* chain = create(4, 4);
    ASSERT_NE(chain, nullptr);
    IDirect3DSurface8 *top = nullptr, *next = nullptr;
    ASSERT_EQ(chain->GetSurfaceLevel(0, &top), D3D_OK);
    ASSERT_EQ(chain->GetSurfaceLevel(1, &next), D3D_OK);

    EXPECT_EQ(tx_copy_level(next, top, 6), D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_copy_level(next, top, 0x100005), D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_copy_level(next, top, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_copy_level(next, nullptr, FILTER_BOX), D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_copy_level(next, top, FILTER_BOX), D3D_OK);
    // Reductions that are not done are not reported as done.
    EXPECT_EQ(tx_copy_level(next, top, FILTER_POINT), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(tx_copy_level(top, next, FILTER_BOX), D3DERR_NOTAVAILABLE);
    top->Release();
    next->Release();

    EXPECT_EQ(tx_filter_texture(chain, 0, 6), D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_filter_texture(chain, 0, 0x100005), D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_filter_texture(chain, 3, FILTER_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_filter_texture(chain, 0xFFFFFFFFu, FILTER_DEFAULT), D3D_OK); // means level 0
    EXPECT_EQ(tx_filter_texture(nullptr, 0, FILTER_DEFAULT), D3DERR_INVALIDCALL);
    chain->Release();

    // A single level is accepted and left as it is, whatever the filter.
    soft_config().caps.TextureCaps &= ~D3DPTEXTURECAPS_POW2;
    IDirect3DTexture8* single = create(100, 100);
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(single->GetLevelCount(), 1u);
    write_texel(single, 0, 99, 99, 0x01020304u);
    EXPECT_EQ(tx_filter_texture(single, 0, FILTER_DEFAULT), D3D_OK);
    EXPECT_EQ(tx_filter_texture(single, 0, 6), D3D_OK);
    EXPECT_EQ(texel_at(single, 0, 99, 99), 0x01020304u);
    single->Release();
}

} // namespace
