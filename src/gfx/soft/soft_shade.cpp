// Per-pixel work of the software rasterizer, in the order of the
// fixed-function pipeline: texture stages (sampling with wrap or clamp
// addressing, point or linear filters and mip selection from the quad's
// texture-coordinate differences), the stage cascade, table fog on the
// source colour, then the depth test against the 16-bit buffer and frame
// buffer blending. Colours are floats in 0..1 between the stages; every stage
// result is saturated, as the hardware does. Everything the device state
// decides comes from the draw's fixed-function description, the same one the
// other backends read.
#include <algorithm>
#include <cmath>

#include "gfx/soft/soft_log2.h"
#include "gfx/soft/soft_pipeline.h"

namespace
{

struct Colour {
    float r, g, b, a;
};

Colour unpack(uint32_t texel, bool has_alpha)
{
    constexpr float K = 1.0f / 255.0f;
    return {float((texel >> 16) & 0xFF) * K, float((texel >> 8) & 0xFF) * K,
            float(texel & 0xFF) * K, has_alpha ? float(texel >> 24) * K : 1.0f};
}

uint32_t to_byte(float v)
{
    v = v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
    return static_cast<uint32_t>(v * 255.0f + 0.5f);
}

float saturate(float v)
{
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

// The texel index for one coordinate under an addressing mode; -1 means the
// border colour.
inline int address(int i, int size, DWORD mode)
{
    // Textures are nearly always powers of two; wrapping is then a mask.
    if (mode == D3DTADDRESS_WRAP && (size & (size - 1)) == 0)
        return i & (size - 1);
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

struct Sampler {
    const SoftTexture* texture;
    DWORD address_u, address_v;
    DWORD mag_filter, min_filter, mip_filter;
    int max_level;
    float lod_bias;
    Colour border;
    bool has_alpha;
};

inline Colour fetch(const Sampler& s, const TexelLevel& level, int tx, int ty)
{
    int x = address(tx, level.width, s.address_u);
    int y = address(ty, level.height, s.address_v);
    if (x < 0 || y < 0)
        return s.border;
    return unpack(level.texels[size_t(y) * size_t(level.width) + size_t(x)], s.has_alpha);
}

// Point sampling takes the texel whose area holds the coordinate. Texel edges
// fall exactly on pixel centres in a 1:1 mapping; a small nudge keeps rounding
// in the interpolation from picking the texel before.
constexpr float POINT_NUDGE = 1.0f / 512.0f;

Colour sample_level(const Sampler& s, int level_index, DWORD filter, float u, float v)
{
    const TexelLevel& level = s.texture->level(level_index);
    float tu = u * float(level.width), tv = v * float(level.height);
    if (filter != D3DTEXF_LINEAR && filter != D3DTEXF_ANISOTROPIC) {
        // Coordinates far outside the texture only matter modulo its size.
        return fetch(s, level, int(std::floor(tu + POINT_NUDGE)),
                     int(std::floor(tv + POINT_NUDGE)));
    }
    tu -= 0.5f;
    tv -= 0.5f;
    float fu = std::floor(tu), fv = std::floor(tv);
    int x0 = int(fu), y0 = int(fv);
    float au = tu - fu, av = tv - fv;
    Colour c00 = fetch(s, level, x0, y0), c10 = fetch(s, level, x0 + 1, y0);
    Colour c01 = fetch(s, level, x0, y0 + 1), c11 = fetch(s, level, x0 + 1, y0 + 1);
    auto mix = [&](float a, float b, float c, float d) {
        float top = a + (b - a) * au, bottom = c + (d - c) * au;
        return top + (bottom - top) * av;
    };
    return {mix(c00.r, c10.r, c01.r, c11.r), mix(c00.g, c10.g, c01.g, c11.g),
            mix(c00.b, c10.b, c01.b, c11.b), mix(c00.a, c10.a, c01.a, c11.a)};
}

Colour lerp(const Colour& a, const Colour& b, float t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
            a.a + (b.a - a.a) * t};
}

// Samples with mip selection from the level-of-detail lambda (log2 of the
// texels covered per pixel step).
Colour sample(const Sampler& s, float u, float v, float lambda)
{
    if (!(u > -1e30f && u < 1e30f) || !(v > -1e30f && v < 1e30f))
        u = v = 0.0f; // NaN or runaway coordinates: sample somewhere defined
    int last = s.texture->level_count() - 1;
    int base = std::min(s.max_level, last);
    lambda += s.lod_bias;
    if (!(lambda > 0.0f)) // magnification (and NaN)
        return sample_level(s, base, s.mag_filter, u, v);
    if (s.mip_filter == D3DTEXF_NONE || base == last)
        return sample_level(s, base, s.min_filter, u, v);
    if (s.mip_filter == D3DTEXF_POINT) {
        // A finite quad's lambda is below 64; runaway coordinates can make it
        // infinite, which must not reach the integer conversion (it would
        // pick a level before the first).
        int level = std::min(base + int(std::floor(std::min(lambda, 64.0f) + 0.5f)), last);
        return sample_level(s, level, s.min_filter, u, v);
    }
    // Linear between the two nearest levels; the anisotropic mip filter has no
    // meaning of its own and behaves as linear.
    float whole = std::floor(lambda);
    int level = base + int(std::min(whole, 30.0f));
    if (level >= last)
        return sample_level(s, last, s.min_filter, u, v);
    Colour a = sample_level(s, level, s.min_filter, u, v);
    Colour b = sample_level(s, level + 1, s.min_filter, u, v);
    return lerp(a, b, lambda - whole);
}

float level_of_detail(const SoftQuad& quad, int u_index, int width, int height)
{
    const float(*a)[SOFT_ATTRS] = quad.attr;
    int v_index = u_index + 1;
    float dudx = (a[1][u_index] - a[0][u_index]) * float(width);
    float dvdx = (a[1][v_index] - a[0][v_index]) * float(height);
    float dudy = (a[2][u_index] - a[0][u_index]) * float(width);
    float dvdy = (a[2][v_index] - a[0][v_index]) * float(height);
    float rho = std::max(dudx * dudx + dvdx * dvdx, dudy * dudy + dvdy * dvdy);
    return rho > 0.0f ? 0.5f * soft_log2(rho) : -100.0f;
}

Colour stage_argument(DWORD arg, const Colour& diffuse, const Colour& current,
                      const Colour& texture)
{
    Colour c;
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
        c = diffuse;
        break;
    case D3DTA_CURRENT:
        c = current;
        break;
    case D3DTA_TEXTURE:
        c = texture;
        break;
    case D3DTA_TFACTOR:
        c = {1.0f, 1.0f, 1.0f, 1.0f}; // the default texture factor, opaque white
        break;
    default:
        c = {0.0f, 0.0f, 0.0f, 0.0f}; // no specular, no temporary register
        break;
    }
    if (arg & D3DTA_COMPLEMENT)
        c = {1.0f - c.r, 1.0f - c.g, 1.0f - c.b, 1.0f - c.a};
    if (arg & D3DTA_ALPHAREPLICATE)
        c.r = c.g = c.b = c.a;
    return c;
}

float operate(DWORD op, float a1, float a2)
{
    switch (op) {
    case D3DTOP_SELECTARG1:
        return a1;
    case D3DTOP_SELECTARG2:
        return a2;
    case D3DTOP_MODULATE:
        return a1 * a2;
    case D3DTOP_MODULATE2X:
        return saturate(2.0f * a1 * a2);
    case D3DTOP_MODULATE4X:
        return saturate(4.0f * a1 * a2);
    case D3DTOP_ADD:
        return saturate(a1 + a2);
    case D3DTOP_ADDSIGNED:
        return saturate(a1 + a2 - 0.5f);
    default:
        return a1 * a2;
    }
}

bool depth_passes(DWORD func, uint16_t incoming, uint16_t stored)
{
    switch (func) {
    case D3DCMP_NEVER:
        return false;
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
        return true;
    }
}

Colour blend_factor(DWORD factor, const Colour& src, const Colour& dst)
{
    switch (factor) {
    case D3DBLEND_ZERO:
        return {0, 0, 0, 0};
    case D3DBLEND_ONE:
        return {1, 1, 1, 1};
    case D3DBLEND_SRCCOLOR:
        return src;
    case D3DBLEND_INVSRCCOLOR:
        return {1 - src.r, 1 - src.g, 1 - src.b, 1 - src.a};
    case D3DBLEND_SRCALPHA:
        return {src.a, src.a, src.a, src.a};
    case D3DBLEND_INVSRCALPHA:
        return {1 - src.a, 1 - src.a, 1 - src.a, 1 - src.a};
    case D3DBLEND_DESTALPHA:
        return {dst.a, dst.a, dst.a, dst.a};
    case D3DBLEND_INVDESTALPHA:
        return {1 - dst.a, 1 - dst.a, 1 - dst.a, 1 - dst.a};
    case D3DBLEND_DESTCOLOR:
        return dst;
    case D3DBLEND_INVDESTCOLOR:
        return {1 - dst.r, 1 - dst.g, 1 - dst.b, 1 - dst.a};
    default:
        return {1, 1, 1, 1};
    }
}

uint16_t depth_value(float z)
{
    z = z < 0.0f ? 0.0f : (z > 1.0f ? 1.0f : z);
    return static_cast<uint16_t>(z * 65535.0f + 0.5f);
}

} // namespace

void soft_prepare_context(const FrontState& state, const FfDraw& described,
                          const SoftTarget& target, SoftDrawContext* context)
{
    context->draw = described;
    for (int s = 0; s < FF_STAGES; ++s)
        context->texture[s] = described.key.stage[s].sampled ? soft_texture(state, s) : nullptr;
    context->target = target;
}

// How much of the pixel's own colour survives the fog: 1 near, 0 far.
static float fog_factor(const FfDraw& draw, float depth)
{
    const FfParams& p = draw.params;
    switch (draw.key.fog_mode) {
    case D3DFOG_EXP:
        return saturate(std::exp(-depth * p.fog_density));
    case D3DFOG_EXP2: {
        float d = depth * p.fog_density;
        return saturate(std::exp(-d * d));
    }
    default: {
        float range = p.fog_end - p.fog_start;
        if (!(range > 0.0f))
            return depth < p.fog_end ? 1.0f : 0.0f;
        return saturate((p.fog_end - depth) / range);
    }
    }
}

void soft_shade_quad(const SoftDrawContext& context, const SoftQuad& quad)
{
    const FfKey& key = context.draw.key;
    const SoftTarget& target = context.target;

    // Per stage: the sampler and the level of detail, shared by the quad.
    Sampler samplers[FF_STAGES];
    float lambda[FF_STAGES] = {};
    int coord_index[FF_STAGES] = {};
    for (int s = 0; s < key.stages; ++s) {
        if (!key.stage[s].sampled)
            continue;
        const FfSampler& fs = context.draw.sampler[s];
        Sampler& sm = samplers[s];
        sm.texture = context.texture[s];
        sm.address_u = fs.address_u;
        sm.address_v = fs.address_v;
        sm.mag_filter = fs.mag_filter;
        sm.min_filter = fs.min_filter;
        sm.mip_filter = fs.mip_filter;
        sm.max_level = fs.max_level;
        sm.lod_bias = fs.lod_bias;
        sm.border = unpack(fs.border, true);
        sm.has_alpha = fs.has_alpha != 0;
        coord_index[s] = key.stage[s].coord_set == 1 ? 2 : 0;
        const TexelLevel& top =
            sm.texture->level(std::min(sm.max_level, sm.texture->level_count() - 1));
        lambda[s] = level_of_detail(quad, coord_index[s], top.width, top.height);
    }

    // Without lights or a material, lighting leaves the colour black with
    // alpha 0; unlit vertices without a colour are opaque white.
    const Colour diffuse = key.lit ? Colour{0, 0, 0, 0} : Colour{1, 1, 1, 1};
    const FfParams& params = context.draw.params;

    for (int p = 0; p < 4; ++p) {
        if (!(quad.mask & (1u << p)))
            continue;
        int x = quad.x + (p & 1), y = quad.y + (p >> 1);
        size_t index = size_t(y) * size_t(target.width) + size_t(x);

        uint16_t depth = depth_value(quad.z[p]);
        if (key.depth_test && !depth_passes(key.depth_func, depth, target.depth[index]))
            continue;

        Colour current = diffuse;
        for (int s = 0; s < key.stages; ++s) {
            const FfStage& st = key.stage[s];
            // A stage with no texture to sample reads opaque black.
            Colour texel = {0, 0, 0, 1};
            if (st.sampled) {
                const float* a = quad.attr[p];
                texel = sample(samplers[s], a[coord_index[s]], a[coord_index[s] + 1], lambda[s]);
            }
            Colour c1 = stage_argument(st.colour_arg1, diffuse, current, texel);
            Colour c2 = stage_argument(st.colour_arg2, diffuse, current, texel);
            Colour next;
            next.r = saturate(operate(st.colour_op, c1.r, c2.r));
            next.g = saturate(operate(st.colour_op, c1.g, c2.g));
            next.b = saturate(operate(st.colour_op, c1.b, c2.b));
            // Alpha switched off while colour runs passes the alpha on.
            if (st.alpha_op == D3DTOP_DISABLE) {
                next.a = current.a;
            } else {
                Colour a1 = stage_argument(st.alpha_arg1, diffuse, current, texel);
                Colour a2 = stage_argument(st.alpha_arg2, diffuse, current, texel);
                next.a = saturate(operate(st.alpha_op, a1.a, a2.a));
            }
            current = next;
        }

        if (key.fog_mode != D3DFOG_NONE) {
            float f = fog_factor(context.draw, key.fog_on_eye_depth ? quad.w[p] : quad.z[p]);
            current.r = current.r * f + params.fog_colour[0] * (1.0f - f);
            current.g = current.g * f + params.fog_colour[1] * (1.0f - f);
            current.b = current.b * f + params.fog_colour[2] * (1.0f - f);
        }

        uint32_t& out = target.colour[index];
        if (key.blend) {
            Colour dst = unpack(out, false);
            Colour sf = blend_factor(key.src_blend, current, dst);
            Colour df = blend_factor(key.dst_blend, current, dst);
            current.r = current.r * sf.r + dst.r * df.r;
            current.g = current.g * sf.g + dst.g * df.g;
            current.b = current.b * sf.b + dst.b * df.b;
        }
        out = 0xFF000000u | to_byte(current.r) << 16 | to_byte(current.g) << 8 | to_byte(current.b);
        if (key.depth_write)
            target.depth[index] = depth;
    }
}
