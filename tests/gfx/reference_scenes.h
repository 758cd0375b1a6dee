// Small frames whose pixels are known exactly: coverage and the fill rule,
// depth, the stage operations the passes use, addressing, fog and the near
// plane, blend factors, mip selection and culling of strips and fans. The
// reference device is held to the expectations (soft_raster_test); the tiled
// device and OpenGL are held to the reference's frames.
#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <ostream>
#include <string>

#include "canvas.h"

constexpr int SCENE_W = 96;
constexpr int SCENE_H = 64;

using Frame = std::vector<uint32_t>; // top row first

// The colour of the pixel whose centre is (x + 0.5, y + 0.5) in 2D units
// (origin bottom-left, as Canvas::ortho has them).
inline uint32_t pixel_2d(const Frame& f, int x, int y)
{
    return f[size_t((SCENE_H - 1 - y) * SCENE_W + x)] & 0xFFFFFFu;
}

inline void expect_colour_near(uint32_t got, uint32_t want, int tolerance, const std::string& what)
{
    for (int shift : {16, 8, 0})
        EXPECT_NEAR(int((got >> shift) & 0xFF), int((want >> shift) & 0xFF), tolerance) << what;
}

// Pixels of `colour` in the 2D box [x0, x1) x [y0, y1).
inline int count_2d(const Frame& f, uint32_t colour, int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += pixel_2d(f, x, y) == colour;
    return n;
}

struct FrameScene {
    const char* name;
    int tolerance;  // how far another device's channels may stray from the reference's
    double max_bad; // in what share of the pixels
    std::function<void(Canvas&)> draw;
    D3DCOLOR clear = 0;
    std::function<void(const Frame&)> check = nullptr; // the reference's frame, exactly
};

inline void PrintTo(const FrameScene& scene, std::ostream* os)
{
    *os << scene.name;
}

// A 2D canvas without culling, drawing one flat colour.
inline void flat_2d(Canvas& c, uint32_t colour)
{
    c.ortho();
    c.solid(colour);
    c.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
}

// An 8 x 8 square at (x, y) whose u runs to u1 (v from 1 to 0).
inline void square(Canvas& c, float x, float y, float u1 = 1, float z = 1)
{
    c.quad2d(x, y, x + 8, y + 8, 0, 1, u1, 0, z);
}

constexpr uint32_t WHITE = 0xFFFFFF;

// The depth steps: each square draws the steps up to its own.
struct DepthStep {
    uint32_t colour;
    float z;
    bool write;
    uint32_t want;
};
inline const DepthStep DEPTH_STEPS[] = {
    {0xFF0000FF, 1.0f, true, 0x0000FF},
    {0xFF00FF00, 1.0f, true, 0x00FF00},  // equal depth passes
    {0xFFFF0000, 1.5f, true, 0x00FF00},  // farther: rejected
    {0xFFFF0000, 0.5f, false, 0xFF0000}, // nearer, drawn, but leaves depth alone
    {0xFFFFFFFF, 0.8f, true, WHITE}};    // passes against the old depth of 1.0

// The fog cases: a black square filling the middle of the view at depth z,
// in linear fog from 10 to 30; in front of the near plane (0.1) nothing.
inline const std::pair<float, uint32_t> FOG_DEPTHS[] = {
    {0.07f, WHITE},    {0.099f, WHITE},   {0.101f, 0x000000}, {5.0f, 0x000000},
    {10.0f, 0x000000}, {20.0f, 0x804000}, {30.0f, 0xFF8000},  {60.0f, 0xFF8000}};

// The blend cases: a known source (0.75, 0.25, 0.125, alpha 0.25) over a
// known destination (0.19, 0.38, 0.56; the back buffer has no alpha, so it
// reads as 1), each factor once as the source factor with ZERO for the
// destination (lower row) and once the other way round (upper row).
constexpr uint32_t BLEND_SRC = 0x40C04020, BLEND_DST = 0x306090;

inline std::array<float, 3> blend_factor(DWORD factor)
{
    const float s[3] = {192 / 255.0f, 64 / 255.0f, 32 / 255.0f}, sa = 64 / 255.0f;
    const float d[3] = {48 / 255.0f, 96 / 255.0f, 144 / 255.0f}, da = 1.0f;
    switch (factor) {
    case D3DBLEND_ZERO:
        return {0, 0, 0};
    case D3DBLEND_ONE:
        return {1, 1, 1};
    case D3DBLEND_SRCCOLOR:
        return {s[0], s[1], s[2]};
    case D3DBLEND_INVSRCCOLOR:
        return {1 - s[0], 1 - s[1], 1 - s[2]};
    case D3DBLEND_SRCALPHA:
        return {sa, sa, sa};
    case D3DBLEND_INVSRCALPHA:
        return {1 - sa, 1 - sa, 1 - sa};
    case D3DBLEND_DESTALPHA:
        return {da, da, da};
    case D3DBLEND_INVDESTALPHA:
        return {1 - da, 1 - da, 1 - da};
    case D3DBLEND_DESTCOLOR:
        return {d[0], d[1], d[2]};
    default:
        return {1 - d[0], 1 - d[1], 1 - d[2]}; // INVDESTCOLOR
    }
}

// The mip cases on a 16 x 16 texture whose five levels are each one colour,
// on 8 x 8 squares: v covers 2 texels a pixel, u 2^lambda. The level of
// detail is log2 of the larger step; point mip filtering takes the nearest
// level, linear blends the two around it, and MAXMIPLEVEL keeps the more
// detailed levels out.
struct MipCase {
    DWORD mip_filter, max_level;
    float lambda; // at least 1: v alone gives 1
    uint32_t want;
};
inline const uint32_t MIP_LEVELS[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080};
inline const MipCase MIP_CASES[] = {
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

inline const FrameScene REFERENCE_SCENES[] = {
    // Sub-pixel corners and a diagonal through pixel centres, added so that
    // a pixel drawn twice shows; a whole-pixel square covers its pixels
    // exactly.
    {"QuadsCoverExactlyTheirPixelsAndSharedEdgesAreDrawnOnce", 0, 0.0,
     [](Canvas& c) {
         flat_2d(c, 0xFF404040);
         c.device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
         c.device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
         c.device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
         c.device->SetRenderState(D3DRS_ZENABLE, 0);
         std::vector<Vertex> fan = {at(20.3f, 21.7f)}; // six triangles round an off-centre point
         for (int i = 0; i <= 6; ++i) {
             float a = float(i) * 3.14159265f / 3.0f;
             fan.push_back(at(20.3f + 15.1f * std::cos(a), 21.7f + 13.9f * std::sin(a)));
         }
         c.draw(D3DPT_TRIANGLEFAN, fan);
         c.draw(D3DPT_TRIANGLELIST,
                {at(40, 0), at(56, 0), at(56, 16), at(40, 0), at(56, 16), at(40, 16)});
         c.quad2d(72, 40, 88, 56, 0, 0, 1, 1);
     },
     0,
     [](const Frame& f) {
         EXPECT_EQ(count_2d(f, 0x808080, 0, 0, SCENE_W, SCENE_H), 0) << "a pixel was drawn twice";
         EXPECT_EQ(count_2d(f, 0x404040, 64, 0, SCENE_W, SCENE_H), 16 * 16);
         for (int y = 0; y < SCENE_H; ++y) {
             for (int x = 0; x < SCENE_W; ++x) {
                 // No holes: the squares and the hexagon's inscribed circle
                 // are lit throughout.
                 float dx = float(x) + 0.5f - 20.3f, dy = float(y) + 0.5f - 21.7f;
                 bool square =
                     (x >= 40 && x < 56 && y < 16) || (x >= 72 && x < 88 && y >= 40 && y < 56);
                 if (square || dx * dx + dy * dy < 11.0f * 11.0f) {
                     ASSERT_EQ(pixel_2d(f, x, y), 0x404040u) << x << "," << y;
                 }
             }
         }
     }},
    {"DepthLessEqualAndWriteMask", 0, 0.0,
     [](Canvas& c) {
         flat_2d(c, 0);
         for (int k = 0; k < int(std::size(DEPTH_STEPS)); ++k) {
             for (int j = 0; j <= k; ++j) {
                 c.device->SetRenderState(D3DRS_ZWRITEENABLE, DEPTH_STEPS[j].write);
                 c.solid(DEPTH_STEPS[j].colour);
                 square(c, float(10 * k), 0, 1, DEPTH_STEPS[j].z);
             }
         }
     },
     0,
     [](const Frame& f) {
         for (int k = 0; k < int(std::size(DEPTH_STEPS)); ++k)
             EXPECT_EQ(pixel_2d(f, 10 * k + 1, 1), DEPTH_STEPS[k].want) << "step " << k;
     }},
    // Stage 0 adds the texture to the (black) lit colour; stage 1 doubles the
    // product of both textures, clamping at white. Then a black and white
    // pair of texels four times over 16 pixels: wrapped, and clamped.
    {"StagesSaturateAndAddressingWrapsOrClamps", 1, 0.0,
     [](Canvas& c) {
         flat_2d(c, 0);
         auto texel = [&c](std::vector<uint32_t> row) {
             return c.texture(int(row.size()), 1, 1,
                              [row](int, int x, int) { return row[size_t(x)]; });
         };
         c.device->SetTexture(0, texel({0xFFC08040}));
         c.device->SetTexture(1, texel({0xFFC0C0C0}));
         c.device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
         c.device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
         square(c, 0, 0);
         c.device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
         c.device->SetTexture(0, texel({0xFF000000, 0xFFFFFFFF}));
         c.device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
         c.quad2d(0, 10, 16, 11, 0, 1, 4, 0);
         c.device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
         c.quad2d(0, 12, 16, 13, 0, 1, 4, 0);
     },
     0,
     [](const Frame& f) {
         uint32_t got = pixel_2d(f, 1, 1);
         EXPECT_EQ(got >> 16, 0xFFu);                  // 2 * 0.75 * 0.75 saturates
         EXPECT_NEAR(int((got >> 8) & 0xFF), 0xC0, 1); // 2 * 0.5 * 0.75
         EXPECT_NEAR(int(got & 0xFF), 0x60, 1);        // 2 * 0.25 * 0.75
         for (int x = 0; x < 16; ++x) {
             EXPECT_EQ(pixel_2d(f, x, 10), (x / 2) % 2 ? WHITE : 0u) << x;
             EXPECT_EQ(pixel_2d(f, x, 12), x < 2 ? 0u : WHITE) << x;
         }
     }},
    {"LinearFogOnEyeDepthAndNearPlaneClipping", 8, 0.0,
     [](Canvas& c) {
         flat_2d(c, 0xFF000000);
         c.perspective(3.14159265f / 2.0f);
         c.device->SetRenderState(D3DRS_FOGENABLE, 1);
         c.device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
         c.device->SetRenderState(D3DRS_FOGCOLOR, 0x00FF8000);
         c.device->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(10.0f));
         c.device->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(30.0f));
         const float aspect = float(SCENE_W) / float(SCENE_H);
         for (int k = 0; k < int(std::size(FOG_DEPTHS)); ++k) {
             const float z = FOG_DEPTHS[k].first, x0 = float(12 * k + 2) / 48.0f - 1.0f;
             const float x1 = x0 + 8.0f / 48.0f, s = aspect * z, h = 0.5f * z;
             c.draw(D3DPT_TRIANGLEFAN,
                    {at(x0 * s, -h, z), at(x1 * s, -h, z), at(x1 * s, h, z), at(x0 * s, h, z)});
         }
     },
     WHITE,
     [](const Frame& f) {
         for (int k = 0; k < int(std::size(FOG_DEPTHS)); ++k)
             expect_colour_near(pixel_2d(f, 12 * k + 6, SCENE_H / 2), FOG_DEPTHS[k].second, 1,
                                "depth " + std::to_string(FOG_DEPTHS[k].first));
     }},
    // A floor from behind the camera to far ahead: the part in front shows,
    // nothing explodes across the screen; a triangle wholly behind the camera
    // draws nothing (the upper half stays empty).
    {"AFloorThroughTheEyeIsClippedAtTheNearPlane", 0, 0.0,
     [](Canvas& c) {
         flat_2d(c, 0xFFFFFFFF);
         c.perspective(3.14159265f / 2.0f);
         c.draw(D3DPT_TRIANGLELIST, {at(-50, -1, -20), at(50, -1, -20), at(0, -1, 80),
                                     at(-5, -1, -2), at(5, -1, -2), at(0, 1, -3)});
     },
     0,
     [](const Frame& f) {
         EXPECT_EQ(pixel_2d(f, SCENE_W / 2, 0), WHITE); // ground just below the camera
         EXPECT_EQ(pixel_2d(f, SCENE_W / 2, SCENE_H / 2 - 2), WHITE);
         EXPECT_EQ(count_2d(f, WHITE, 0, SCENE_H / 2 + 1, SCENE_W, SCENE_H), 0); // the sky
         int lit = count_2d(f, WHITE, 0, 0, SCENE_W, SCENE_H);
         EXPECT_GT(lit, SCENE_W * SCENE_H / 4);
         EXPECT_LT(lit, SCENE_W * SCENE_H / 2 + SCENE_W);
     }},
    {"EveryBlendFactorOnBothSides", 1, 0.0,
     [](Canvas& c) {
         flat_2d(c, BLEND_SRC); // the alpha comes from the texture too
         c.device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
         c.device->SetRenderState(D3DRS_ZENABLE, 0);
         for (DWORD factor = D3DBLEND_ZERO; factor <= D3DBLEND_INVDESTCOLOR; ++factor) {
             for (int side = 0; side < 2; ++side) {
                 c.device->SetRenderState(D3DRS_SRCBLEND, side ? D3DBLEND_ZERO : factor);
                 c.device->SetRenderState(D3DRS_DESTBLEND, side ? factor : D3DBLEND_ZERO);
                 square(c, float((factor - 1) * 9), float(side * 12));
             }
         }
         // Both terms add up, and the sum saturates.
         c.device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
         c.device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
         square(c, 0, 24);
     },
     BLEND_DST,
     [](const Frame& f) {
         for (DWORD factor = D3DBLEND_ZERO; factor <= D3DBLEND_INVDESTCOLOR; ++factor) {
             for (int side = 0; side < 2; ++side) {
                 const uint32_t scaled = side ? BLEND_DST : BLEND_SRC;
                 uint32_t want = 0;
                 for (int shift : {16, 8, 0})
                     want |= uint32_t(std::lround(float((scaled >> shift) & 0xFF) *
                                                  blend_factor(factor)[size_t(2 - shift / 8)]))
                             << shift;
                 expect_colour_near(pixel_2d(f, int(factor - 1) * 9 + 1, side * 12 + 1), want, 1,
                                    "factor " + std::to_string(factor) +
                                        (side ? " as destination" : " as source"));
             }
         }
         EXPECT_EQ(pixel_2d(f, 1, 25), 0xF0A0B0u);
     }},
    {"MipLevelSelection", 8, 0.0,
     [](Canvas& c) {
         flat_2d(c, 0);
         c.device->SetTexture(
             0, c.texture(
                    16, 16, 0, [](int l, int, int) { return MIP_LEVELS[l]; }, D3DFMT_X8R8G8B8));
         for (int i = 0; i < int(std::size(MIP_CASES)); ++i) {
             c.device->SetTextureStageState(0, D3DTSS_MIPFILTER, MIP_CASES[i].mip_filter);
             c.device->SetTextureStageState(0, D3DTSS_MAXMIPLEVEL, MIP_CASES[i].max_level);
             // 2^lambda texels a pixel along u: u1 * 16 texels over 8 pixels.
             square(c, float(i % 10 * 9), float(i / 10 * 12), std::exp2(MIP_CASES[i].lambda) / 2);
         }
     },
     0,
     [](const Frame& f) {
         for (int i = 0; i < int(std::size(MIP_CASES)); ++i)
             expect_colour_near(pixel_2d(f, i % 10 * 9 + 3, i / 10 * 12 + 3), MIP_CASES[i].want, 2,
                                "case " + std::to_string(i));
     }},
    // Front faces are clockwise on screen; CULL_CCW (the default) drops the
    // others. In a strip every second triangle is listed the other way round
    // and still faces the same way as the first; a fan keeps one winding
    // throughout. A row for each culling: three squares as a strip, one as a
    // fan.
    {"StripsAndFansKeepOneFacingUnderCulling", 0, 0.0,
     [](Canvas& c) {
         flat_2d(c, 0xFFFFFFFF);
         float y = 0;
         for (DWORD cull : {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW}) {
             c.device->SetRenderState(D3DRS_CULLMODE, cull);
             c.draw(D3DPT_TRIANGLESTRIP, {at(0, y), at(0, y + 8), at(8, y), at(8, y + 8), at(16, y),
                                          at(16, y + 8), at(24, y), at(24, y + 8)});
             c.draw(D3DPT_TRIANGLEFAN, {at(40, y), at(40, y + 8), at(48, y + 8), at(48, y)});
             y += 12;
         }
     },
     0,
     [](const Frame& f) {
         for (int row = 0; row < 3; ++row) {
             const bool drawn = row != 1; // CW culls them all
             EXPECT_EQ(count_2d(f, WHITE, 0, row * 12, 32, row * 12 + 12), drawn ? 24 * 8 : 0)
                 << row;
             EXPECT_EQ(count_2d(f, WHITE, 32, row * 12, 64, row * 12 + 12), drawn ? 8 * 8 : 0)
                 << row;
         }
     }},
};
