// The OpenGL device against the software one: small scenes drawn through the
// device interface by both, read back through the back buffer and compared
// per channel. Each scene isolates states the program's passes rely on. The
// tests need an OpenGL 3.3 context (headless EGL; Mesa's llvmpipe will do)
// and are skipped without one; with STORM_TEST_GL_PROFILE=es they run on an
// OpenGL ES 3.0 context instead, as the browser's WebGL 2 would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "../gfx/reference_scenes.h"
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

constexpr int W = SCENE_W;
constexpr int H = SCENE_H;

// The camera's set-up: perspective with the mirrored aspect the program
// uses, looking from `eye` at `at`.
void camera(Canvas& c, const Vec3& eye, const Vec3& at)
{
    Matrix view, proj, world;
    Vec3 up = {0, 1, 0};
    c.device->SetTransform(D3DTS_VIEW, mat_look_at_lh(&view, &eye, &at, &up));
    mat_perspective_fov_lh(&proj, 45.0f * 0.017453292f, -float(W) / float(H), 0.1f, 5000.0f);
    c.device->SetTransform(D3DTS_PROJECTION, &proj);
    c.device->SetTransform(D3DTS_WORLD, mat_translation(&world, 0, 0, 0));
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

class GlContext : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        if (sys_init(true) != 1)
            return;
        g_hwnd = sys_create_window("gl", W, H, false);
        char why[256] = "";
        const char* asked = std::getenv("STORM_TEST_GL_PROFILE");
        GlProfile profile =
            asked && std::string(asked) == "es" ? GlProfile::es : GlProfile::desktop;
        s_ready = gl_open(g_hwnd, false, false, profile, why, sizeof why) == 1;
        if (!s_ready)
            std::fprintf(stderr, "no OpenGL: %s\n", why);
    }
    static void TearDownTestSuite()
    {
        gl_close();
        sys_shutdown();
    }
    static bool s_ready;
};

bool GlContext::s_ready = false;

class GlScenes : public GlContext, public ::testing::WithParamInterface<FrameScene>
{
};

TEST_P(GlScenes, AgreesWithTheSoftwareDevice)
{
    if (!s_ready)
        GTEST_SKIP() << "no OpenGL context of the profile asked for";
    const FrameScene& s = GetParam();
    IDirect3D8 *soft = soft_create_direct3d(), *gl = gl_create_direct3d();
    const Frame reference = render_frame(soft, W, H, s.draw, s.clear, g_hwnd);
    const Frame got = render_frame(gl, W, H, s.draw, s.clear, g_hwnd);
    soft->Release();
    gl->Release();
    ASSERT_EQ(reference.size(), size_t(W * H));
    ASSERT_EQ(got.size(), size_t(W * H));
    double bad = bad_fraction(reference, got, s.tolerance);
    EXPECT_LE(bad, s.max_bad);
    if (bad > s.max_bad) { // both pictures, to look at
        png_write((std::string(s.name) + "-soft.png").c_str(), reference.data(), W, H, W * 4, false,
                  false);
        png_write((std::string(s.name) + "-gl.png").c_str(), got.data(), W, H, W * 4, false, false);
    }
    EXPECT_NE(reference, std::vector<uint32_t>(W * H, reference[0])) << "the scene is empty";
}

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

// A row of 8 x 8 squares at height y, each 2^lambda texels a pixel along u
// (2 along v) of a 16 x 16 texture.
void footprints(Canvas& c, float y, const std::vector<float>& lambdas)
{
    float x = 0;
    for (float lambda : lambdas) {
        c.quad2d(x, y, x + 8, y + 8, 0, 1, std::exp2(lambda) * 0.5f, 0);
        x += 9;
    }
}

// A flat colour on a 2D canvas, with neither depth test nor culling.
void solid_2d(Canvas& c, uint32_t colour)
{
    flat_2d(c, colour);
    c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
}

const D3DCOLOR BACKDROP = 0xFF203040;

// Scenes of the program's own passes.
const FrameScene SCENES[] = {
    {"LinearFogOnEyeDepthOverARecedingPlane", 8, 0.01,
     [](Canvas& c) {
         terrain_stages(c.device);
         camera(c, {0, 1, 0}, {0, 0.6f, 10});
         c.device->SetRenderState(D3DRS_FOGENABLE, 1);
         c.device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
         c.device->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(2.0f));
         c.device->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(18.0f));
         c.device->SetRenderState(D3DRS_FOGCOLOR, 0xFF8090A0u);
         c.device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
         c.device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
         c.device->SetTexture(0, c.texture(8, 8, 1, checker));
         // A plane receding from under the camera.
         c.draw(D3DPT_TRIANGLESTRIP, {at(-20, 0, 0.5f), at(20, 0, 0.5f, 8, 0), at(-20, 0, 40, 0, 8),
                                      at(20, 0, 40, 8, 8)});
     },
     BACKDROP},
    {"TwoStagesModulate2xWithAClampedSecondStage", 8, 0.01,
     [](Canvas& c) {
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
     },
     BACKDROP},
    {"AddressModesWrapMirrorClampAndBorder", 0, 0.02,
     [](Canvas& c) {
         terrain_stages(c.device);
         c.ortho();
         c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
         c.device->SetTexture(0, c.texture(4, 4, 1, [](int, int x, int y) {
             return 0xFF000000u | uint32_t(x * 80) << 16 | uint32_t(y * 80) << 8;
         }));
         c.device->SetTextureStageState(0, D3DTSS_BORDERCOLOR, 0xFF00C0FFu);
         for (DWORD mode = D3DTADDRESS_WRAP; mode <= D3DTADDRESS_BORDER; ++mode) {
             c.device->SetTextureStageState(0, D3DTSS_ADDRESSU, mode);
             c.device->SetTextureStageState(0, D3DTSS_ADDRESSV, mode);
             float x = float(mode - 1) * 24;
             // Texels twice the size of pixels: no edge lands on a centre.
             c.quad2d(x, 8, x + 24, 56, -1, 2, 2, -1);
         }
     },
     BACKDROP},
    {"BlendingTranslucentAndAdditiveOverDepthTestedGeometry", 8, 0.01,
     [](Canvas& c) {
         terrain_stages(c.device);
         scene_filters(c.device);
         c.ortho();
         c.device->SetTexture(0, c.texture(8, 8, 0, checker));
         c.quad2d(0, 0, W, H, 0, 0, 2, 2, 0.8f); // opaque, depth 0.4
         c.device->SetTexture(0, c.texture(8, 8, 1, [](int, int x, int) {
             return uint32_t(x * 32) << 24 | 0x00C06020u;
         }));
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
     },
     BACKDROP},
    // A texture drawn, written again through a lock, drawn again: the second
    // draw must show the new texels (the fire and lightmap work this way).
    {"RewrittenTextureLevelsReachTheNextDraw", 0, 0.0,
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
     BACKDROP},
    // The same for a whole mip chain drawn minified: every level written
    // again must be sampled anew, not only the most detailed one.
    {"RewrittenTextureLevelsReachTheNextDrawWholeChain", 0, 0.0,
     [](Canvas& c) {
         solid_2d(c, 0);
         c.device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
         IDirect3DTexture8* t = c.texture(16, 16, 0, level_colour);
         c.device->SetTexture(0, t);
         footprints(c, 0, {1, 2, 3, 4});
         for (DWORD level = 0; level < t->GetLevelCount(); ++level)
             Canvas::fill(t, level, [](int l, int x, int y) { return level_colour(l + 3, x, y); });
         footprints(c, 16, {1, 2, 3, 4});
     },
     BACKDROP},
    // The fire's pass: tested against the scene's depth, written nowhere,
    // so a far quad drawn after a near one still covers it.
    {"DepthWritesOffWhileTheDepthTestStaysOn", 0, 0.0,
     [](Canvas& c) {
         solid_2d(c, 0xFFFFFFFFu);
         c.device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
         c.quad2d(0, 8, 16, 56, 0, 0, 1, 1, 1.0f); // with writes, as the terrain
         c.device->SetRenderState(D3DRS_ZWRITEENABLE, 0);
         c.solid(0xFFFF0000u);
         c.quad2d(20, 8, 70, 56, 0, 0, 1, 1, 0.5f); // near
         c.solid(0xFF00FF00u);
         c.quad2d(40, 8, 90, 56, 0, 0, 1, 1, 1.5f); // far, over the near one
     },
     BACKDROP},
    // 9.6 MiB of vertices, more than the OpenGL device streams at once:
    // empty triangles, then a square near the end of the draw.
    {"ADrawLargerThanTheVertexRingIsDrawnWhole", 0, 0.0,
     [](Canvas& c) {
         solid_2d(c, 0xFFFFFFFFu);
         std::vector<Vertex> vertices(120000 * 3, at(0, 0));
         std::vector<Vertex> square = {at(20, 20), at(60, 20), at(60, 50),
                                       at(20, 20), at(60, 50), at(20, 50)};
         std::copy(square.begin(), square.end(), vertices.end() - 12);
         c.draw(D3DPT_TRIANGLELIST, vertices);
     },
     BACKDROP},
};
auto scene_name = [](const ::testing::TestParamInfo<FrameScene>& info) {
    return std::string(info.param.name);
};
INSTANTIATE_TEST_SUITE_P(Scenes, GlScenes, ::testing::ValuesIn(SCENES), scene_name);
INSTANTIATE_TEST_SUITE_P(Reference, GlScenes, ::testing::ValuesIn(REFERENCE_SCENES), scene_name);

// A context given anew (as a browser gives back a lost WebGL context): the
// device makes its objects again and the texture uploads its levels again,
// so the next frame is the one before; a context gone for good makes Present
// say the device is lost.
TEST_F(GlContext, AContextGivenAnewDrawsTheSameAndOneGoneLosesTheDevice)
{
    if (!s_ready)
        GTEST_SKIP() << "no OpenGL context of the profile asked for";
    IDirect3D8* gl = gl_create_direct3d();
    {
        Canvas c(gl, W, H, D3DFMT_X8R8G8B8, g_hwnd);
        ASSERT_NE(c.device, nullptr);
        terrain_stages(c.device);
        scene_filters(c.device);
        c.ortho();
        IDirect3DTexture8* texture = c.texture(8, 8, 0, checker);
        auto frame = [&]() {
            c.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040u, 1.0f, 0);
            c.device->BeginScene();
            c.device->SetTexture(0, texture);
            c.quad2d(4, 4, W - 4, H - 4, 0, 0, 3, 3, 0.5f);
            c.device->EndScene();
            EXPECT_EQ(c.device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
            return c.back_buffer();
        };
        const Frame before = frame();
        gl_context_restored();
        EXPECT_EQ(frame(), before);
        EXPECT_NE(before, Frame(before.size(), before[0])) << "the frame is empty";

        gl_context_set_gone(true);
        EXPECT_EQ(c.device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
        gl_context_set_gone(false);
    }
    gl->Release();
}

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
