// The body of the fast rasterizer: the walk over a triangle's blocks in a
// tile, each block's coverage, depth, stages, fog and blend, and the table
// of kernels, one per variant and fixed shape (soft_fast.h). Compiled once
// per instruction set by the unit that includes it (soft_fast_sse2.cpp and
// its kin), which names the set's table (SOFT_FAST_TABLE) and its lane count;
// the build compiles that unit SOFT_FAST_PARTS times, SOFT_FAST_PART naming
// which kernels of the table this compilation holds, so the units of one set
// build in parallel.
//
// Every value is computed with the float operations of soft_raster.cpp and
// soft_shade.cpp in their order, per lane, so each pixel comes out as the
// straightforward path has it; the build keeps the compiler from fusing
// multiplies and adds.
#include <cstdint>
#include <utility>

#include "gfx/soft/soft_fast.h"
#include "gfx/soft/soft_fast_combine.h"
#include "gfx/soft/soft_fast_sample.h"
#include "gfx/soft/soft_simd.h"

static_assert(SOFT_FAST_PART >= 0 && SOFT_FAST_PART < SOFT_FAST_PARTS);

namespace
{

SOFT_INLINE F8 lane_x()
{
    F8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = float(i % WIDTH);
    return out;
}

SOFT_INLINE F8 lane_y()
{
    F8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = float(i / WIDTH);
    return out;
}

// A triangle's planes, spread over the lanes once for all its blocks.
struct PlaneLanes {
    F8 c, dx, dy;
};

struct TrianglePlanes {
    PlaneLanes z, inv_w, attr_w[SOFT_ATTRS];
    bool keeps_clear; // see keeps_where_clear
    // Per stage, see magnified_throughout: over the tile's part.
    bool magnified[FF_STAGES];
};

SOFT_INLINE PlaneLanes plane_lanes(const SoftPlane& p)
{
    return {splat(p.c), splat(p.dx), splat(p.dy)};
}

SOFT_INLINE F8 plane_at(const PlaneLanes& p, F8 x, F8 y)
{
    return p.c + p.dx * x + p.dy * y;
}

// A destination byte read back as a colour and written again as one is the
// same byte, so a pixel blended with nothing comes out as it was.
constexpr bool bytes_survive_blending()
{
    for (int b = 0; b < 256; ++b) {
        float v = float(b) * BYTE_TO_FLOAT;
        if (int(v * 255.0f + 0.5f) != b)
            return false;
    }
    return true;
}
static_assert(bytes_survive_blending());

SOFT_INLINE bool finite_value(float v)
{
    return v > -3.4e38f && v < 3.4e38f;
}

// The depth and w of every lane are ordinary numbers, so the fogged colour of
// a transparent pixel is too (anything times 0 is then 0, never NaN).
SOFT_INLINE bool finite_lanes(F8 z, F8 w)
{
    const F8 big = splat(3.4e38f);
    I8 bad = ~((z > -big) & (z < big) & (w > -big) & (w < big));
    return lane_bits(bad) == 0;
}

SOFT_INLINE double larger(double a, double b)
{
    return a > b ? a : b;
}

// Whether every lane in [x0, x1] x [y0, y1] (pixel coordinates, as the planes
// take them) is sure to sample stage `s` magnified, with w positive and
// finite, depth finite and the stage's coordinates within 2^20 texels (half
// what cells_clear allows): true lets a draw skip those tests block by
// block. A bound, not a measure, with room for the rounding of the lanes'
// float arithmetic; false where unsure.
//
// The planes give u = a / q (a the coordinate's plane over w, q that of 1 /
// w). With q > 0 over the rectangle, du/dx = ((a.dx q.dy - q.dx a.dy) y +
// a.dx q.c - q.dx a.c) / q^2 is largest at a corner, as is |a|, and q is
// least at one; so is dv/dx, and d/dy likewise in x. A quad's step between
// neighbouring lanes is within those, give or take the lanes' rounding.
SOFT_INLINE bool magnified_throughout(const TriangleSetup& t, const SoftFastStage& s, int x0,
                                      int y0, int x1, int y1)
{
    const double xs[2] = {double(x0), double(x1)}, ys[2] = {double(y0), double(y1)};
    const double reach_x = larger(__builtin_fabs(xs[0]), __builtin_fabs(xs[1]));
    const double reach_y = larger(__builtin_fabs(ys[0]), __builtin_fabs(ys[1]));
    // A plane's float value is within ROUNDING times its terms' magnitude.
    constexpr double ROUNDING = 1.0 / (1 << 20);
    auto magnitude = [&](const SoftPlane& p) {
        return __builtin_fabs(p.c) + __builtin_fabs(p.dx) * reach_x +
               __builtin_fabs(p.dy) * reach_y;
    };
    auto at = [](const SoftPlane& p, double x, double y) { return p.c + p.dx * x + p.dy * y; };
    const SoftPlane& q = t.inv_w;
    if (!(magnitude(t.z) < 1e37))
        return false;
    double q_least = at(q, xs[0], ys[0]);
    for (double y : ys)
        for (double x : xs)
            q_least = at(q, x, y) < q_least ? at(q, x, y) : q_least;
    const double q_error = ROUNDING * magnitude(q);
    const double q_low = q_least - q_error; // the least a lane's float 1 / w can be
    if (!(q_low > 1e-30))
        return false;
    const float size[2] = {s.top_width, s.top_height};
    double step_x[2], step_y[2]; // the most texels a pixel step covers, per axis
    for (int k = 0; k < 2; ++k) {
        const SoftPlane& a = t.attr_w[s.coord + k];
        double a_most = 0.0;
        for (double y : ys)
            for (double x : xs)
                a_most = larger(a_most, __builtin_fabs(at(a, x, y)));
        const double a_error = ROUNDING * magnitude(a);
        const double most = (a_most + a_error) / q_low;
        // How far a lane's coordinate can be from the exact quotient.
        const double error = (a_error + a_most * q_error / q_least) / q_low + most * ROUNDING;
        if (!(most * 2.0 * double(size[k]) < 2097152.0))
            return false;
        const double along_x = double(a.dx) * q.dy - double(q.dx) * a.dy;
        const double at_x = double(a.dx) * q.c - double(q.dx) * a.c;
        const double along_y = double(a.dy) * q.dx - double(q.dy) * a.dx;
        const double at_y = double(a.dy) * q.c - double(q.dy) * a.c;
        const double dx_most =
            larger(__builtin_fabs(along_x * ys[0] + at_x), __builtin_fabs(along_x * ys[1] + at_x));
        const double dy_most =
            larger(__builtin_fabs(along_y * xs[0] + at_y), __builtin_fabs(along_y * xs[1] + at_y));
        step_x[k] = (dx_most / (q_least * q_least) + 2.0 * error) * size[k];
        step_y[k] = (dy_most / (q_least * q_least) + 2.0 * error) * size[k];
    }
    const double across = step_x[0] * step_x[0] + step_x[1] * step_x[1];
    const double down = step_y[0] * step_y[0] + step_y[1] * step_y[1];
    // Well short of 1, where a quad turns minified: the float squares and
    // sums round up by far less.
    return larger(across, down) < 0.99;
}

// Whether a one-stage draw leaves the target as it is wherever its texture is
// wholly transparent: blended by the source alpha, with the stage's alpha 0
// exactly when the texel's is, and every colour it could mix in finite. The
// kernel then skips filtering, fog and blending for such blocks.
SOFT_INLINE bool keeps_where_clear(const SoftFastDraw& draw)
{
    const FfKey& key = draw.context.draw.key;
    const FfStage& st = key.stage[0];
    const SoftFastStage& s = draw.stage[0];
    if (key.src_blend != D3DBLEND_SRCALPHA || key.dst_blend != D3DBLEND_INVSRCALPHA ||
        !draw.need_alpha || !st.sampled || !s.has_alpha || s.address_u == 2 || s.address_v == 2 ||
        !finite_value(draw.diffuse))
        return false;
    const FfParams& p = draw.context.draw.params;
    for (float c : p.fog_colour)
        if (!finite_value(c))
            return false;
    const C8 diffuse = splat_colour(draw.diffuse, draw.diffuse, draw.diffuse, draw.diffuse);
    const C8 clear = splat_colour(0.0f, 0.0f, 0.0f, 0.0f);
    F8 a = diffuse.a;
    if (st.alpha_op != D3DTOP_DISABLE) {
        C8 a1 = argument(st.alpha_arg1, diffuse, diffuse, clear);
        C8 a2 = argument(st.alpha_arg2, diffuse, diffuse, clear);
        a = saturate_result(st.alpha_op, operate(st.alpha_op, a1.a, a2.a));
    }
    return a[0] == 0.0f;
}

// Whether the clear cells of a draw without depth show that the block at
// (bx, by) keeps the target (see shade_block); if so it is kept.
template <SoftDrawShape Shape>
SOFT_INLINE bool kept_clear(const SoftFastDraw& draw, const SoftTile& tile, const TrianglePlanes& t,
                            const CellGrid& grid, int bx, int by, unsigned mask)
{
    const FfKey& key = draw.context.draw.key;
    const size_t row0 = size_t(by - tile.y0) * size_t(tile.pitch) + size_t(bx - tile.x0);
    const size_t row1 = row0 + size_t(tile.pitch);
    const F8 fx = splat(float(bx)) + lane_x(), fy = splat(float(by)) + lane_y();
    F8 z{};
    if (Shape.fog && !fixed_or(Shape.fog_on_eye_depth, key.fog_on_eye_depth))
        z = plane_at(t.z, fx, fy);
    F8 inv_w = plane_at(t.inv_w, fx, fy);
    F8 w = select(inv_w != splat(0.0f), 1.0f / inv_w, splat(0.0f));
    const SoftFastStage& sampler = draw.stage[0];
    F8 u = plane_at(t.attr_w[sampler.coord], fx, fy) * w;
    F8 v = plane_at(t.attr_w[sampler.coord + 1], fx, fy) * w;
    if (!cells_clear(sampler, sample_flags(Shape.stage[0], sampler), grid, u, v, t.magnified[0]) ||
        !(t.magnified[0] || finite_lanes(z, w)))
        return false;
    uint32_t* colour0 = tile.colour + row0;
    uint32_t* colour1 = tile.colour + row1;
    store_lanes(colour0, colour1, mask,
                load_lanes(colour0, colour1, mask) | splat_int(int32_t(0xFF000000u)));
    return true;
}

// Never inlined into the walk: where the compiler would (with the narrower
// vectors it judges cheap), the walk grows to hundreds of kilobytes and
// takes minutes to compile, for no speed.
template <SoftDrawShape Shape>
__attribute__((noinline)) void shade_block(const SoftFastDraw& draw, const SoftTile& tile,
                                           const TrianglePlanes& t, int bx, int by, unsigned mask)
{
    constexpr int Stages = Shape.stages;
    constexpr bool Fog = Shape.fog, Blend = Shape.blend, DepthTest = Shape.depth_test;
    const FfKey& key = draw.context.draw.key;
    const bool depth_write = fixed_or(Shape.depth_write, key.depth_write) != 0;
    const bool fog_on_eye_depth = fixed_or(Shape.fog_on_eye_depth, key.fog_on_eye_depth) != 0;
    const size_t row0 = size_t(by - tile.y0) * size_t(tile.pitch) + size_t(bx - tile.x0);
    const size_t row1 = row0 + size_t(tile.pitch);
    const F8 fx = splat(float(bx)) + lane_x(), fy = splat(float(by)) + lane_y();

    // Depth first: a block wholly behind what is drawn costs nothing more.
    const bool depth_used = DepthTest || depth_write;
    const bool z_used = depth_used || (Fog && !fog_on_eye_depth);
    F8 z{};
    I8 depth{};
    if (z_used)
        z = plane_at(t.z, fx, fy);
    if (depth_used)
        depth = depth_value(z);
    if (DepthTest) {
        I8 stored = load_lanes(tile.depth + row0, tile.depth + row1, mask);
        mask &= lane_bits(depth_passes(fixed_or(Shape.depth_func, key.depth_func), depth, stored));
        if (!mask)
            return;
    }

    F8 inv_w = plane_at(t.inv_w, fx, fy);
    F8 w = select(inv_w != splat(0.0f), 1.0f / inv_w, splat(0.0f));

    const bool alpha = fixed_or(Shape.need_alpha, draw.need_alpha) != 0;
    const float diffuse_value = Shape.lit == SOFT_ANY ? draw.diffuse : (Shape.lit ? 0.0f : 1.0f);
    const C8 diffuse = splat_colour(diffuse_value, diffuse_value, diffuse_value, diffuse_value);
    C8 current = diffuse;
    uint32_t* colour0 = tile.colour + row0;
    uint32_t* colour1 = tile.colour + row1;
    // (Unrolled, so that each stage's fixed states are constants.)
#pragma GCC unroll 2
    for (int s = 0; s < Stages; ++s) {
        const FfStage& st = key.stage[s];
        const SoftStageShape& fixed = Shape.stage[s];
        C8 texel = splat_colour(0.0f, 0.0f, 0.0f, 1.0f);
        if (fixed_or(fixed.sampled, st.sampled)) {
            const SoftFastStage& sampler = draw.stage[s];
            const SampleFlags flags = sample_flags(fixed, sampler);
            F8 u = plane_at(t.attr_w[sampler.coord], fx, fy) * w;
            F8 v = plane_at(t.attr_w[sampler.coord + 1], fx, fy) * w;
            bool clear = false;
            const bool may_keep = Stages == 1 && Blend && t.keeps_clear;
            const bool proven = t.magnified[s];
            texel = sample_stage(sampler, flags, u, v, alpha, may_keep ? &clear : nullptr, proven);
            if (clear && !proven && !finite_lanes(z, w)) {
                // Fog could make something of the transparent texel there:
                // the block is shaded in full after all. (Checked only here,
                // as it hardly ever fails.)
                clear = false;
                texel = sample_stage(sampler, flags, u, v, alpha, nullptr);
            }
            if (clear) {
                // Every pixel keeps what is under it, rewritten as the blend
                // would write it back (keeps_where_clear).
                I8 kept = load_lanes(colour0, colour1, mask) | splat_int(int32_t(0xFF000000u));
                store_lanes(colour0, colour1, mask, kept);
                if (depth_write)
                    store_lanes(tile.depth + row0, tile.depth + row1, mask, depth);
                return;
            }
        }
        const unsigned colour_op = unsigned(fixed_or(fixed.colour_op, st.colour_op));
        C8 c1 = argument(unsigned(fixed_or(fixed.colour_arg1, st.colour_arg1)), diffuse, current,
                         texel);
        C8 c2 = argument(unsigned(fixed_or(fixed.colour_arg2, st.colour_arg2)), diffuse, current,
                         texel);
        C8 next;
        next.r = saturate_result(colour_op, operate(colour_op, c1.r, c2.r));
        next.g = saturate_result(colour_op, operate(colour_op, c1.g, c2.g));
        next.b = saturate_result(colour_op, operate(colour_op, c1.b, c2.b));
        next.a = current.a;
        const unsigned alpha_op = unsigned(fixed_or(fixed.alpha_op, st.alpha_op));
        if (alpha && alpha_op != D3DTOP_DISABLE) {
            C8 a1 = argument(unsigned(fixed_or(fixed.alpha_arg1, st.alpha_arg1)), diffuse, current,
                             texel);
            C8 a2 = argument(unsigned(fixed_or(fixed.alpha_arg2, st.alpha_arg2)), diffuse, current,
                             texel);
            next.a = saturate_result(alpha_op, operate(alpha_op, a1.a, a2.a));
        }
        current = next;
    }

    if (Fog) {
        const FfParams& p = draw.context.draw.params;
        F8 f = fog_factor(draw, fixed_or(Shape.fog_mode, key.fog_mode), fog_on_eye_depth ? w : z);
        F8 keep = 1.0f - f;
        current.r = current.r * f + p.fog_colour[0] * keep;
        current.g = current.g * f + p.fog_colour[1] * keep;
        current.b = current.b * f + p.fog_colour[2] * keep;
    }

    if (Blend) {
        C8 dst = unpack(U8(load_lanes(colour0, colour1, mask)), false);
        C8 sf = blend_factor(unsigned(fixed_or(Shape.src_blend, key.src_blend)), current, dst);
        C8 df = blend_factor(unsigned(fixed_or(Shape.dst_blend, key.dst_blend)), current, dst);
        current.r = current.r * sf.r + dst.r * df.r;
        current.g = current.g * sf.g + dst.g * df.g;
        current.b = current.b * sf.b + dst.b * df.b;
    }
    I8 out = splat_int(int32_t(0xFF000000u)) | to_byte(current.r) << 16 | to_byte(current.g) << 8 |
             to_byte(current.b);
    store_lanes(colour0, colour1, mask, out);
    if (depth_write)
        store_lanes(tile.depth + row0, tile.depth + row1, mask, depth);
}

// Which pixel centres of the block at (bx, by) are inside the triangle and
// the bounds; `edge` holds the edge functions at the block's top-left pixel.
SOFT_INLINE unsigned block_coverage(const TriangleSetup& t, const int64_t edge[3], int bx, int by,
                                    int min_x, int min_y, int max_x, int max_y)
{
    unsigned mask = 0;
    for (int i = 0; i < LANES; ++i) {
        int ox = i % WIDTH, oy = i / WIDTH;
        int px = bx + ox, py = by + oy;
        if (px < min_x || px > max_x || py < min_y || py > max_y)
            continue;
        bool inside = true;
        for (int e = 0; e < 3; ++e)
            inside = inside && edge[e] + t.edge_dx[e] * ox + t.edge_dy[e] * oy >= 0;
        mask |= unsigned(inside) << i;
    }
    return mask;
}

// The edge functions' offsets from a block's top-left pixel to each lane, in
// 32 bits. They fit for all but enormous triangles; near an edge, where the
// test matters, the edge values fit too.
struct EdgeLanes {
    I8 offset[3];
};

SOFT_INLINE bool edge_lanes(const TriangleSetup& t, const int64_t low[3], const int64_t high[3],
                            EdgeLanes* lanes)
{
    constexpr int64_t LIMIT = int64_t(1) << 29;
    for (int e = 0; e < 3; ++e) {
        if (low[e] < -LIMIT || high[e] > LIMIT)
            return false;
        for (int i = 0; i < LANES; ++i)
            lanes->offset[e][i] = int32_t(t.edge_dx[e] * (i % WIDTH) + t.edge_dy[e] * (i / WIDTH));
    }
    return true;
}

SOFT_INLINE I8 lane_x_int()
{
    I8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = i % WIDTH;
    return out;
}

SOFT_INLINE I8 lane_y_int()
{
    I8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = i / WIDTH;
    return out;
}

// block_coverage with the edge tests in vector lanes, for triangles whose
// offsets fit (edge_lanes). An edge value beyond 32 bits at the corner is far
// from that edge: all the block's lanes lie on its side.
SOFT_INLINE unsigned block_coverage_lanes(const EdgeLanes& lanes, const int64_t edge[3], int bx,
                                          int by, int min_x, int min_y, int max_x, int max_y)
{
    constexpr int64_t LIMIT = int64_t(1) << 30;
    I8 x = splat_int(bx) + lane_x_int(), y = splat_int(by) + lane_y_int();
    I8 inside = (x >= splat_int(min_x)) & (x <= splat_int(max_x)) & (y >= splat_int(min_y)) &
                (y <= splat_int(max_y));
    for (int e = 0; e < 3; ++e) {
        if (edge[e] >= LIMIT)
            continue;
        if (edge[e] <= -LIMIT)
            return 0;
        inside &= (splat_int(int32_t(edge[e])) + lanes.offset[e]) >= splat_int(0);
    }
    return lane_bits(inside);
}

template <SoftDrawShape Shape>
void raster(const SoftFastDraw& draw, const SoftTile& tile, const TriangleSetup& t)
{
    const int x0 = tile.x0, y0 = tile.y0, x1 = tile.x1, y1 = tile.y1;
    int min_x = t.min_x > x0 ? t.min_x : x0, max_x = t.max_x < x1 - 1 ? t.max_x : x1 - 1;
    int min_y = t.min_y > y0 ? t.min_y : y0, max_y = t.max_y < y1 - 1 ? t.max_y : y1 - 1;
    if (min_x > max_x || min_y > max_y)
        return;
    // Quads start on even pixels, as in the straightforward path, so every
    // quad's differences (and so its mip level) are the same there.
    int start_x = min_x & ~1, start_y = min_y & ~1;

    // Per edge: the step to the next block and row, and how far the edge can
    // fall and rise within a block (its least and greatest offset over the
    // block's centres).
    int64_t low[3], high[3];
    Edges step_x{}, step_y{}, low_lanes{}, high_lanes{}, row_edge{};
    for (int e = 0; e < 3; ++e) {
        int64_t dx = t.edge_dx[e], dy = t.edge_dy[e];
        step_x[e] = WIDTH * dx;
        step_y[e] = 2 * dy;
        low[e] = low_lanes[e] = (dx < 0 ? (WIDTH - 1) * dx : 0) + (dy < 0 ? dy : 0);
        high[e] = high_lanes[e] = (dx > 0 ? (WIDTH - 1) * dx : 0) + (dy > 0 ? dy : 0);
        row_edge[e] = t.edge_c[e] + dx * start_x + dy * start_y;
    }
    EdgeLanes lanes;
    const bool narrow = edge_lanes(t, low, high, &lanes);

    TrianglePlanes planes;
    planes.z = plane_lanes(t.z);
    planes.inv_w = plane_lanes(t.inv_w);
    for (int k = 0; k < SOFT_ATTRS; ++k)
        planes.attr_w[k] = plane_lanes(t.attr_w[k]);
    planes.keeps_clear = Shape.stages == 1 && Shape.blend && keeps_where_clear(draw);
    // Stages proven magnified over the lanes of the walk below, which reach
    // WIDTH - 1 pixels right of the last block's start and a row below the
    // last row's: stage 0 of a draw that keeps where clear, and stage 1 of a
    // kernel with a second texture fixed (a light map, magnified everywhere
    // where a kernel has it).
    for (int k = 0; k < FF_STAGES; ++k) {
        const bool wanted =
            k == 0 ? planes.keeps_clear : Shape.stages == 2 && Shape.stage[1].sampled == 1;
        planes.magnified[k] = wanted && magnified_throughout(t, draw.stage[k], start_x, start_y,
                                                             max_x + WIDTH - 1, max_y + 1);
    }
    // Most blocks of a sparse translucent texture are wholly transparent:
    // those its clear cells show are kept here, without the call to shade
    // them.
    const bool keep_clear_blocks = Shape.stages == 1 && Shape.blend && !Shape.depth_test &&
                                   planes.keeps_clear && draw.stage[0].clear_cells &&
                                   !fixed_or(Shape.depth_write, draw.context.draw.key.depth_write);
    CellGrid grid{};
    if (keep_clear_blocks)
        grid = cell_grid(draw.stage[0]);

    for (int by = start_y; by <= max_y; by += 2, row_edge += step_y) {
        Edges edges = row_edge;
        bool rows_inside = by >= min_y && by + 1 <= max_y;
        bool entered = false;
        for (int bx = start_x; bx <= max_x; bx += WIDTH, edges += step_x) {
            if (negative_edges(edges + high_lanes)) {
                // Outside an edge. The blocks of a row that are not lie side
                // by side, as the triangle is convex: past them, none is.
                if (entered)
                    break;
                continue;
            }
            entered = true;
            unsigned mask = FULL;
            if (!(rows_inside && bx >= min_x && bx + WIDTH - 1 <= max_x &&
                  negative_edges(edges + low_lanes) == 0)) {
                const int64_t edge[3] = {edges[0], edges[1], edges[2]};
                mask = narrow
                           ? block_coverage_lanes(lanes, edge, bx, by, min_x, min_y, max_x, max_y)
                           : block_coverage(t, edge, bx, by, min_x, min_y, max_x, max_y);
            }
            if (mask &&
                !(keep_clear_blocks && kept_clear<Shape>(draw, tile, planes, grid, bx, by, mask)))
                shade_block<Shape>(draw, tile, planes, bx, by, mask);
        }
    }
}

// Kernel `Index` of the table if this compilation holds it, else null.
template <int Index> constexpr SoftFastRaster kernel()
{
    if constexpr (Index % SOFT_FAST_PARTS != SOFT_FAST_PART)
        return nullptr;
    else if constexpr (Index < SOFT_FAST_VARIANTS)
        return raster<soft_fast_variant_shape(Index)>;
    else
        return raster<SOFT_FAST_SHAPES[Index - SOFT_FAST_VARIANTS]>;
}

template <int... Index> constexpr SoftFastKernels kernels(std::integer_sequence<int, Index...>)
{
    const bool first = SOFT_FAST_PART == 0;
    return {{kernel<Index>()...}, first ? stream_row : nullptr, first ? stream_fence : nullptr};
}

} // namespace

#define SOFT_FAST_PASTE(table, part) table##_part##part
#define SOFT_FAST_PART_TABLE(table, part) SOFT_FAST_PASTE(table, part)

extern const SoftFastKernels SOFT_FAST_PART_TABLE(SOFT_FAST_TABLE, SOFT_FAST_PART) =
    kernels(std::make_integer_sequence<int, SOFT_FAST_KERNELS>{});
