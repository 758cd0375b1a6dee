// The OpenGL device against the software one: small scenes drawn through the
// device interface by both, read back through the back buffer and compared
// per channel. Each scene isolates states the program's passes rely on. The
// tests need an OpenGL 3.3 context (headless EGL; Mesa's llvmpipe will do)
// and are skipped without one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "gfx/d3d8.h"
#include "gfx/gl/gl_device.h"
#include "gfx/soft/soft_device.h"
#include "platform/sys.h"
#include "res/png_write.h"

// Mesa keeps a few small allocations to the end of any process that made a
// context; they are not ours to free. (Only read by AddressSanitizer builds.)
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=0";
}

namespace
{

constexpr int W = 96;
constexpr int H = 64;

using Texel = std::function<uint32_t(int level, int x, int y)>;

// What a scene may ask of the device it is drawn on.
struct Canvas {
    IDirect3DDevice8* device;
    std::vector<IUnknown8*> owned;

    IDirect3DTexture8* texture(int width, int height, int levels, const Texel& texel,
                               D3DFORMAT format = D3DFMT_A8R8G8B8)
    {
        IDirect3DTexture8* t = nullptr;
        EXPECT_EQ(device->CreateTexture(UINT(width), UINT(height), UINT(levels), 0, format,
                                        D3DPOOL_MANAGED, &t),
                  D3D_OK);
        if (!t)
            return nullptr;
        for (DWORD level = 0; level < t->GetLevelCount(); ++level)
            fill(t, level, texel);
        owned.push_back(t);
        return t;
    }

    static void fill(IDirect3DTexture8* t, DWORD level, const Texel& texel)
    {
        D3DSURFACE_DESC desc;
        D3DLOCKED_RECT lock;
        ASSERT_EQ(t->GetLevelDesc(level, &desc), D3D_OK);
        ASSERT_EQ(t->LockRect(level, &lock, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < desc.Height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lock.pBits) +
                                                    size_t(y) * size_t(lock.Pitch));
            for (UINT x = 0; x < desc.Width; ++x)
                row[x] = texel(int(level), int(x), int(y));
        }
        t->UnlockRect(level);
    }

    void draw(D3DPRIMITIVETYPE type, const std::vector<Vertex>& vertices)
    {
        IDirect3DVertexBuffer8* vb = nullptr;
        UINT bytes = UINT(vertices.size() * sizeof(Vertex));
        ASSERT_EQ(device->CreateVertexBuffer(bytes, 0, VERTEX_FVF, D3DPOOL_DEFAULT, &vb), D3D_OK);
        BYTE* data = nullptr;
        ASSERT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, vertices.data(), bytes);
        vb->Unlock();
        device->SetStreamSource(0, vb, sizeof(Vertex));
        device->SetVertexShader(VERTEX_FVF);
        UINT count =
            type == D3DPT_TRIANGLELIST ? UINT(vertices.size() / 3) : UINT(vertices.size() - 2);
        EXPECT_EQ(device->DrawPrimitive(type, 0, count), D3D_OK);
        owned.push_back(vb);
    }

    // The 2D pass's set-up: one unit per pixel, origin bottom-left.
    void ortho()
    {
        Matrix view, proj, world;
        mat_translation(&view, 0, 0, 0);
        mat_ortho_lh(&proj, float(W), float(H), 0.0f, 2.0f);
        mat_translation(&world, -float(W) / 2, -float(H) / 2, 0);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &proj);
        device->SetTransform(D3DTS_WORLD, &world);
    }

    // The camera's set-up: perspective with the mirrored aspect the program
    // uses, looking along +z from the origin.
    void camera(const Vec3& eye, const Vec3& at)
    {
        Matrix view, proj, world;
        Vec3 up = {0, 1, 0};
        mat_look_at_lh(&view, &eye, &at, &up);
        mat_perspective_fov_lh(&proj, 45.0f * 0.017453292f, -float(W) / float(H), 0.1f, 5000.0f);
        mat_translation(&world, 0, 0, 0);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &proj);
        device->SetTransform(D3DTS_WORLD, &world);
    }

    void quad2d(float x0, float y0, float x1, float y1, float s0, float t0, float s1, float t1,
                float z = 1.0f)
    {
        draw(D3DPT_TRIANGLEFAN, {{{x0, y0, z}, s0, t0, s0, t0},
                                 {{x1, y0, z}, s1, t0, s1, t0},
                                 {{x1, y1, z}, s1, t1, s1, t1},
                                 {{x0, y1, z}, s0, t1, s0, t1}});
    }

    void release()
    {
        for (IUnknown8* object : owned)
            object->Release();
        owned.clear();
    }
};

using Scene = std::function<void(Canvas&)>;

std::vector<uint32_t> render(IDirect3D8* d3d, const Scene& scene, D3DCOLOR clear = 0xFF203040)
{
    D3DPRESENT_PARAMETERS params = {};
    params.BackBufferWidth = W;
    params.BackBufferHeight = H;
    params.BackBufferFormat = D3DFMT_X8R8G8B8;
    params.BackBufferCount = 1;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.Windowed = 1;
    params.EnableAutoDepthStencil = 1;
    params.AutoDepthStencilFormat = D3DFMT_D16;
    IDirect3DDevice8* device = nullptr;
    EXPECT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, g_hwnd,
                                D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device),
              D3D_OK);
    if (!device)
        return {};
    Canvas canvas{device, {}};
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
    device->BeginScene();
    scene(canvas);
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);

    std::vector<uint32_t> pixels;
    IDirect3DSurface8* back = nullptr;
    D3DLOCKED_RECT lock;
    if (device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back) == D3D_OK &&
        back->LockRect(&lock, nullptr, D3DLOCK_READONLY) == D3D_OK) {
        for (int y = 0; y < H; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(
                static_cast<const uint8_t*>(lock.pBits) + size_t(y) * size_t(lock.Pitch));
            pixels.insert(pixels.end(), row, row + W);
        }
        back->UnlockRect();
    }
    if (back)
        back->Release();
    canvas.release();
    device->Release();
    return pixels;
}

// The share of pixels whose channels differ by more than `tolerance`.
double bad_fraction(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int tolerance)
{
    if (a.size() != b.size() || a.empty())
        return 1.0;
    size_t bad = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        for (int shift = 0; shift < 32; shift += 8) {
            int d = int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF);
            if (std::abs(d) > tolerance) {
                ++bad;
                break;
            }
        }
    }
    return double(bad) / double(a.size());
}

uint32_t checker(int, int x, int y)
{
    return ((x ^ y) & 1) ? 0xFFE0C080u : 0xFF304060u;
}

// Every level its own colour, so a wrong mip choice shows.
uint32_t level_colour(int level, int, int)
{
    static const uint32_t COLOURS[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u,
                                       0xFF00FFFFu, 0xFFFF00FFu, 0xFFFFFFFFu, 0xFF808080u};
    return COLOURS[level & 7];
}

class GlScenes : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        if (sys_init(true) != 1)
            return;
        g_hwnd = sys_create_window("gl", W, H, false);
        char why[256] = "";
        s_ready = gl_open(g_hwnd, false, false, why, sizeof why) == 1;
        if (!s_ready)
            std::fprintf(stderr, "no OpenGL: %s\n", why);
    }
    static void TearDownTestSuite()
    {
        gl_close();
        sys_shutdown();
    }

    void SetUp() override
    {
        if (!s_ready)
            GTEST_SKIP() << "no OpenGL 3.3 context";
        soft_ = soft_create_direct3d();
        gl_ = gl_create_direct3d();
        ASSERT_NE(soft_, nullptr);
        ASSERT_NE(gl_, nullptr);
    }
    void TearDown() override
    {
        if (soft_)
            soft_->Release();
        if (gl_)
            gl_->Release();
    }

    // Draws the scene on both devices; at most `max_bad` of the pixels may
    // differ by more than `tolerance` in a channel.
    void expect_agreement(const Scene& scene, int tolerance = 8, double max_bad = 0.01,
                          D3DCOLOR clear = 0xFF203040)
    {
        std::vector<uint32_t> reference = render(soft_, scene, clear);
        std::vector<uint32_t> gl = render(gl_, scene, clear);
        ASSERT_EQ(reference.size(), size_t(W * H));
        ASSERT_EQ(gl.size(), size_t(W * H));
        double bad = bad_fraction(reference, gl, tolerance);
        EXPECT_LE(bad, max_bad);
        if (bad > max_bad) {
            // Both pictures, to look at: the test's name, -soft and -gl.
            std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
            png_write((name + "-soft.png").c_str(), reference.data(), W, H, W * 4, false, false);
            png_write((name + "-gl.png").c_str(), gl.data(), W, H, W * 4, false, false);
        }
        EXPECT_NE(reference, std::vector<uint32_t>(W * H, reference[0])) << "the scene is empty";
    }

    static bool s_ready;
    IDirect3D8* soft_ = nullptr;
    IDirect3D8* gl_ = nullptr;
};

bool GlScenes::s_ready = false;

// Terrain-like stage set-up: lighting on without a material, so stage 0's
// ADD passes the texture through.
void terrain_stages(IDirect3DDevice8* d)
{
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
}

// The filters the program's scene sets. Point sampling elsewhere in these
// scenes keeps texel edges off pixel centres: exactly on one, which texel
// wins is up to the rounding of each rasterizer (DIFFERENCES.md).
void scene_filters(IDirect3DDevice8* d)
{
    for (DWORD state : {D3DTSS_MINFILTER, D3DTSS_MIPFILTER, D3DTSS_MAGFILTER})
        d->SetTextureStageState(0, D3DTEXTURESTAGESTATETYPE(state), D3DTEXF_ANISOTROPIC);
    d->SetTextureStageState(1, D3DTSS_MINFILTER, D3DTEXF_POINT);
    d->SetTextureStageState(1, D3DTSS_MIPFILTER, D3DTEXF_ANISOTROPIC);
    d->SetTextureStageState(1, D3DTSS_MAGFILTER, D3DTEXF_ANISOTROPIC);
}

TEST_F(GlScenes, TexelsMapOneToOneOntoPixelsIn2D)
{
    // Point sampling of a quad on whole pixels: pixel centres and the
    // top-left rule must agree exactly, or a texel column shifts.
    expect_agreement(
        [](Canvas& c) {
            terrain_stages(c.device);
            c.ortho();
            c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
            c.device->SetTexture(0, c.texture(16, 16, 1, [](int, int x, int y) {
                return 0xFF000000u | uint32_t(x * 16) << 16 | uint32_t(y * 16) << 8 | 0x40;
            }));
            c.quad2d(8, 8, 24, 24, 0, 1, 1, 0);
            c.quad2d(24, 8, 40, 24, 0, 1, 1, 0); // shares an edge with the first
            c.quad2d(50.5f, 30.25f, 70.5f, 50.75f, 0, 1, 1, 0);
        },
        0, 0.0);
}

TEST_F(GlScenes, CullingKeepsClockwiseFrontsAndReadBackIsTopRowFirst)
{
    expect_agreement(
        [](Canvas& c) {
            c.ortho();
            c.device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
            c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
            c.device->SetTexture(0, c.texture(4, 4, 1, checker));
            // Clockwise on the screen (the 2D units run upwards, the screen
            // downwards): a front face, drawn under the default CCW culling.
            c.draw(D3DPT_TRIANGLELIST, {{{4, 60, 1}, 0, 0, 0, 0},
                                        {{40, 60, 1}, 1, 0, 1, 0},
                                        {{4, 34, 1}, 0, 1, 0, 1},
                                        // the other winding, lower right: culled
                                        {{50, 4, 1}, 0, 0, 0, 0},
                                        {{90, 4, 1}, 1, 0, 1, 0},
                                        {{50, 30, 1}, 0, 1, 0, 1}});
        },
        0, 0.0);
}

TEST_F(GlScenes, LinearFogOnEyeDepthOverARecedingPlane)
{
    expect_agreement([](Canvas& c) {
        terrain_stages(c.device);
        c.camera({0, 1, 0}, {0, 0.6f, 10});
        c.device->SetRenderState(D3DRS_FOGENABLE, 1);
        c.device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
        c.device->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(2.0f));
        c.device->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(18.0f));
        c.device->SetRenderState(D3DRS_FOGCOLOR, 0xFF8090A0u);
        c.device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
        c.device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
        c.device->SetTexture(0, c.texture(8, 8, 1, checker));
        c.draw(D3DPT_TRIANGLESTRIP, {{{-20, 0, 0.5f}, 0, 0, 0, 0},
                                     {{20, 0, 0.5f}, 8, 0, 8, 0},
                                     {{-20, 0, 40}, 0, 8, 0, 8},
                                     {{20, 0, 40}, 8, 8, 8, 8}});
    });
}

TEST_F(GlScenes, TwoStagesModulate2xWithAClampedSecondStage)
{
    expect_agreement([](Canvas& c) {
        terrain_stages(c.device);
        c.ortho();
        c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        scene_filters(c.device);
        c.device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
        c.device->SetTextureStageState(1, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
        c.device->SetTextureStageState(1, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
        c.device->SetTexture(0, c.texture(8, 8, 0, checker));
        c.device->SetTexture(1, c.texture(4, 4, 0, [](int, int x, int y) {
            return 0xFF000000u | uint32_t(40 + x * 50) << 16 | uint32_t(200 - y * 40) << 8 | 0x90;
        }));
        // The second coordinate set runs outside 0..1: the clamp shows edges.
        c.draw(D3DPT_TRIANGLEFAN, {{{0, 0, 1}, 0, 0, -0.5f, -0.5f},
                                   {{W, 0, 1}, 3, 0, 1.5f, -0.5f},
                                   {{W, H, 1}, 3, 3, 1.5f, 1.5f},
                                   {{0, H, 1}, 0, 3, -0.5f, 1.5f}});
    });
}

TEST_F(GlScenes, AddressModesWrapMirrorClampAndBorder)
{
    expect_agreement(
        [](Canvas& c) {
            terrain_stages(c.device);
            c.ortho();
            c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
            IDirect3DTexture8* t = c.texture(4, 4, 1, [](int, int x, int y) {
                return 0xFF000000u | uint32_t(x * 80) << 16 | uint32_t(y * 80) << 8;
            });
            c.device->SetTexture(0, t);
            const DWORD modes[] = {D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP,
                                   D3DTADDRESS_BORDER};
            c.device->SetTextureStageState(0, D3DTSS_BORDERCOLOR, 0xFF00C0FFu);
            for (int i = 0; i < 4; ++i) {
                c.device->SetTextureStageState(0, D3DTSS_ADDRESSU, modes[i]);
                c.device->SetTextureStageState(0, D3DTSS_ADDRESSV, modes[i]);
                float x = float(i * 24);
                // Texels twice the size of pixels: no edge lands on a centre.
                c.quad2d(x, 8, x + 24, 56, -1, 2, 2, -1);
            }
        },
        0, 0.02);
}

TEST_F(GlScenes, MipLevelsOnARecedingPlanePointAndLinear)
{
    for (DWORD mip : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
        SCOPED_TRACE(mip);
        expect_agreement(
            [mip](Canvas& c) {
                terrain_stages(c.device);
                c.camera({0, 1, 0}, {0, 0.5f, 10});
                c.device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
                c.device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
                c.device->SetTextureStageState(0, D3DTSS_MIPFILTER, mip);
                c.device->SetTexture(0, c.texture(64, 64, 0, level_colour));
                c.draw(D3DPT_TRIANGLESTRIP, {{{-20, 0, 0.5f}, 0, 0, 0, 0},
                                             {{20, 0, 0.5f}, 20, 0, 20, 0},
                                             {{-20, 0, 60}, 0, 40, 0, 40},
                                             {{20, 0, 60}, 20, 40, 20, 40}});
            },
            // Each rasterizer estimates the level of detail its own way
            // (llvmpipe approximates the footprint's length), so blends and
            // band edges move a little; a wrong level differs by 128 or more.
            64, 0.03);
    }
}

TEST_F(GlScenes, BlendingTranslucentAndAdditiveOverDepthTestedGeometry)
{
    expect_agreement([](Canvas& c) {
        terrain_stages(c.device);
        scene_filters(c.device);
        c.ortho();
        c.device->SetTexture(0, c.texture(8, 8, 0, checker));
        c.quad2d(0, 0, W, H, 0, 0, 2, 2, 0.8f); // opaque, depth 0.4
        IDirect3DTexture8* glow = c.texture(
            8, 8, 1, [](int, int x, int) { return uint32_t(x * 32) << 24 | 0x00C06020u; });
        c.device->SetTexture(0, glow);
        c.device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
        c.device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_ADD);
        c.device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        c.device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        c.quad2d(10, 10, 50, 50, 0, 0, 1, 1, 0.5f); // in front: blends
        c.quad2d(60, 10, 90, 50, 0, 0, 1, 1, 1.5f); // behind: hidden
        c.device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        c.device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        c.quad2d(30, 30, 80, 60, 0, 0, 1, 1, 1.5f); // additive, no depth test
    });
}

TEST_F(GlScenes, RewrittenTextureLevelsReachTheNextDraw)
{
    // A texture drawn, written again through a lock, drawn again: the second
    // draw must show the new texels (the fire and lightmap work this way).
    expect_agreement(
        [](Canvas& c) {
            terrain_stages(c.device);
            c.ortho();
            c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
            IDirect3DTexture8* t = c.texture(8, 8, 1, checker);
            c.device->SetTexture(0, t);
            c.quad2d(0, 0, 40, 40, 0, 1, 1, 0);
            Canvas::fill(t, 0, [](int, int x, int) { return 0xFF00FF00u | uint32_t(x * 30); });
            c.quad2d(48, 0, 88, 40, 0, 1, 1, 0);
        },
        0, 0.0);
    // The same for a whole mip chain drawn minified: every level written
    // again must be sampled anew, not only the most detailed one.
    expect_agreement(
        [](Canvas& c) {
            c.ortho();
            c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
            c.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
            c.device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
            c.device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
            IDirect3DTexture8* t = c.texture(16, 16, 0, level_colour);
            c.device->SetTexture(0, t);
            // 2^lambda texels a pixel along u: whole lambdas pick levels 1 to 4.
            auto row = [&c](float y) {
                for (int lambda = 1; lambda <= 4; ++lambda) {
                    float x = float(lambda - 1) * 12;
                    c.quad2d(x, y, x + 8, y + 8, 0, 1, std::exp2(float(lambda)) * 0.5f, 0);
                }
            };
            row(0);
            for (DWORD level = 0; level < t->GetLevelCount(); ++level)
                Canvas::fill(t, level,
                             [](int l, int x, int y) { return level_colour(l + 3, x, y); });
            row(16);
        },
        0, 0.0);
}

TEST_F(GlScenes, DepthWritesOffWhileTheDepthTestStaysOn)
{
    // The fire's pass: tested against the scene's depth, written nowhere,
    // so a far quad drawn after a near one still covers it.
    expect_agreement(
        [](Canvas& c) {
            c.ortho();
            auto quad = [&c](uint32_t colour, float x0, float x1, float z) {
                c.device->SetTexture(
                    0, c.texture(1, 1, 1, [colour](int, int, int) { return colour; }));
                c.quad2d(x0, 8, x1, 56, 0, 0, 1, 1, z);
            };
            c.device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
            c.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
            c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
            c.device->SetRenderState(D3DRS_ZWRITEENABLE, 1);
            quad(0xFFFFFFFFu, 0, 16, 1.0f); // with writes, as the terrain
            c.device->SetRenderState(D3DRS_ZWRITEENABLE, 0);
            quad(0xFFFF0000u, 20, 70, 0.5f); // near
            quad(0xFF00FF00u, 40, 90, 1.5f); // far, over the near one
        },
        0, 0.0);
}

// The reference checks the software device is held to (blend factors, mip
// levels, the near plane, strip winding), drawn on both devices: every pixel
// must agree, so one wrong factor, level or triangle shows.
void solid(Canvas& c, uint32_t colour)
{
    c.device->SetTexture(0, c.texture(1, 1, 1, [colour](int, int, int) { return colour; }));
    c.device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    c.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
}

TEST_F(GlScenes, EveryBlendFactorOnBothSides)
{
    expect_agreement(
        [](Canvas& c) {
            c.ortho();
            solid(c, 0x40C04020u); // alpha 0.25 from the texture
            c.device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
            for (DWORD factor = D3DBLEND_ZERO; factor <= D3DBLEND_INVDESTCOLOR; ++factor) {
                for (int side = 0; side < 2; ++side) {
                    c.device->SetRenderState(D3DRS_SRCBLEND, side ? D3DBLEND_ZERO : factor);
                    c.device->SetRenderState(D3DRS_DESTBLEND, side ? factor : D3DBLEND_ZERO);
                    float x = float((factor - 1) * 9), y = float(side * 12);
                    c.quad2d(x, y, x + 8, y + 8, 0, 0, 1, 1);
                }
            }
        },
        1, 0.0, 0xFF306090u);
}

TEST_F(GlScenes, MipLevelsByFootprintAndFilter)
{
    expect_agreement(
        [](Canvas& c) {
            c.ortho();
            c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
            c.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
            c.device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
            c.device->SetTexture(0, c.texture(16, 16, 0, level_colour, D3DFMT_X8R8G8B8));
            // 2^lambda texels a pixel along u, 2 along v; point mip filtering
            // rounds to the nearest level, linear blends the two around it.
            const float lambdas[] = {1.0f, 1.4f, 1.6f, 2.0f, 9.0f};
            int i = 0;
            for (DWORD mip : {D3DTEXF_POINT, D3DTEXF_LINEAR}) {
                c.device->SetTextureStageState(0, D3DTSS_MIPFILTER, mip);
                for (float lambda : lambdas) {
                    float x = float(i % 10) * 9, y = float(i / 10) * 12;
                    c.quad2d(x, y, x + 8, y + 8, 0, 1, std::exp2(lambda) * 0.5f, 0);
                    ++i;
                }
            }
        },
        // llvmpipe's level of detail is a close approximation: linear blends
        // between two levels land a few steps apart; a wrong level is 100+.
        8, 0.0);
}

TEST_F(GlScenes, NearPlaneAtTheProjectionsNearDistance)
{
    expect_agreement(
        [](Canvas& c) {
            solid(c, 0xFFFFFFFFu);
            Matrix m;
            c.device->SetTransform(D3DTS_WORLD, mat_translation(&m, 0, 0, 0));
            c.device->SetTransform(D3DTS_VIEW, &m);
            mat_perspective_fov_lh(&m, 1.5707964f, float(W) / float(H), 0.1f, 100.0f);
            c.device->SetTransform(D3DTS_PROJECTION, &m);
            // Left: just in front of the near plane (nothing); right: just
            // behind it (drawn).
            for (float z : {0.07f, 0.099f, 0.101f, 0.11f}) {
                float x = z < 0.1f ? -z : 0.0f;
                c.draw(D3DPT_TRIANGLEFAN, {{{x, -z / 2, z}, 0, 0, 0, 0},
                                           {{x + z * 0.9f, -z / 2, z}, 0, 0, 0, 0},
                                           {{x + z * 0.9f, z / 2, z}, 0, 0, 0, 0},
                                           {{x, z / 2, z}, 0, 0, 0, 0}});
            }
        },
        0, 0.0);
}

TEST_F(GlScenes, StripsAndFansKeepOneFacingUnderCulling)
{
    expect_agreement(
        [](Canvas& c) {
            c.ortho();
            solid(c, 0xFFFFFFFFu);
            auto at = [](float x, float y) { return Vertex{{x, y, 1}, 0, 0, 0, 0}; };
            int row = 0;
            for (DWORD cull : {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW}) {
                c.device->SetRenderState(D3DRS_CULLMODE, cull);
                float y = float(row++ * 12);
                // Three squares clockwise on screen as one strip, one as a fan.
                c.draw(D3DPT_TRIANGLESTRIP, {at(0, y), at(0, y + 8), at(8, y), at(8, y + 8),
                                             at(16, y), at(16, y + 8), at(24, y), at(24, y + 8)});
                c.draw(D3DPT_TRIANGLEFAN, {at(40, y), at(40, y + 8), at(48, y + 8), at(48, y)});
            }
        },
        0, 0.0);
}

TEST_F(GlScenes, ADrawLargerThanTheVertexRingIsDrawnWhole)
{
    expect_agreement(
        [](Canvas& c) {
            c.ortho();
            solid(c, 0xFFFFFFFFu);
            // 9.6 MiB of vertices, more than the OpenGL device streams at
            // once: empty triangles, then a square near the end of the draw.
            auto at = [](float x, float y) { return Vertex{{x, y, 1}, 0, 0, 0, 0}; };
            std::vector<Vertex> vertices(120000 * 3, at(0, 0));
            std::vector<Vertex> square = {at(20, 20), at(60, 20), at(60, 50),
                                          at(20, 20), at(60, 50), at(20, 50)};
            std::copy(square.begin(), square.end(), vertices.end() - 12);
            c.draw(D3DPT_TRIANGLELIST, vertices);
        },
        0, 0.0);
}

} // namespace

namespace
{

TEST(GlRenderer, MesasSoftwareRasterizersAreNotHardware)
{
    // `auto` takes OpenGL only where this says hardware.
    for (const char* name :
         {"llvmpipe (LLVM 15.0.6, 256 bits)", "softpipe", "Software Rasterizer", "swrast"})
        EXPECT_TRUE(gl_renderer_is_software(name)) << name;
    for (const char* name : {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "NVIDIA GeForce GTX 1060",
                             "AMD Radeon RX 580 (polaris10, LLVM 15.0.6, DRM 3.49)"})
        EXPECT_FALSE(gl_renderer_is_software(name)) << name;
}

} // namespace
