// Texture creation against the device's size rules, and the mip-chain box
// filter with its exact rounding.
#include <algorithm>
#include <array>
#include <random>

#include "gfx/texture_create.h"
#include "gfx_test_util.h"

namespace
{

class TextureCreate : public GfxTest
{
  protected:
    // Checks the request as adapted: {result, width, height, levels}.
    std::array<UINT, 4> fit(UINT width, UINT height, UINT levels = 0)
    {
        D3DFORMAT format = D3DFMT_A8R8G8B8;
        HRESULT result =
            tx_check_requirements(g_device, &width, &height, &levels, 0, &format, D3DPOOL_MANAGED);
        return {UINT(result), width, height, levels};
    }
    IDirect3DTexture8* create(UINT width, UINT height, HRESULT want = D3D_OK)
    {
        IDirect3DTexture8* texture = reinterpret_cast<IDirect3DTexture8*>(this);
        EXPECT_EQ(tx_create_texture(g_device, width, height, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                    &texture),
                  want);
        return texture;
    }
};

using Fit = std::array<UINT, 4>;

TEST_F(TextureCreate, SizeRulesFollowTheCaps)
{
    EXPECT_EQ(fit(100, 60), Fit({D3D_OK, 128, 64, 8}));   // POW2 rounds up, then the chain
    EXPECT_EQ(fit(256, 256), Fit({D3D_OK, 256, 256, 9})); // full chains down to one texel
    EXPECT_EQ(fit(64, 128), Fit({D3D_OK, 64, 128, 8}));
    EXPECT_EQ(fit(TX_DEFAULT, TX_DEFAULT), Fit({D3D_OK, 256, 256, 9}));
    EXPECT_EQ(fit(TX_DEFAULT, 32), Fit({D3D_OK, 32, 32, 6})); // a default takes the other side
    EXPECT_EQ(fit(0, 0), Fit({D3D_OK, 1, 1, 1}));
    EXPECT_EQ(fit(64, 64, 3), Fit({D3D_OK, 64, 64, 3}));  // a shorter chain stays as asked
    EXPECT_EQ(fit(64, 64, 50), Fit({D3D_OK, 64, 64, 7})); // a longer one is cut to the full chain

    SoftConfig& config = soft_config();
    config.caps.MaxTextureWidth = 1000;
    config.caps.MaxTextureHeight = 512;
    // Clamped to the maximum before rounding: 3000 -> 1000 -> 1024, 4096 -> 512.
    EXPECT_EQ(fit(3000, 4096), Fit({D3D_OK, 1024, 512, 11}));
    config.caps.MaxTextureWidth = config.caps.MaxTextureHeight = 2048;
    config.caps.MaxTextureAspectRatio = 4;
    EXPECT_EQ(fit(256, 16), Fit({D3D_OK, 64, 16, 7}));
    EXPECT_EQ(fit(8, 200), Fit({D3D_OK, 8, 32, 6}));
    config.caps.TextureCaps |= D3DPTEXTURECAPS_SQUAREONLY;
    EXPECT_EQ(fit(64, 128), Fit({D3D_OK, 64, 64, 7}));

    config.caps.TextureCaps = D3DPTEXTURECAPS_MIPMAP;     // no POW2, no SQUAREONLY
    config.caps.MaxTextureAspectRatio = 0;                // no aspect limit
    EXPECT_EQ(fit(100, 100), Fit({D3D_OK, 100, 100, 1})); // not a power of two: no chain
    EXPECT_EQ(fit(32, 8), Fit({D3D_OK, 32, 8, 6}));
    config.caps.TextureCaps = D3DPTEXTURECAPS_POW2; // no MIPMAP
    EXPECT_EQ(fit(32, 32), Fit({D3D_OK, 32, 32, 1}));
}

TEST_F(TextureCreate, BadRequestsAndRefusedFormatsFail)
{
    UINT w = 16, h = 16, levels = 0;
    D3DFORMAT format = D3DFMT_A8R8G8B8;
    auto check = [&](DWORD usage, D3DPOOL pool) {
        return tx_check_requirements(g_device, &w, &h, &levels, usage, &format, pool);
    };
    EXPECT_EQ(tx_check_requirements(nullptr, &w, &h, &levels, 0, &format, D3DPOOL_MANAGED),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(check(0x4, D3DPOOL_MANAGED), D3DERR_INVALIDCALL);
    EXPECT_EQ(check(0, D3DPOOL(3)), D3DERR_INVALIDCALL);
    EXPECT_EQ(check(0xFFFFFFFFu, D3DPOOL_MANAGED), D3D_OK);                // means usage 0
    IDirect3DTexture8* texture = reinterpret_cast<IDirect3DTexture8*>(&w); // cleared on failure
    EXPECT_EQ(tx_create_texture(nullptr, 4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(tx_create_texture(g_device, 4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr),
              D3DERR_INVALIDCALL);

    // Without A8R8G8B8 no other format is offered: the manager writes A8R8G8B8 words.
    soft_config().refused_format[D3DFMT_A8R8G8B8] = true;
    rec_->clear();
    EXPECT_EQ(check(0, D3DPOOL_MANAGED), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(create(16, 16, D3DERR_NOTAVAILABLE), nullptr);
    EXPECT_EQ(rec_->count(REC_CREATE_TEXTURE), 0u);
}

// One 32-bit level in memory with a pitch wider than its rows; the padding
// holds a marker that must survive.
struct Level {
    UINT width, height;
    INT pitch;
    std::vector<uint32_t> words;
    static constexpr uint32_t PAD = 0xA5A5A5A5u;

    Level(UINT w, UINT h, std::vector<uint32_t> texels = {}, UINT pad_words = 3)
        : width(w), height(h), pitch(INT((w + pad_words) * 4)),
          words(size_t(h) * (w + pad_words), PAD)
    {
        for (size_t i = 0; i < texels.size(); ++i)
            at(UINT(i % w), UINT(i / w)) = texels[i];
    }
    uint32_t& at(UINT x, UINT y) { return words[size_t(y) * size_t(pitch / 4) + x]; }
    D3DLOCKED_RECT lock() { return D3DLOCKED_RECT{pitch, words.data()}; }
    // This level shrunk 2:1 by tx_box_shrink.
    Level shrunk(UINT pad_words = 3)
    {
        Level out(std::max(width / 2, 1u), std::max(height / 2, 1u), {}, pad_words);
        D3DLOCKED_RECT s = lock(), t = out.lock();
        tx_box_shrink(&t, &s, width, height);
        return out;
    }
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

// A one-texel side reads its texel twice; the pitch padding is left alone.
TEST(BoxShrink, MatchesThePerChannelFormulaOnRandomLevelsOfEveryShape)
{
    std::mt19937 random(20240607);
    const UINT sizes[][2] = {{2, 2}, {8, 4}, {4, 16}, {32, 32}, {1, 4}, {8, 1}, {1, 1}};
    for (const auto& size : sizes) {
        for (int round = 0; round < 20; ++round) {
            Level src(size[0], size[1], {}, 5);
            for (uint32_t& v : src.words) {
                v = random(); // biased towards the extremes, where carries would show
                v = round % 4 == 1 ? v | 0xFCFCFCFCu : round % 4 == 2 ? v & 0x03030303u : v;
            }
            Level dst = src.shrunk(2);
            for (UINT y = 0; y < dst.height; ++y) {
                const UINT y1 = std::min(2 * y + 1, src.height - 1);
                for (UINT x = 0; x < dst.width; ++x) {
                    const UINT x1 = std::min(2 * x + 1, src.width - 1);
                    ASSERT_EQ(dst.at(x, y), box_formula(src.at(2 * x, 2 * y), src.at(x1, 2 * y),
                                                        src.at(2 * x, y1), src.at(x1, y1)))
                        << size[0] << "x" << size[1] << " at " << x << "," << y;
                }
                EXPECT_EQ(dst.at(dst.width, y), Level::PAD);
            }
        }
    }
}

TEST_F(TextureCreate, FilterRebuildsEachLevelFromTheOneAboveAndChecksItsArguments)
{
    IDirect3DTexture8* texture = create(4, 4);
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(texture->GetLevelCount(), 3u);
    Level top(4, 4); // the same texels in memory, shrunk by hand
    std::mt19937 random(7);
    for (int i = 0; i < 16; ++i)
        write_texel(texture, 0, i % 4, i / 4, top.at(i % 4, i / 4) = random());
    ASSERT_EQ(tx_filter_texture(texture, 0, FILTER_DEFAULT), D3D_OK);
    Level one = top.shrunk(), two = one.shrunk(); // level 2 from level 1 as made
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(texel_at(texture, 1, i % 2, i / 2), one.at(i % 2, i / 2));
    EXPECT_EQ(texel_at(texture, 2, 0, 0), two.at(0, 0));

    // From source level 1 on, level 0 is left alone and level 2 follows level 1.
    for (int i = 0; i < 4; ++i)
        write_texel(texture, 1, i % 2, i / 2, 0xFFFFFFFFu);
    EXPECT_EQ(tx_filter_texture(texture, 1, FILTER_BOX | FILTER_DITHER), D3D_OK);
    EXPECT_EQ(texel_at(texture, 2, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(texel_at(texture, 0, 3, 3), top.at(3, 3));

    IDirect3DSurface8 *big = nullptr, *small = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &big), D3D_OK);
    ASSERT_EQ(texture->GetSurfaceLevel(1, &small), D3D_OK);
    for (DWORD bad : {6u, 0x100005u, 0u})
        EXPECT_EQ(tx_copy_level(small, big, bad), D3DERR_INVALIDCALL) << bad;
    EXPECT_EQ(tx_copy_level(small, nullptr, FILTER_BOX), D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_copy_level(small, big, FILTER_BOX), D3D_OK);
    // Reductions that are not done are not reported as done.
    EXPECT_EQ(tx_copy_level(small, big, FILTER_POINT), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(tx_copy_level(big, small, FILTER_BOX), D3DERR_NOTAVAILABLE);
    big->Release();
    small->Release();
    for (DWORD bad : {6u, 0x100005u})
        EXPECT_EQ(tx_filter_texture(texture, 0, bad), D3DERR_INVALIDCALL) << bad;
    EXPECT_EQ(tx_filter_texture(texture, 3, FILTER_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_filter_texture(nullptr, 0, FILTER_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(tx_filter_texture(texture, 0xFFFFFFFFu, FILTER_DEFAULT), D3D_OK); // means level 0
    texture->Release();

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
