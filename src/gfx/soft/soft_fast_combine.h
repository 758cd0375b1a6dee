// The fast rasterizer's pixel arithmetic after sampling: the texture stages'
// arguments and operations, fog, depth values and tests, blend factors and
// the bytes written back. Written once on the vector operations of
// soft_simd.h, each the float operations of soft_shade.cpp in their order.
#pragma once
#include <cstdint>

#include "gfx/soft/soft_fast.h"
#include "gfx/soft/soft_simd.h"

namespace
{

SOFT_INLINE C8 argument(unsigned arg, const C8& diffuse, const C8& current, const C8& texel)
{
    C8 c;
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
        c = diffuse;
        break;
    case D3DTA_CURRENT:
        c = current;
        break;
    case D3DTA_TEXTURE:
        c = texel;
        break;
    case D3DTA_TFACTOR:
        c = splat_colour(1.0f, 1.0f, 1.0f, 1.0f);
        break;
    default:
        c = splat_colour(0.0f, 0.0f, 0.0f, 0.0f);
        break;
    }
    if (arg & D3DTA_COMPLEMENT)
        c = {1.0f - c.r, 1.0f - c.g, 1.0f - c.b, 1.0f - c.a};
    if (arg & D3DTA_ALPHAREPLICATE)
        c.r = c.g = c.b = c.a;
    return c;
}

SOFT_INLINE F8 operate(unsigned op, F8 a1, F8 a2)
{
    switch (op) {
    case D3DTOP_SELECTARG1:
        return a1;
    case D3DTOP_SELECTARG2:
        return a2;
    case D3DTOP_MODULATE2X:
        return saturate(2.0f * a1 * a2);
    case D3DTOP_MODULATE4X:
        return saturate(4.0f * a1 * a2);
    case D3DTOP_ADD:
        return saturate(a1 + a2);
    case D3DTOP_ADDSIGNED:
        return saturate(a1 + a2 - 0.5f);
    default: // MODULATE
        return a1 * a2;
    }
}

// Every stage result is saturated; the operations that saturate on their own
// need no second pass.
SOFT_INLINE F8 saturate_result(unsigned op, F8 v)
{
    switch (op) {
    case D3DTOP_MODULATE2X:
    case D3DTOP_MODULATE4X:
    case D3DTOP_ADD:
    case D3DTOP_ADDSIGNED:
        return v;
    default:
        return saturate(v);
    }
}

SOFT_INLINE C8 blend_factor(unsigned factor, const C8& src, const C8& dst)
{
    switch (factor) {
    case D3DBLEND_ZERO:
        return splat_colour(0.0f, 0.0f, 0.0f, 0.0f);
    case D3DBLEND_SRCCOLOR:
        return src;
    case D3DBLEND_INVSRCCOLOR:
        return {1.0f - src.r, 1.0f - src.g, 1.0f - src.b, 1.0f - src.a};
    case D3DBLEND_SRCALPHA:
        return {src.a, src.a, src.a, src.a};
    case D3DBLEND_INVSRCALPHA: {
        F8 f = 1.0f - src.a;
        return {f, f, f, f};
    }
    case D3DBLEND_DESTALPHA:
        return {dst.a, dst.a, dst.a, dst.a};
    case D3DBLEND_INVDESTALPHA: {
        F8 f = 1.0f - dst.a;
        return {f, f, f, f};
    }
    case D3DBLEND_DESTCOLOR:
        return dst;
    case D3DBLEND_INVDESTCOLOR:
        return {1.0f - dst.r, 1.0f - dst.g, 1.0f - dst.b, 1.0f - dst.a};
    default: // ONE
        return splat_colour(1.0f, 1.0f, 1.0f, 1.0f);
    }
}

SOFT_INLINE F8 fog_factor(const SoftFastDraw& draw, int mode, F8 depth)
{
    const FfParams& p = draw.context.draw.params;
    switch (mode) {
    case D3DFOG_EXP:
    case D3DFOG_EXP2: {
        bool squared = mode == D3DFOG_EXP2;
        F8 f;
        for (int i = 0; i < LANES; ++i) {
            float d = depth[i] * p.fog_density;
            f[i] = squared ? __builtin_expf(-d * d) : __builtin_expf(-depth[i] * p.fog_density);
        }
        return saturate(f);
    }
    default:
        if (!(draw.fog_range > 0.0f))
            return select(depth < splat(p.fog_end), splat(1.0f), splat(0.0f));
        return saturate((p.fog_end - depth) / draw.fog_range);
    }
}

SOFT_INLINE I8 depth_value(F8 z)
{
    z = saturate(z);
    return to_int(z * 65535.0f + 0.5f) & 0xFFFF;
}

SOFT_INLINE I8 depth_passes(unsigned func, I8 incoming, I8 stored)
{
    switch (func) {
    case D3DCMP_NEVER:
        return I8{};
    case D3DCMP_LESS:
        return incoming < stored;
    case D3DCMP_EQUAL:
        return incoming == stored;
    case D3DCMP_LESSEQUAL:
        return incoming <= stored;
    case D3DCMP_GREATER:
        return incoming > stored;
    case D3DCMP_NOTEQUAL:
        return incoming != stored;
    case D3DCMP_GREATEREQUAL:
        return incoming >= stored;
    default:
        return splat_int(-1);
    }
}

SOFT_INLINE I8 to_byte(F8 v)
{
    v = saturate(v);
    return to_int(v * 255.0f + 0.5f) & 0xFF;
}

} // namespace
