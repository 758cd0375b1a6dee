// Texture sampling for the fast rasterizer's blocks: level selection from
// each quad's texel step, addressing, point and bilinear filtering with the
// cheapest read a block's footprints allow, and the texture's clear cells
// that let a block be kept without filtering. Written once on the vector
// operations of soft_simd.h; every value is the float the straightforward
// path (soft_shade.cpp) computes for the pixel, in its order.
#pragma once
#include <cstdint>

#include "gfx/soft/soft_fast.h"
#include "gfx/soft/soft_log2.h"
#include "gfx/soft/soft_simd.h"

namespace
{

constexpr float POINT_NUDGE = 1.0f / 512.0f;

// A state the kernel's shape fixes (a constant once inlined), else the draw's.
SOFT_INLINE int fixed_or(int fixed, int value)
{
    return fixed == SOFT_ANY ? value : fixed;
}

// What decides a stage's path through sampling, as SoftFastStage has it, with
// whatever the shape fixes folded in.
struct SampleFlags {
    int address_u, address_v;
    bool mag_linear, min_linear;
    int mip;
    bool has_alpha;
    bool unbiased; // the level-of-detail bias is 0
};

SOFT_INLINE SampleFlags sample_flags(const SoftStageShape& shape, const SoftFastStage& s)
{
    return {fixed_or(shape.address_u, s.address_u),
            fixed_or(shape.address_v, s.address_v),
            fixed_or(shape.mag_linear, s.mag_linear) != 0,
            fixed_or(shape.min_linear, s.min_linear) != 0,
            fixed_or(shape.mip, s.mip),
            fixed_or(shape.has_alpha, s.has_alpha) != 0,
            fixed_or(shape.unbiased, s.lod_bias == 0.0f) != 0};
}

// One level per quad: where its texels are and its size.
struct Levels {
    const uint32_t* texels[QUADS];
    const uint32_t* stacked[QUADS];
    bool shared;     // every quad reads the same level
    bool has_stacks; // every quad's level has stacked rows
    I8 width, height;
    F8 fwidth, fheight;
};

SOFT_INLINE bool level_shared(const int (&level)[QUADS])
{
    for (int q = 1; q < QUADS; ++q)
        if (level[q] != level[0])
            return false;
    return true;
}

SOFT_INLINE Levels levels_of(const SoftFastStage& s, const int (&level)[QUADS])
{
    Levels l;
    if (level_shared(level)) {
        const SoftLevelView& chosen = s.levels[level[0]];
        for (int q = 0; q < QUADS; ++q) {
            l.texels[q] = chosen.texels;
            l.stacked[q] = chosen.stacked;
        }
        l.shared = true;
        l.has_stacks = chosen.stacked != nullptr;
        l.width = splat_int(chosen.width);
        l.height = splat_int(chosen.height);
        l.fwidth = to_float(l.width);
        l.fheight = to_float(l.height);
        return l;
    }
    int width[QUADS], height[QUADS];
    l.shared = true;
    l.has_stacks = true;
    for (int q = 0; q < QUADS; ++q) {
        const SoftLevelView& chosen = s.levels[level[q]];
        l.texels[q] = chosen.texels;
        l.stacked[q] = chosen.stacked;
        l.has_stacks = l.has_stacks && chosen.stacked != nullptr;
        l.shared = l.shared && level[q] == level[0];
        width[q] = chosen.width;
        height[q] = chosen.height;
    }
    l.width = per_quad_int(width);
    l.height = per_quad_int(height);
    l.fwidth = to_float(l.width);
    l.fheight = to_float(l.height);
    return l;
}

// The texel index for one coordinate under a Direct3D addressing mode; -1
// for the border colour.
inline int address_mode(int i, int size, uint32_t mode)
{
    switch (mode) {
    case D3DTADDRESS_CLAMP:
        return i < 0 ? 0 : (i >= size ? size - 1 : i);
    case D3DTADDRESS_MIRROR: {
        int period = 2 * size;
        int m = ((i % period) + period) % period;
        return m < size ? m : period - 1 - m;
    }
    case D3DTADDRESS_BORDER:
        return i < 0 || i >= size ? -1 : i;
    default: // WRAP
        return ((i % size) + size) % size;
    }
}

// Coordinates into a level; lanes that read the border get index 0 and are
// marked in `border`.
SOFT_INLINE I8 address(I8 i, I8 size, int kind, uint32_t mode, I8* border)
{
    if (kind == 0)
        return i & (size - 1);
    if (kind == 1)
        return i < 0 ? I8{} : (i >= size ? size - 1 : i);
    I8 out;
    for (int lane = 0; lane < LANES; ++lane) {
        int a = address_mode(i[lane], size[lane], mode);
        (*border)[lane] |= a < 0 ? -1 : 0;
        out[lane] = a < 0 ? 0 : a;
    }
    return out;
}

SOFT_INLINE U8 gather(const Levels& l, I8 index)
{
    return gather_texels(l.texels, l.shared, index);
}

// Texels in the colour they filter as, with the border colour where the
// address said so.
SOFT_INLINE C8 texels(const SoftFastStage& s, const SampleFlags& f, U8 t, I8 border, bool alpha)
{
    C8 c = unpack(t, alpha && f.has_alpha);
    if (f.address_u == 2 || f.address_v == 2) {
        c.r = select(border, splat(s.border[0]), c.r);
        c.g = select(border, splat(s.border[1]), c.g);
        c.b = select(border, splat(s.border[2]), c.b);
        c.a = select(border, splat(s.border[3]), c.a);
    }
    return c;
}

SOFT_INLINE C8 fetch(const SoftFastStage& s, const SampleFlags& f, const Levels& l, I8 x, I8 y_row,
                     I8 border, bool alpha)
{
    return texels(s, f, gather(l, y_row + x), border, alpha);
}

SOFT_INLINE F8 mix(F8 a, F8 b, F8 c, F8 d, F8 au, F8 av)
{
    F8 top = a + (b - a) * au, bottom = c + (d - c) * au;
    return top + (bottom - top) * av;
}

// One level per quad, filtered point or linear per quad (`linear` lanes).
// A point sample is the bilinear mix with both weights 0, which returns its
// first texel exactly, so a block whose quads differ is mixed as one.
//
// With `clear` given, a block whose every tap is wholly transparent (alpha
// byte 0) is only reported there, and nothing is filtered: its texel is
// exactly transparent black wherever the block lands.
SOFT_INLINE C8 sample_level(const SoftFastStage& s, const SampleFlags& f, const Levels& l,
                            I8 linear, bool all_linear, bool any_linear, F8 u, F8 v, bool alpha,
                            bool* clear, bool magnified = false)
{
    const F8 tu = u * l.fwidth, tv = v * l.fheight;
    I8 border_x{}, border_y{};
    if (!any_linear) {
        I8 x = to_int(floor8(tu + POINT_NUDGE)), y = to_int(floor8(tv + POINT_NUDGE));
        x = address(x, l.width, f.address_u, s.mode_u, &border_x);
        y = address(y, l.height, f.address_v, s.mode_v, &border_y);
        U8 t = gather(l, y * l.width + x);
        if (clear && lane_bits(I8(t >> 24) != 0) == 0) {
            *clear = true;
            return {F8{}, F8{}, F8{}, F8{}};
        }
        return texels(s, f, t, border_x | border_y, alpha);
    }
    const F8 lu = tu - 0.5f, lv = tv - 0.5f;
    F8 fu = floor8(lu), fv = floor8(lv);
    I8 x0 = to_int(fu), y0 = to_int(fv);
    F8 au = lu - fu, av = lv - fv;
    if (!all_linear) {
        I8 px = to_int(floor8(tu + POINT_NUDGE)), py = to_int(floor8(tv + POINT_NUDGE));
        x0 = linear ? x0 : px;
        y0 = linear ? y0 : py;
        au = select(linear, au, splat(0.0f));
        av = select(linear, av, splat(0.0f));
    }
    I8 bx0{}, bx1{}, by0{}, by1{};
    I8 xa = address(x0, l.width, f.address_u, s.mode_u, &bx0);
    I8 xb = address(x0 + 1, l.width, f.address_u, s.mode_u, &bx1);
    I8 top = address(y0, l.height, f.address_v, s.mode_v, &by0);
    I8 bottom = address(y0 + 1, l.height, f.address_v, s.mode_v, &by1);
    I8 ya = top * l.width, yb = bottom * l.width;
    C8 c00, c10, c01, c11;
    if (lane_bits(xb == xa + 1) == FULL) {
        U8 t00, t10, t01, t11;
        bool window = false, squares = false;
        if constexpr (ROW_WINDOWS) {
            // The window read serves a shared footprint as well.
            (void)magnified;
            window = l.shared && lane_bits(bottom != top + 1) == 0 &&
                     window_taps(l.texels[0], l.width[0], l.width[0] * l.height[0], xa, top, &t00,
                                 &t10, &t01, &t11);
        } else {
            squares = l.has_stacks && lane_bits(bottom == top + 1) == FULL;
            if (squares && magnified &&
                lane_bits((xa == splat_int(xa[0])) & (top == splat_int(top[0]))) == FULL) {
                // A magnified texel often spans the block: every lane has the
                // same footprint, read once for all.
                const uint32_t* square = l.stacked[0] + 2 * size_t(ya[0] + xa[0]);
                t00 = U8{} + square[0];
                t01 = U8{} + square[1];
                t10 = U8{} + square[2];
                t11 = U8{} + square[3];
            } else if (squares) {
                gather_squares(l.stacked, (ya + xa) << 1, &t00, &t10, &t01, &t11);
            }
        }
        if (!window && !squares) {
            gather_pairs(l.texels, l.shared, ya + xa, &t00, &t10);
            gather_pairs(l.texels, l.shared, yb + xa, &t01, &t11);
        }
        if (clear && lane_bits(I8((t00 | t10 | t01 | t11) >> 24) != 0) == 0) {
            *clear = true;
            return {F8{}, F8{}, F8{}, F8{}};
        }
        c00 = texels(s, f, t00, bx0 | by0, alpha);
        c10 = texels(s, f, t10, bx1 | by0, alpha);
        c01 = texels(s, f, t01, bx0 | by1, alpha);
        c11 = texels(s, f, t11, bx1 | by1, alpha);
    } else {
        c00 = fetch(s, f, l, xa, ya, bx0 | by0, alpha);
        c10 = fetch(s, f, l, xb, ya, bx1 | by0, alpha);
        c01 = fetch(s, f, l, xa, yb, bx0 | by1, alpha);
        c11 = fetch(s, f, l, xb, yb, bx1 | by1, alpha);
    }
    C8 c;
    c.r = mix(c00.r, c10.r, c01.r, c11.r, au, av);
    c.g = mix(c00.g, c10.g, c01.g, c11.g, au, av);
    c.b = mix(c00.b, c10.b, c01.b, c11.b, au, av);
    c.a = alpha ? mix(c00.a, c10.a, c01.a, c11.a, au, av) : splat(1.0f);
    return c;
}

// The levels one quad reads and how.
struct QuadLevels {
    int first, second; // equal when one level is read
    float fraction;    // weight of the second level
    bool linear;
};

// Mip selection from a quad's level of detail.
SOFT_INLINE QuadLevels choose_levels(const SoftFastStage& s, const SampleFlags& f, float lambda)
{
    if (!f.unbiased)
        lambda += s.lod_bias;
    if (!(lambda > 0.0f)) // magnification (and NaN)
        return {s.base, s.base, 0.0f, f.mag_linear};
    bool linear = f.min_linear;
    if (f.mip == 0 || s.base == s.last)
        return {s.base, s.base, 0.0f, linear};
    if (f.mip == 1) {
        // The level of detail of a finite quad is below 64; the bound keeps an
        // infinite one from reaching the integer conversion.
        float nearest = __builtin_floorf((lambda < 64.0f ? lambda : 64.0f) + 0.5f);
        int level = s.base + int(nearest);
        level = level < s.last ? level : s.last;
        return {level, level, 0.0f, linear};
    }
    float whole = __builtin_floorf(lambda);
    int level = s.base + int(whole > 30.0f ? 30.0f : whole);
    if (level >= s.last)
        return {s.last, s.last, 0.0f, linear};
    return {level, level + 1, lambda - whole, linear};
}

// Lane i's quad corner: top-left, top-right or bottom-left.
SOFT_INLINE I8 corner_lanes(int dx, int dy)
{
    I8 out;
    for (int i = 0; i < LANES; ++i)
        out[i] = 2 * quad_of_lane(i) + dx + dy * WIDTH;
    return out;
}

// Per quad, in each of its lanes: the square of the texels one pixel step
// covers, from the quad's differences, computed for all quads at once.
SOFT_INLINE F8 texel_step(const SoftFastStage& s, F8 u, F8 v)
{
    const I8 left = corner_lanes(0, 0), right = corner_lanes(1, 0), below = corner_lanes(0, 1);
    const F8 width = splat(s.top_width), height = splat(s.top_height);
    F8 u0 = shuffle(u, left), v0 = shuffle(v, left);
    F8 dudx = (shuffle(u, right) - u0) * width;
    F8 dvdx = (shuffle(v, right) - v0) * height;
    F8 dudy = (shuffle(u, below) - u0) * width;
    F8 dvdy = (shuffle(v, below) - v0) * height;
    F8 across = dudx * dudx + dvdx * dvdx, down = dudy * dudy + dvdy * dvdy;
    return across < down ? down : across;
}

// Per quad: log2 of the texels one pixel step covers, the quads at once in
// a short vector (a full block's worth would only repeat them).
SOFT_INLINE void levels_of_detail(F8 rho, float (&lambda)[QUADS])
{
    typedef float F4 __attribute__((vector_size(16)));
    F4 r = {1.0f, 1.0f, 1.0f, 1.0f};
    for (int q = 0; q < QUADS; ++q)
        r[q] = rho[2 * q];
    const F4 half_log = 0.5f * soft_log2(r);
    for (int q = 0; q < QUADS; ++q)
        lambda[q] = r[q] > 0.0f ? half_log[q] : -100.0f;
}

// NaN or runaway coordinates sample somewhere defined.
SOFT_INLINE void keep_sane(F8* u, F8* v)
{
    I8 sane =
        (*u > splat(-1e30f)) & (*u < splat(1e30f)) & (*v > splat(-1e30f)) & (*v < splat(1e30f));
    *u = select(sane, *u, splat(0.0f));
    *v = select(sane, *v, splat(0.0f));
}

// `clear` as for sample_level, where the stage reads a single level.
// `proven`: every quad is known to be magnified, with coordinates far below
// where keep_sane steps in (magnified_throughout).
SOFT_INLINE C8 sample_stage(const SoftFastStage& s, const SampleFlags& f, F8 u, F8 v, bool alpha,
                            bool* clear, bool proven = false)
{
    const bool known = f.unbiased && proven;
    F8 rho = known ? F8{} : texel_step(s, u, v);
    if (f.unbiased && (known || lane_bits(rho > splat(1.0f)) == 0)) {
        // Every quad magnified (the level of detail is at most 0): the top
        // level through the magnification filter, as choose_levels has it.
        if (!known)
            keep_sane(&u, &v);
        int base[QUADS];
        for (int q = 0; q < QUADS; ++q)
            base[q] = s.base;
        bool linear = f.mag_linear;
        return sample_level(s, f, levels_of(s, base), splat_int(linear ? -1 : 0), linear, linear, u,
                            v, alpha, clear, true);
    }
    int first[QUADS], second[QUADS], linear_lanes[QUADS];
    float fraction[QUADS];
    bool all_linear = true, any_linear = false, one_level = true;
    float lambda[QUADS];
    levels_of_detail(rho, lambda);
    for (int q = 0; q < QUADS; ++q) {
        QuadLevels chosen = choose_levels(s, f, lambda[q]);
        first[q] = chosen.first;
        second[q] = chosen.second;
        fraction[q] = chosen.fraction;
        linear_lanes[q] = chosen.linear ? -1 : 0;
        all_linear = all_linear && chosen.linear;
        any_linear = any_linear || chosen.linear;
        one_level = one_level && chosen.first == chosen.second;
    }
    keep_sane(&u, &v);

    I8 linear = per_quad_int(linear_lanes);
    C8 c = sample_level(s, f, levels_of(s, first), linear, all_linear, any_linear, u, v, alpha,
                        one_level ? clear : nullptr);
    if (one_level)
        return c;
    // A quad that reads one level reads it twice and mixes by 0: exactly it.
    C8 d = sample_level(s, f, levels_of(s, second), linear, all_linear, any_linear, u, v, alpha,
                        nullptr);
    F8 t = per_quad(fraction);
    c.r = c.r + (d.r - c.r) * t;
    c.g = c.g + (d.g - c.g) * t;
    c.b = c.b + (d.b - c.b) * t;
    c.a = c.a + (d.a - c.a) * t;
    return c;
}

// A texture's clear cells (SoftTexture::clear_cells) spread over the lanes,
// once for all of a triangle's blocks.
struct CellGrid {
    const uint32_t* words;
    F8 columns, rows;
    I8 last_column, last_row;
    int shift; // log2 of the columns
};

SOFT_INLINE CellGrid cell_grid(const SoftFastStage& s)
{
    const int columns = 1 << s.cells_shift;
    return {s.clear_cells,          splat(float(columns)),       splat(float(s.cells_rows)),
            splat_int(columns - 1), splat_int(s.cells_rows - 1), s.cells_shift};
}

// Whether every lane's sample reads only transparent texels, by the
// texture's clear cells, where the block is magnified and so reads level 0
// (the cells' level). The lane's cell is floor(u * 2 * width), and u * width
// is what sampling scales, exactly, as the sides are powers of two. Lanes past
// 2^21 texels, where subtracting the half texel of the bilinear footprint
// might round, and NaN ones are left to sampling. `proven`: both are known
// of every lane already (magnified_throughout).
SOFT_INLINE bool cells_clear(const SoftFastStage& s, const SampleFlags& f, const CellGrid& g, F8 u,
                             F8 v, bool proven)
{
    if (!f.unbiased)
        return false;
    if (!proven && lane_bits(texel_step(s, u, v) > splat(1.0f)) != 0)
        return false;
    const F8 cu = u * g.columns, cv = v * g.rows;
    if (!proven) {
        const F8 limit = splat(4194304.0f);
        const I8 magnitude = splat_int(0x7FFFFFFF);
        I8 sane = (F8(I8(cu) & magnitude) < limit) & (F8(I8(cv) & magnitude) < limit);
        if (lane_bits(sane) != FULL)
            return false;
    }
    I8 x = to_int(floor8(cu)) & g.last_column, y = to_int(floor8(cv)) & g.last_row;
    U8 cell = U8((y << g.shift) | x);
    U8 words = gather_words(g.words, I8(cell >> 5));
    return lane_bits(I8((words >> (cell & 31)) & 1) != 0) == FULL;
}

} // namespace
