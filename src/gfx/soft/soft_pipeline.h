// The stages of the software rasterizer and the records passed between them:
// transform and clip (soft_clip.cpp), triangle setup (soft_setup.cpp),
// rasterization in 2 x 2 quads (soft_raster.cpp), and per-pixel shading,
// fog, depth and blending (soft_shade.cpp). Setup is kept apart from raster
// so a triangle can be set up once and rasterized tile by tile.
#pragma once
#include <cstdint>

#include "gfx/soft/soft_internal.h"

constexpr int SOFT_ATTRS = 4; // u0, v0, u1, v1

// A vertex in homogeneous clip space with its texture coordinates.
struct ClipVertex {
    float x, y, z, w;
    float attr[SOFT_ATTRS];
};

// A clipped vertex after the perspective divide and viewport transform:
// Direct3D screen space (pixel centres on integers, y down), depth 0..1.
struct ScreenVertex {
    float x, y, z;
    float inv_w;
    float attr_w[SOFT_ATTRS]; // attributes times inv_w, for perspective correction
};

// A clipped polygon: a triangle cut by up to six planes has at most 9 corners.
constexpr int SOFT_MAX_POLYGON = 12;

// Cuts a triangle against the near and far planes and a guard band around the
// viewport. Returns the number of corners written to `out` (0 when nothing is
// left, or 3..SOFT_MAX_POLYGON).
int soft_clip_triangle(const ClipVertex in[3], ClipVertex out[SOFT_MAX_POLYGON]);

// Sub-pixel precision of the snapped vertex positions.
constexpr int SOFT_SUBPIXEL_BITS = 8;
constexpr int64_t SOFT_SUBPIXEL_ONE = int64_t(1) << SOFT_SUBPIXEL_BITS;

// A value that varies linearly over screen space: value(x, y) = c + dx·x + dy·y.
struct SoftPlane {
    float c, dx, dy;
    float at(float x, float y) const { return c + dx * x + dy * y; }
};

// Everything raster needs of one triangle.
struct TriangleSetup {
    // Edge functions in fixed point, oriented so that inside is >= 0; the bias
    // makes edges that are neither top nor left exclusive.
    int64_t edge_c[3], edge_dx[3], edge_dy[3];
    int min_x, min_y, max_x, max_y; // pixel bounds, inclusive, inside the target
    SoftPlane z, inv_w;
    SoftPlane attr_w[SOFT_ATTRS];
};

// Snaps, culls and sets up one triangle. Returns false when it covers no pixel
// centre, is degenerate, or faces away under `cull_mode`.
bool soft_setup_triangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c,
                         DWORD cull_mode, int target_width, int target_height,
                         TriangleSetup* setup);

// What stays constant over one draw: the fixed-function description of the
// device state, the textures its stages sample and the target.
struct SoftDrawContext {
    FfDraw draw;
    const SoftTexture* texture[FF_STAGES]; // null where the stage does not sample
    SoftTarget target;
};

// The context of a draw made under `state` and described by `described`.
void soft_prepare_context(const FrontState& state, const FfDraw& described,
                          const SoftTarget& target, SoftDrawContext* context);

// Receives the set-up triangles of a draw, one call each, in submission order.
typedef void (*SoftTriangleSink)(void* user, const TriangleSetup& setup);

// Transforms, assembles, clips and sets up the primitives of one draw (made
// under `state`, described by `context`) and hands every triangle that covers
// a pixel centre to `sink`.
void soft_setup_draw(const FrontState& state, const SoftDrawContext& context, const FrontDraw& draw,
                     SoftTriangleSink sink, void* user);

// Rasterizes the part of a set-up triangle inside [x0, x1) x [y0, y1).
void soft_raster_triangle(const SoftDrawContext& context, const TriangleSetup& setup, int x0,
                          int y0, int x1, int y1);

// Per-pixel inputs of one 2 x 2 quad: attributes at all four pixel centres
// (also the uncovered ones, for derivatives) and which pixels are covered.
struct SoftQuad {
    int x, y;      // top-left pixel
    unsigned mask; // bit i: pixel (x + (i & 1), y + (i >> 1)) is covered
    float z[4];
    float w[4]; // eye depth (1 / interpolated inv_w)
    float attr[4][SOFT_ATTRS];
};

// Shades the covered pixels of a quad and writes them through depth test and
// blending.
void soft_shade_quad(const SoftDrawContext& context, const SoftQuad& quad);
