// The software device against exact expectations: coverage and the fill
// rule, depth, fog, the stage operations the passes use, addressing and
// near-plane clipping.
#include <cmath>
#include <cstring>

#include "gfx_test_util.h"

namespace
{

constexpr int W = 64; // GfxTest's back buffer
constexpr int H = 48;
constexpr uint32_t WHITE = 0xFFFFFF;

const auto at = [](float x, float y, float z = 1.0f, float u = 0, float v = 0) {
    return Vertex{{x, y, z}, u, v, 0, 0};
};

class SoftRaster : public GfxTest
{
  protected:
    void SetUp() override
    {
        GfxTest::SetUp();
        device_ = record_inner(g_device);
        ASSERT_EQ(device_->CreateVertexBuffer(256 * sizeof(Vertex), 0, VERTEX_FVF, D3DPOOL_DEFAULT,
                                              &buffer_),
                  D3D_OK);
        device_->SetStreamSource(0, buffer_, sizeof(Vertex));
        device_->SetVertexShader(VERTEX_FVF);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        clear(0);
        // One unit per pixel, origin bottom-left, as the program's 2D pass.
        Matrix m;
        device_->SetTransform(D3DTS_VIEW, mat_translation(&m, 0, 0, 0));
        device_->SetTransform(D3DTS_PROJECTION, mat_ortho_lh(&m, float(W), float(H), 0, 2));
        device_->SetTransform(D3DTS_WORLD, mat_translation(&m, -W / 2.0f, -H / 2.0f, 0));
    }

    void TearDown() override
    {
        for (IDirect3DTexture8* t : textures_)
            t->Release();
        if (buffer_)
            buffer_->Release();
        GfxTest::TearDown();
    }

    // A perspective camera at the origin looking down +z.
    void set_3d()
    {
        Matrix m;
        device_->SetTransform(D3DTS_WORLD, mat_translation(&m, 0, 0, 0));
        device_->SetTransform(D3DTS_VIEW, &m);
        mat_perspective_fov_lh(&m, 3.14159265f / 2.0f, float(W) / float(H), 0.1f, 100.0f);
        device_->SetTransform(D3DTS_PROJECTION, &m);
    }

    void clear(uint32_t colour)
    {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, colour, 1.0f, 0);
    }

    IDirect3DTexture8* texture(int w, std::vector<uint32_t> texels) // one row
    {
        IDirect3DTexture8* t = nullptr;
        EXPECT_EQ(device_->CreateTexture(w, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
        for (int x = 0; x < w; ++x)
            write_texel(t, 0, x, 0, texels[size_t(x)]);
        textures_.push_back(t);
        return t;
    }

    // Draws in a flat colour: stage 0 selects a one-texel texture.
    void solid(uint32_t colour)
    {
        device_->SetTexture(0, texture(1, {colour}));
        device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    }

    void draw(D3DPRIMITIVETYPE type, const std::vector<Vertex>& vertices, UINT count)
    {
        BYTE* data = nullptr;
        ASSERT_EQ(buffer_->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, vertices.data(), vertices.size() * sizeof(Vertex));
        buffer_->Unlock();
        device_->DrawPrimitive(type, 0, count);
    }

    void quad2d(float x0, float y0, float x1, float y1, float z = 1.0f, float u1 = 1)
    {
        draw(D3DPT_TRIANGLEFAN,
             {at(x0, y0, z, 0, 1), at(x1, y0, z, u1, 1), at(x1, y1, z, u1, 0), at(x0, y1, z, 0, 0)},
             2);
    }

    // The back buffer's colours, rows top first.
    std::vector<uint32_t> frame()
    {
        device_->Present(nullptr, nullptr, nullptr, nullptr);
        int w = 0, h = 0;
        const uint32_t* pixels = soft_device_pixels(device_, &w, &h);
        std::vector<uint32_t> out(pixels, pixels + W * H);
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

    IDirect3DDevice8* device_ = nullptr;
    IDirect3DVertexBuffer8* buffer_ = nullptr;
    std::vector<IDirect3DTexture8*> textures_;
};

TEST_F(SoftRaster, QuadsCoverExactlyTheirPixelsAndSharedEdgesAreDrawnOnce)
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
    draw(D3DPT_TRIANGLEFAN, fan, 6);
    // A diagonal through pixel centres: each centre on it belongs to one side.
    draw(D3DPT_TRIANGLELIST, {at(40, 0), at(56, 0), at(56, 16), at(40, 0), at(56, 16), at(40, 16)},
         2);
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

TEST_F(SoftRaster, DepthLessEqualAndWriteMask)
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
    draw(D3DPT_TRIANGLELIST, tri, 1);
    int lit = count_pixels(WHITE);
    EXPECT_GT(lit, 20);
    clear(0);
    draw(D3DPT_TRIANGLELIST, tri, 1000);
    EXPECT_EQ(count_pixels(WHITE), lit);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLEFAN, 300, 2), D3DERR_INVALIDCALL);
}

TEST_F(SoftRaster, StagesSaturateAndAddressingWrapsOrClamps)
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

TEST_F(SoftRaster, LinearFogOnEyeDepthAndNearPlaneClipping)
{
    set_3d();
    device_->SetRenderState(D3DRS_FOGENABLE, 1);
    device_->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
    device_->SetRenderState(D3DRS_FOGCOLOR, 0x00FF8000);
    device_->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(10.0f));
    device_->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(30.0f));
    const std::pair<float, uint32_t> cases[] = {{5.0f, 0x000000},
                                                {10.0f, 0x000000},
                                                {20.0f, 0x804000},
                                                {30.0f, 0xFF8000},
                                                {60.0f, 0xFF8000}};
    for (auto [z, want] : cases) {
        clear(WHITE);
        solid(0xFF000000); // a square that fills the view at its depth
        draw(D3DPT_TRIANGLEFAN, {at(-z, -z, z), at(z, -z, z), at(z, z, z), at(-z, z, z)}, 2);
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
    draw(D3DPT_TRIANGLELIST, {at(-50, -1, -20), at(50, -1, -20), at(0, -1, 80)}, 1);
    EXPECT_EQ(pixel(W / 2, H - 1), WHITE);  // ground just below the camera
    EXPECT_EQ(pixel(W / 2, 0), 0u);         // sky stays empty
    EXPECT_EQ(pixel(W / 2, H / 2 - 2), 0u); // above the horizon
    EXPECT_EQ(pixel(W / 2, H / 2 + 2), WHITE);
    int lit = count_pixels(WHITE);
    EXPECT_GT(lit, W * H / 4);
    EXPECT_LT(lit, W * H / 2 + W);
    clear(0); // entirely behind the camera: nothing
    draw(D3DPT_TRIANGLELIST, {at(-5, -1, -2), at(5, -1, -2), at(0, 1, -3)}, 1);
    EXPECT_EQ(count_pixels(WHITE), 0);
}

} // namespace
