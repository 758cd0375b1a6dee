// The software devices against exact expectations: coverage and the fill
// rule, depth, fog, the stage operations the passes use, addressing,
// near-plane clipping, blend factors, mip selection and culling of strips
// and fans. Everything goes through the device interface, so another
// backend can be held to the same results. Each case runs on the reference
// device, on the tiled device with one thread and on the tiled device with
// small tiles and several threads, so every triangle crosses tile edges.
#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "canvas.h"
#include "gfx/soft/soft_device.h"

namespace
{

constexpr int W = 64;
constexpr int H = 48;
constexpr uint32_t WHITE = 0xFFFFFF;

const auto at = [](float x, float y, float z = 1.0f, float u = 0, float v = 0) {
    return Vertex{{x, y, z}, u, v, 0, 0};
};

struct RasterDevice {
    const char* name;
    bool reference;
    int threads;
    int tile_size;
};

const RasterDevice RASTER_DEVICES[] = {
    {"Reference", true, 0, 0},
    {"TiledOneThread", false, 1, 64},
    {"SmallTilesThreeThreads", false, 3, 16},
};

class SoftRaster : public ::testing::TestWithParam<RasterDevice>
{
  protected:
    void SetUp() override
    {
        soft_config_reset();
        soft_config().threads = GetParam().threads;
        soft_config().tile_size = GetParam().tile_size;
        c_ = std::make_unique<Canvas>(GetParam().reference ? soft_create_reference_direct3d()
                                                           : soft_create_direct3d(),
                                      W, H, D3DFMT_X8R8G8B8, nullptr, true);
        device_ = c_->device;
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        clear(0);
        c_->ortho();
    }
    void TearDown() override
    {
        c_.reset();
        soft_config_reset();
    }

    void clear(uint32_t colour)
    {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, colour, 1.0f, 0);
    }
    IDirect3DTexture8* texture(int w, std::vector<uint32_t> texels) // one row
    {
        return c_->texture(w, 1, 1, [texels](int, int x, int) { return texels[size_t(x)]; });
    }
    void solid(uint32_t colour) { c_->solid(colour); }
    void draw(D3DPRIMITIVETYPE type, const std::vector<Vertex>& vertices, int count = -1)
    {
        c_->draw(type, vertices, count);
    }
    void quad2d(float x0, float y0, float x1, float y1, float z = 1.0f, float u1 = 1)
    {
        c_->quad2d(x0, y0, x1, y1, 0, 1, u1, 0, z);
    }

    // The back buffer's colours, rows top first.
    std::vector<uint32_t> frame()
    {
        std::vector<uint32_t> out = c_->back_buffer();
        for (uint32_t& v : out)
            v &= 0xFFFFFFu;
        return out;
    }
    uint32_t pixel(int x, int y) { return frame()[size_t(y * W + x)]; }
    int count_pixels(uint32_t colour)
    {
        std::vector<uint32_t> f = frame();
        return int(std::count(f.begin(), f.end(), colour));
    }

    std::unique_ptr<Canvas> c_;
    IDirect3DDevice8* device_ = nullptr;
};

TEST_P(SoftRaster, QuadsCoverExactlyTheirPixelsAndSharedEdgesAreDrawnOnce)
{
    solid(0xFFFFFFFF);
    quad2d(0, 0, 16, 16);
    std::vector<uint32_t> f = frame();
    EXPECT_EQ(std::count(f.begin(), f.end(), WHITE), 16 * 16);
    for (int i = 0; i < 16 * 16; ++i)
        ASSERT_EQ(f[size_t((H - 16 + i / 16) * W + i % 16)], WHITE) << i % 16 << "," << i / 16;

    clear(0);
    solid(0xFF404040); // added, so that a pixel drawn twice shows
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_ZENABLE, 0);
    // A fan of six triangles around an off-centre point, with sub-pixel corners.
    std::vector<Vertex> fan = {at(20.3f, 21.7f)};
    for (int i = 0; i <= 6; ++i) {
        float a = float(i) * 3.14159265f / 3.0f;
        fan.push_back(at(20.3f + 15.1f * std::cos(a), 21.7f + 13.9f * std::sin(a)));
    }
    draw(D3DPT_TRIANGLEFAN, fan);
    // A diagonal through pixel centres: each centre on it belongs to one side.
    draw(D3DPT_TRIANGLELIST, {at(40, 0), at(56, 0), at(56, 16), at(40, 0), at(56, 16), at(40, 16)});
    f = frame();
    EXPECT_EQ(std::count(f.begin(), f.end(), 0x808080u), 0) << "a pixel was drawn twice";
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            // No holes: the square and the hexagon's inscribed circle are lit throughout.
            float dx = float(x) - 20.3f, dy = float(H - y) - 21.7f;
            bool square = x >= 40 && x < 56 && y >= H - 16;
            if (square || dx * dx + dy * dy < 11.0f * 11.0f) {
                ASSERT_EQ(f[size_t(y * W + x)], 0x404040u) << x << "," << y;
            }
        }
    }
}

TEST_P(SoftRaster, DepthLessEqualAndWriteMask)
{
    const struct {
        uint32_t colour;
        float z;
        bool write;
        uint32_t want;
    } steps[] = {{0xFF0000FF, 1.0f, true, 0x0000FF},
                 {0xFF00FF00, 1.0f, true, 0x00FF00},  // equal depth passes
                 {0xFFFF0000, 1.5f, true, 0x00FF00},  // farther: rejected
                 {0xFFFF0000, 0.5f, false, 0xFF0000}, // nearer, drawn, but leaves depth alone
                 {0xFFFFFFFF, 0.8f, true, WHITE}};    // passes against the old depth of 1.0
    for (const auto& s : steps) {
        device_->SetRenderState(D3DRS_ZWRITEENABLE, s.write);
        solid(s.colour);
        quad2d(0, 0, 8, 8, s.z);
        EXPECT_EQ(pixel(0, H - 1), s.want) << "depth " << s.z;
    }

    // Far more triangles than the buffer holds: only whole ones draw.
    clear(0);
    std::vector<Vertex> tri = {at(0, 0), at(0, 8), at(8, 0)};
    draw(D3DPT_TRIANGLELIST, tri);
    int lit = count_pixels(WHITE);
    EXPECT_GT(lit, 20);
    clear(0);
    draw(D3DPT_TRIANGLELIST, tri, int(c_->capacity));
    EXPECT_EQ(count_pixels(WHITE), lit);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLEFAN, c_->capacity + 1, 2), D3DERR_INVALIDCALL);
}

TEST_P(SoftRaster, StagesSaturateAndAddressingWrapsOrClamps)
{
    // Stage 0 adds the texture to the (black) lit colour; stage 1 doubles the
    // product of both textures, clamping at white.
    device_->SetTexture(0, texture(1, {0xFFC08040}));
    device_->SetTexture(1, texture(1, {0xFFC0C0C0}));
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
    device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    quad2d(0, 0, 4, 4);
    uint32_t got = pixel(1, H - 2);
    EXPECT_EQ(got >> 16, 0xFFu);                  // 2 * 0.75 * 0.75 saturates
    EXPECT_NEAR(int((got >> 8) & 0xFF), 0xC0, 1); // 2 * 0.5 * 0.75
    EXPECT_NEAR(int(got & 0xFF), 0x60, 1);        // 2 * 0.25 * 0.75

    clear(0);
    device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device_->SetTexture(0, texture(2, {0xFF000000, 0xFFFFFFFF}));
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    quad2d(0, 0, 16, 1, 1.0f, 4); // u from 0 to 4 over 16 pixels: with wrap, 4 pairs
    device_->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    quad2d(0, 2, 16, 3, 1.0f, 4);
    std::vector<uint32_t> f = frame();
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(f[size_t((H - 1) * W + x)], (x / 2) % 2 ? WHITE : 0u) << x;
        EXPECT_EQ(f[size_t((H - 3) * W + x)], x < 2 ? 0u : WHITE) << x;
    }
}

// The near plane sits exactly at the projection's near distance (0.1): a
// square just in front of it vanishes whole, one just behind it draws.
TEST_P(SoftRaster, LinearFogOnEyeDepthAndNearPlaneClipping)
{
    c_->perspective(3.14159265f / 2.0f);
    device_->SetRenderState(D3DRS_FOGENABLE, 1);
    device_->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
    device_->SetRenderState(D3DRS_FOGCOLOR, 0x00FF8000);
    device_->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(10.0f));
    device_->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(30.0f));
    const std::pair<float, uint32_t> cases[] = {
        {0.07f, WHITE},    {0.099f, WHITE},   {0.101f, 0x000000}, {5.0f, 0x000000},
        {10.0f, 0x000000}, {20.0f, 0x804000}, {30.0f, 0xFF8000},  {60.0f, 0xFF8000}};
    for (auto [z, want] : cases) {
        clear(WHITE);
        solid(0xFF000000); // a square that fills the view at its depth
        draw(D3DPT_TRIANGLEFAN, {at(-z, -z, z), at(z, -z, z), at(z, z, z), at(-z, z, z)});
        uint32_t got = pixel(W / 2, H / 2);
        for (int shift : {16, 8, 0})
            EXPECT_NEAR(int((got >> shift) & 0xFF), int((want >> shift) & 0xFF), 1)
                << "depth " << z;
    }

    // A floor from behind the camera to far ahead: the part in front shows,
    // nothing explodes across the screen.
    device_->SetRenderState(D3DRS_FOGENABLE, 0);
    clear(0);
    solid(0xFFFFFFFF);
    draw(D3DPT_TRIANGLELIST, {at(-50, -1, -20), at(50, -1, -20), at(0, -1, 80)});
    EXPECT_EQ(pixel(W / 2, H - 1), WHITE);  // ground just below the camera
    EXPECT_EQ(pixel(W / 2, 0), 0u);         // sky stays empty
    EXPECT_EQ(pixel(W / 2, H / 2 - 2), 0u); // above the horizon
    EXPECT_EQ(pixel(W / 2, H / 2 + 2), WHITE);
    int lit = count_pixels(WHITE);
    EXPECT_GT(lit, W * H / 4);
    EXPECT_LT(lit, W * H / 2 + W);
    clear(0); // entirely behind the camera: nothing
    draw(D3DPT_TRIANGLELIST, {at(-5, -1, -2), at(5, -1, -2), at(0, 1, -3)});
    EXPECT_EQ(count_pixels(WHITE), 0);
}

// Each factor on a known source (0.75, 0.25, 0.125, alpha 0.25) over a known
// destination (0.19, 0.38, 0.56; the back buffer has no alpha, so it reads as
// 1), once as the source factor with ZERO for the destination and once as
// the destination factor with ZERO for the source.
TEST_P(SoftRaster, EveryBlendFactorOnBothSides)
{
    constexpr uint32_t SRC = 0x40C04020, DST = 0x306090;
    const float s[3] = {192 / 255.0f, 64 / 255.0f, 32 / 255.0f}, sa = 64 / 255.0f;
    const float d[3] = {48 / 255.0f, 96 / 255.0f, 144 / 255.0f}, da = 1.0f;
    using F = std::array<float, 3>;
    const struct {
        DWORD factor;
        F value;
    } factors[] = {
        {D3DBLEND_ZERO, {0, 0, 0}},
        {D3DBLEND_ONE, {1, 1, 1}},
        {D3DBLEND_SRCCOLOR, {s[0], s[1], s[2]}},
        {D3DBLEND_INVSRCCOLOR, {1 - s[0], 1 - s[1], 1 - s[2]}},
        {D3DBLEND_SRCALPHA, {sa, sa, sa}},
        {D3DBLEND_INVSRCALPHA, {1 - sa, 1 - sa, 1 - sa}},
        {D3DBLEND_DESTALPHA, {da, da, da}},
        {D3DBLEND_INVDESTALPHA, {1 - da, 1 - da, 1 - da}},
        {D3DBLEND_DESTCOLOR, {d[0], d[1], d[2]}},
        {D3DBLEND_INVDESTCOLOR, {1 - d[0], 1 - d[1], 1 - d[2]}},
    };
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device_->SetRenderState(D3DRS_ZENABLE, 0);
    solid(SRC); // the alpha comes from the texture too: stage 0 selects it
    for (const auto& f : factors) {
        for (bool as_source : {true, false}) {
            device_->SetRenderState(D3DRS_SRCBLEND, as_source ? f.factor : D3DBLEND_ZERO);
            device_->SetRenderState(D3DRS_DESTBLEND, as_source ? D3DBLEND_ZERO : f.factor);
            clear(DST);
            quad2d(0, 0, 4, 4);
            uint32_t got = pixel(1, H - 2);
            const float* scaled = as_source ? s : d;
            for (int c = 0; c < 3; ++c) {
                int want = int(std::lround(255.0f * scaled[c] * f.value[size_t(c)]));
                EXPECT_NEAR(int((got >> (16 - 8 * c)) & 0xFF), want, 1)
                    << "factor " << f.factor << (as_source ? " as source" : " as destination")
                    << ", channel " << c;
            }
        }
    }

    // Both terms add up, and the sum saturates.
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    clear(DST);
    quad2d(0, 0, 4, 4);
    EXPECT_EQ(pixel(1, H - 2), 0xF0A0B0u);
}

// A 16 x 16 texture with five levels, each its own colour, drawn on an 8 x 8
// square: v covers 2 texels a pixel, u as the row says. The level of detail
// is log2 of the larger step; point mip filtering takes the nearest level,
// linear blends the two around it, and MAXMIPLEVEL keeps the more detailed
// levels out.
TEST_P(SoftRaster, MipLevelSelection)
{
    const std::vector<uint32_t> levels = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080};
    IDirect3DTexture8* t = c_->texture(
        16, 16, 0, [&levels](int l, int, int) { return levels[size_t(l)]; }, D3DFMT_X8R8G8B8);
    EXPECT_EQ(t->GetLevelCount(), levels.size());
    device_->SetTexture(0, t);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    const struct {
        DWORD mip_filter;
        DWORD max_level;
        float lambda; // at least 1: v alone gives 1
        uint32_t want;
    } cases[] = {
        {D3DTEXF_POINT, 0, 1.0f, 0x00FF00},  // minified 2:1: level 1
        {D3DTEXF_POINT, 0, 1.4f, 0x00FF00},  // rounds down
        {D3DTEXF_POINT, 0, 1.6f, 0x0000FF},  // rounds up
        {D3DTEXF_POINT, 0, 2.0f, 0x0000FF},  // 4:1
        {D3DTEXF_POINT, 2, 1.0f, 0x0000FF},  // never above the top level allowed
        {D3DTEXF_POINT, 1, 2.0f, 0x0000FF},  // but the level is counted from level 0
        {D3DTEXF_POINT, 0, 9.0f, 0x808080},  // beyond the chain: the last level
        {D3DTEXF_NONE, 0, 2.0f, 0xFF0000},   // no mip mapping: the top level
        {D3DTEXF_NONE, 1, 2.0f, 0x00FF00},   // ... that is allowed
        {D3DTEXF_LINEAR, 0, 1.5f, 0x008080}, // half way between levels 1 and 2
        {D3DTEXF_LINEAR, 0, 1.0f, 0x00FF00},
    };
    for (const auto& c : cases) {
        device_->SetTextureStageState(0, D3DTSS_MIPFILTER, c.mip_filter);
        device_->SetTextureStageState(0, D3DTSS_MAXMIPLEVEL, c.max_level);
        clear(0);
        // 2^lambda texels a pixel along u: u1 * 16 texels over 8 pixels.
        quad2d(0, 0, 8, 8, 1.0f, std::exp2(c.lambda) * 8.0f / 16.0f);
        uint32_t got = pixel(3, H - 4);
        for (int shift : {16, 8, 0})
            EXPECT_NEAR(int((got >> shift) & 0xFF), int((c.want >> shift) & 0xFF), 2)
                << "mip filter " << c.mip_filter << ", top level " << c.max_level << ", lambda "
                << c.lambda;
    }
}

// Front faces are clockwise on screen; CULL_CCW (the default) drops the
// others. In a strip every second triangle is listed the other way round and
// still faces the same way as the first; a fan keeps one winding throughout.
TEST_P(SoftRaster, StripsAndFansKeepOneFacingUnderCulling)
{
    solid(0xFFFFFFFF);
    // Three 8 x 8 squares side by side, clockwise on screen, as a strip of
    // six triangles; one square as a fan of two.
    const std::vector<Vertex> strip = {at(0, 0),  at(0, 8),  at(8, 0),  at(8, 8),
                                       at(16, 0), at(16, 8), at(24, 0), at(24, 8)};
    const std::vector<Vertex> fan = {at(0, 0), at(0, 8), at(8, 8), at(8, 0)};
    const struct {
        D3DPRIMITIVETYPE type;
        DWORD cull;
        int want;
    } cases[] = {
        {D3DPT_TRIANGLESTRIP, D3DCULL_CCW, 24 * 8},  {D3DPT_TRIANGLESTRIP, D3DCULL_CW, 0},
        {D3DPT_TRIANGLESTRIP, D3DCULL_NONE, 24 * 8}, {D3DPT_TRIANGLEFAN, D3DCULL_CCW, 8 * 8},
        {D3DPT_TRIANGLEFAN, D3DCULL_CW, 0},
    };
    for (const auto& c : cases) {
        device_->SetRenderState(D3DRS_CULLMODE, c.cull);
        clear(0);
        if (c.type == D3DPT_TRIANGLESTRIP)
            draw(c.type, strip);
        else
            draw(c.type, fan);
        EXPECT_EQ(count_pixels(WHITE), c.want)
            << (c.type == D3DPT_TRIANGLESTRIP ? "strip" : "fan") << ", cull " << c.cull;
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, SoftRaster, ::testing::ValuesIn(RASTER_DEVICES),
                         [](const ::testing::TestParamInfo<RasterDevice>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
