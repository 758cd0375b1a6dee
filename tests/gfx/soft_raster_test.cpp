// The software device against exact expectations: coverage and the fill
// rule, depth, fog, stage operations, addressing and near-plane clipping.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gfx/d3d8.h"
#include "gfx/soft/soft_device.h"

namespace {

constexpr int W = 64;
constexpr int H = 48;

class SoftRaster : public ::testing::Test {
protected:
    void SetUp() override
    {
        soft_config_reset();
        d3d_ = soft_create_direct3d();
        ASSERT_NE(d3d_, nullptr);
        D3DPRESENT_PARAMETERS params = {};
        params.BackBufferWidth = W;
        params.BackBufferHeight = H;
        params.BackBufferFormat = D3DFMT_X8R8G8B8;
        params.Windowed = 1;
        params.EnableAutoDepthStencil = 1;
        params.AutoDepthStencilFormat = D3DFMT_D16;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                     &params, &device_),
                  D3D_OK);
        ASSERT_EQ(device_->CreateVertexBuffer(256 * sizeof(Vertex), 0, VERTEX_FVF, D3DPOOL_DEFAULT,
                                              &buffer_),
                  D3D_OK);
        device_->SetStreamSource(0, buffer_, sizeof(Vertex));
        device_->SetVertexShader(VERTEX_FVF);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        set_2d();
    }

    void TearDown() override
    {
        for (IDirect3DTexture8* t : textures_)
            t->Release();
        buffer_->Release();
        device_->Release();
        d3d_->Release();
    }

    // One unit per pixel, origin bottom-left, as the program's 2D pass.
    void set_2d()
    {
        Matrix m;
        mat_translation(&m, 0, 0, 0);
        device_->SetTransform(D3DTS_VIEW, &m);
        mat_ortho_lh(&m, float(W), float(H), 0.0f, 2.0f);
        device_->SetTransform(D3DTS_PROJECTION, &m);
        mat_translation(&m, -W / 2.0f, -H / 2.0f, 0.0f);
        device_->SetTransform(D3DTS_WORLD, &m);
    }

    // A perspective camera at the origin looking down +z.
    void set_3d()
    {
        Matrix m;
        mat_translation(&m, 0, 0, 0);
        device_->SetTransform(D3DTS_WORLD, &m);
        device_->SetTransform(D3DTS_VIEW, &m);
        mat_perspective_fov_lh(&m, 3.14159265f / 2.0f, float(W) / float(H), 0.1f, 100.0f);
        device_->SetTransform(D3DTS_PROJECTION, &m);
    }

    // Untextured drawing in a flat colour: stage 0 selects the texture
    // factor-free white of unlit vertices, and the test picks colours by
    // binding a one-texel texture.
    IDirect3DTexture8* texture(int w, int h, std::vector<uint32_t> texels)
    {
        IDirect3DTexture8* t = nullptr;
        EXPECT_EQ(device_->CreateTexture(w, h, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
        D3DLOCKED_RECT lock;
        EXPECT_EQ(t->LockRect(0, &lock, nullptr, 0), D3D_OK);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                static_cast<uint32_t*>(lock.pBits)[y * lock.Pitch / 4 + x] = texels[size_t(y * w + x)];
        t->UnlockRect(0);
        textures_.push_back(t);
        return t;
    }

    void solid(uint32_t colour)
    {
        device_->SetTexture(0, texture(1, 1, {colour}));
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

    void quad2d(float x0, float y0, float x1, float y1, float z = 1.0f, float u0 = 0, float v0 = 0,
                float u1 = 1, float v1 = 1)
    {
        draw(D3DPT_TRIANGLEFAN,
             {{{x0, y0, z}, u0, v1, 0, 0},
              {{x1, y0, z}, u1, v1, 0, 0},
              {{x1, y1, z}, u1, v0, 0, 0},
              {{x0, y1, z}, u0, v0, 0, 0}},
             2);
    }

    uint32_t pixel(int x, int y)
    {
        IDirect3DSurface8* surface = nullptr;
        EXPECT_EQ(device_->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &surface), D3D_OK);
        D3DLOCKED_RECT lock;
        surface->LockRect(&lock, nullptr, D3DLOCK_READONLY);
        uint32_t value = static_cast<uint32_t*>(lock.pBits)[y * lock.Pitch / 4 + x] & 0xFFFFFFu;
        surface->UnlockRect();
        surface->Release();
        return value;
    }

    int count_pixels(uint32_t colour)
    {
        int n = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                n += pixel(x, y) == colour;
        return n;
    }

    IDirect3D8* d3d_ = nullptr;
    IDirect3DDevice8* device_ = nullptr;
    IDirect3DVertexBuffer8* buffer_ = nullptr;
    std::vector<IDirect3DTexture8*> textures_;
};

TEST_F(SoftRaster, QuadCoversExactlyItsPixelsFromTheBottomLeft)
{
    solid(0xFFFFFFFF);
    quad2d(0, 0, 16, 16);
    EXPECT_EQ(count_pixels(0xFFFFFF), 16 * 16);
    for (int y = H - 16; y < H; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(pixel(x, y), 0xFFFFFFu) << x << "," << y;
}

TEST_F(SoftRaster, SharedEdgesAreDrawnOnce)
{
    solid(0xFF404040);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_ZENABLE, 0);
    // A fan of six triangles around an off-centre point, with sub-pixel corners.
    std::vector<Vertex> fan = {{{20.3f, 21.7f, 1}, 0, 0, 0, 0}};
    for (int i = 0; i <= 6; ++i) {
        float a = float(i) * 3.14159265f / 3.0f;
        fan.push_back({{20.3f + 15.1f * std::cos(a), 21.7f + 13.9f * std::sin(a), 1}, 0, 0, 0, 0});
    }
    draw(D3DPT_TRIANGLEFAN, fan, 6);
    EXPECT_EQ(count_pixels(0x808080), 0) << "a pixel was drawn by two triangles";
    EXPECT_GT(count_pixels(0x404040), 400);

    // A diagonal through pixel centres: each centre on it belongs to one side.
    draw(D3DPT_TRIANGLELIST,
         {{{40, 0, 1}, 0, 0, 0, 0}, {{56, 0, 1}, 0, 0, 0, 0}, {{56, 16, 1}, 0, 0, 0, 0},
          {{40, 0, 1}, 0, 0, 0, 0}, {{56, 16, 1}, 0, 0, 0, 0}, {{40, 16, 1}, 0, 0, 0, 0}},
         2);
    for (int y = H - 16; y < H; ++y) {
        for (int x = 40; x < 56; ++x) {
            ASSERT_EQ(pixel(x, y), 0x404040u) << x << "," << y;
        }
    }
    // No holes either: every pixel inside the hexagon's inscribed circle is lit.
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            float dx = float(x) - 20.3f, dy = float(H - y) - 21.7f;
            if (dx * dx + dy * dy < 11.0f * 11.0f) {
                ASSERT_EQ(pixel(x, y), 0x404040u) << x << "," << y;
            }
        }
    }
}

TEST_F(SoftRaster, DepthTestLessEqualAndWriteMask)
{
    solid(0xFF0000FF);
    quad2d(0, 0, 8, 8, 1.0f);
    solid(0xFF00FF00);
    quad2d(0, 0, 8, 8, 1.0f); // equal depth passes
    EXPECT_EQ(pixel(0, H - 1), 0x00FF00u);
    solid(0xFFFF0000);
    quad2d(0, 0, 8, 8, 1.5f); // farther: rejected
    EXPECT_EQ(pixel(0, H - 1), 0x00FF00u);

    device_->SetRenderState(D3DRS_ZWRITEENABLE, 0);
    quad2d(0, 0, 8, 8, 0.5f); // nearer, drawn, but leaves depth alone
    EXPECT_EQ(pixel(0, H - 1), 0xFF0000u);
    solid(0xFFFFFFFF);
    device_->SetRenderState(D3DRS_ZWRITEENABLE, 1);
    quad2d(0, 0, 8, 8, 0.8f); // still passes against the old depth of 1.0
    EXPECT_EQ(pixel(0, H - 1), 0xFFFFFFu);
}

TEST_F(SoftRaster, LinearTableFogOnEyeDepth)
{
    set_3d();
    device_->SetRenderState(D3DRS_FOGENABLE, 1);
    device_->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
    device_->SetRenderState(D3DRS_FOGCOLOR, 0x00FF8000);
    device_->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(10.0f));
    device_->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(30.0f));
    struct Case {
        float depth;
        uint32_t expected;
    } cases[] = {{5.0f, 0x000000}, {10.0f, 0x000000}, {20.0f, 0x804000}, {30.0f, 0xFF8000},
                 {60.0f, 0xFF8000}};
    for (const Case& c : cases) {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFFFF, 1.0f, 0);
        solid(0xFF000000);
        float s = c.depth; // a square that fills the view at this depth
        draw(D3DPT_TRIANGLEFAN,
             {{{-s, -s, c.depth}, 0, 0, 0, 0},
              {{s, -s, c.depth}, 0, 0, 0, 0},
              {{s, s, c.depth}, 0, 0, 0, 0},
              {{-s, s, c.depth}, 0, 0, 0, 0}},
             2);
        uint32_t got = pixel(W / 2, H / 2);
        for (int shift : {16, 8, 0})
            EXPECT_NEAR(int((got >> shift) & 0xFF), int((c.expected >> shift) & 0xFF), 1)
                << "depth " << c.depth;
    }
}

TEST_F(SoftRaster, StageOperationsSaturate)
{
    // Stage 0 adds the texture to the (black) lit colour; stage 1 doubles the
    // product of both textures, clamping at white.
    device_->SetTexture(0, texture(1, 1, {0xFFC08040}));
    device_->SetTexture(1, texture(1, 1, {0xFFC0C0C0}));
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
    device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    quad2d(0, 0, 4, 4);
    uint32_t got = pixel(1, H - 2);
    EXPECT_EQ(got >> 16, 0xFFu);                  // 2 * 0.75 * 0.75 saturates
    EXPECT_NEAR(int((got >> 8) & 0xFF), 0xC0, 1); // 2 * 0.5 * 0.75
    EXPECT_NEAR(int(got & 0xFF), 0x60, 1);        // 2 * 0.25 * 0.75

    // The default MODULATE with lighting on multiplies by black.
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    quad2d(8, 0, 12, 4);
    EXPECT_EQ(pixel(9, H - 2), 0u);
}

TEST_F(SoftRaster, WrapRepeatsAndClampStretchesTheEdge)
{
    device_->SetTexture(0, texture(2, 1, {0xFF000000, 0xFFFFFFFF}));
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    // 16 pixels showing u from 0 to 4: with wrap, 4 black-white pairs.
    quad2d(0, 0, 16, 1, 1.0f, 0, 0, 4, 1);
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(pixel(x, H - 1), (x / 2) % 2 ? 0xFFFFFFu : 0u) << x;

    device_->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    quad2d(0, 2, 16, 3, 1.0f, 0, 0, 4, 1);
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(pixel(x, H - 3), x < 2 ? 0u : 0xFFFFFFu) << x;
}

TEST_F(SoftRaster, TrianglesCrossingTheNearPlaneAreClipped)
{
    set_3d();
    solid(0xFFFFFFFF);
    // A floor from behind the camera to far ahead: the part in front shows,
    // nothing explodes across the screen.
    draw(D3DPT_TRIANGLELIST,
         {{{-50, -1, -20}, 0, 0, 0, 0}, {{50, -1, -20}, 0, 0, 0, 0}, {{0, -1, 80}, 0, 0, 0, 0}}, 1);
    EXPECT_EQ(pixel(W / 2, H - 1), 0xFFFFFFu);  // ground just below the camera
    EXPECT_EQ(pixel(W / 2, 0), 0u);             // sky stays empty
    EXPECT_EQ(pixel(W / 2, H / 2 - 2), 0u);     // above the horizon
    EXPECT_EQ(pixel(W / 2, H / 2 + 2), 0xFFFFFFu);
    int lit = count_pixels(0xFFFFFF);
    EXPECT_GT(lit, W * H / 4);
    EXPECT_LT(lit, W * H / 2 + W);

    // Entirely behind the camera: nothing.
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    draw(D3DPT_TRIANGLELIST,
         {{{-5, -1, -2}, 0, 0, 0, 0}, {{5, -1, -2}, 0, 0, 0, 0}, {{0, 1, -3}, 0, 0, 0, 0}}, 1);
    EXPECT_EQ(count_pixels(0xFFFFFF), 0);
}

TEST_F(SoftRaster, CullModesFollowScreenWinding)
{
    solid(0xFFFFFFFF);
    // Clockwise on screen (y up in the 2D pass, so counter-clockwise in its units).
    std::vector<Vertex> tri = {{{0, 0, 1}, 0, 0, 0, 0}, {{0, 8, 1}, 0, 0, 0, 0}, {{8, 0, 1}, 0, 0, 0, 0}};
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    draw(D3DPT_TRIANGLELIST, tri, 1);
    EXPECT_EQ(count_pixels(0xFFFFFF), 0);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    draw(D3DPT_TRIANGLELIST, tri, 1);
    EXPECT_GT(count_pixels(0xFFFFFF), 20);
}

TEST_F(SoftRaster, DrawsNeverReadPastTheVertexBuffer)
{
    solid(0xFFFFFFFF);
    // Ask for far more triangles than the buffer holds: only whole ones draw.
    draw(D3DPT_TRIANGLELIST, {{{0, 0, 1}, 0, 0, 0, 0}, {{8, 0, 1}, 0, 0, 0, 0}, {{0, 8, 1}, 0, 0, 0, 0}},
         1000);
    EXPECT_GT(count_pixels(0xFFFFFF), 20);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLEFAN, 300, 2), D3DERR_INVALIDCALL);
}

} // namespace
