// The tiled software device against the reference device: frames of
// overlapping, blended, fogged and clipped triangles under every state the
// fixed-function description tells apart must come out the same to the bit
// for any thread count, tile size and instruction set; locks and clears in
// the middle of a frame must see exactly the draws made before them, a
// texture written while a frame that samples it is rendered must not change
// that frame, and a texture released while draws that sample it are queued
// must live until they are rendered.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <vector>

#include "canvas.h"
#include "gfx/backend.h"
#include "gfx/d3d8.h"
#include "gfx/math3d.h"
#include "gfx/soft/soft_device.h"
#include "gfx/soft/soft_scene.h"

namespace
{

// A software device made directly, without the program's set-up.
struct Device : Canvas {
    Device(bool reference, int w, int h, D3DFORMAT format = D3DFMT_X8R8G8B8)
        : Canvas(reference ? soft_create_reference_direct3d() : soft_create_direct3d(), w, h,
                 format, nullptr, true)
    {
    }

    // An identity world and view, a perspective projection, and linear fog
    // in one colour from `start` to `end` (the caller enables it).
    void perspective_in_fog(float start, float end)
    {
        perspective(1.2f, 0.5f, 60.0f);
        device->SetRenderState(D3DRS_FOGCOLOR, 0x405060);
        device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
        fog_range(start, end);
    }
    void fog_range(float start, float end)
    {
        device->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(start));
        device->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(end));
    }

    // The frame as the window is handed it.
    std::vector<uint32_t> present()
    {
        device->Present(nullptr, nullptr, nullptr, nullptr);
        int w = 0, h = 0;
        const uint32_t* pixels = soft_device_pixels(device, &w, &h);
        return std::vector<uint32_t>(pixels, pixels + size_t(w) * size_t(h));
    }

    // A hashed texture, every level its own seed from `seed` on.
    IDirect3DTexture8* hashed(int w, int h, uint32_t seed, D3DFORMAT format = D3DFMT_A8R8G8B8,
                              int levels = 0, int step = 1)
    {
        return texture(
            w, h, levels,
            [=](int l, int x, int y) { return hashed_texel(int(seed) + step * l, x, y); }, format);
    }
};

// A small deterministic generator, so every device sees the same frame.
struct Lcg {
    uint32_t state;
    float next(float lo, float hi)
    {
        state = state * 1664525u + 1013904223u;
        return lo + (hi - lo) * float(state >> 8) / float(1 << 24);
    }
};

// Picks one entry of a table.
template <class T, size_t N> T pick(Lcg& lcg, const T (&table)[N])
{
    return table[size_t(lcg.next(0.0f, float(N) - 0.001f))];
}

// Batches of random triangles, each under states drawn from everything the
// fixed-function description tells apart: every stage operation and argument
// modifier, addressing mode, filter, level bias and limit, fog mode, depth
// function and blend factor, with textures of power-of-two and other sizes
// and coordinates from tiny to far outside the texture. The fast rasterizer
// takes a different code path for many of these; each must land on the
// reference's pixels. Every batch gets a frame of its own, over a random
// clear colour and depth, so no batch hides another.
std::vector<uint32_t> render_random_states(Device& d, uint32_t seed)
{
    IDirect3DDevice8* dev = d.device;
    IDirect3DTexture8* textures[3] = {d.hashed(64, 64, 3),
                                      d.hashed(24, 20, seed, D3DFMT_X8R8G8B8, 0, 17),
                                      d.hashed(16, 64, seed, D3DFMT_A8R8G8B8, 3, 17)};

    const DWORD ops[] = {D3DTOP_SELECTARG1, D3DTOP_SELECTARG2, D3DTOP_MODULATE,  D3DTOP_MODULATE2X,
                         D3DTOP_MODULATE4X, D3DTOP_ADD,        D3DTOP_ADDSIGNED, D3DTOP_DISABLE};
    const DWORD sources[] = {D3DTA_TEXTURE, D3DTA_TEXTURE, D3DTA_CURRENT,
                             D3DTA_DIFFUSE, D3DTA_TFACTOR, D3DTA_SPECULAR};
    const DWORD modifiers[] = {0, 0, D3DTA_COMPLEMENT, D3DTA_ALPHAREPLICATE,
                               D3DTA_COMPLEMENT | D3DTA_ALPHAREPLICATE};
    const DWORD addresses[] = {D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP,
                               D3DTADDRESS_BORDER};
    const DWORD filters[] = {D3DTEXF_NONE, D3DTEXF_POINT, D3DTEXF_LINEAR, D3DTEXF_ANISOTROPIC};
    const float biases[] = {0.0f, 0.0f, -1.5f, 0.7f};
    const float reaches[] = {0.05f, 1.0f, 8.0f, 300.0f, 1e8f, 1e21f};
    const DWORD fogs[] = {D3DFOG_LINEAR, D3DFOG_EXP, D3DFOG_EXP2};
    const DWORD blends[] = {D3DBLEND_ZERO,         D3DBLEND_ONE,          D3DBLEND_SRCCOLOR,
                            D3DBLEND_INVSRCCOLOR,  D3DBLEND_SRCALPHA,     D3DBLEND_INVSRCALPHA,
                            D3DBLEND_DESTALPHA,    D3DBLEND_INVDESTALPHA, D3DBLEND_DESTCOLOR,
                            D3DBLEND_INVDESTCOLOR, D3DBLEND(12)};
    auto argument = [&](Lcg& lcg) { return pick(lcg, sources) | pick(lcg, modifiers); };

    Matrix m;
    d.perspective(1.2f, 0.5f, 60.0f);
    dev->SetRenderState(D3DRS_FOGCOLOR, 0x804020);
    std::vector<uint32_t> frames;
    Lcg lcg = {seed};
    for (int batch = 0; batch < 40; ++batch) {
        dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER,
                   D3DCOLOR(lcg.next(0, 1) * 16777215.0f), lcg.next(0.3f, 1.0f), 0);
        // Perspective (fog on eye depth) or orthographic (on device depth).
        if (batch % 2)
            mat_perspective_fov_lh(&m, 1.2f, float(d.width) / float(d.height), 0.5f, 60.0f);
        else
            mat_ortho_lh(&m, 2.0f, 1.6f, -1.0f, 1.0f);
        dev->SetTransform(D3DTS_PROJECTION, &m);
        for (DWORD s = 0; s < 2; ++s) {
            dev->SetTexture(s, lcg.next(0, 1) < 0.15f ? nullptr : textures[(batch + s) % 3]);
            dev->SetTextureStageState(s, D3DTSS_COLOROP, pick(lcg, ops));
            dev->SetTextureStageState(s, D3DTSS_COLORARG1, argument(lcg));
            dev->SetTextureStageState(s, D3DTSS_COLORARG2, argument(lcg));
            dev->SetTextureStageState(s, D3DTSS_ALPHAOP, pick(lcg, ops));
            dev->SetTextureStageState(s, D3DTSS_ALPHAARG1, argument(lcg));
            dev->SetTextureStageState(s, D3DTSS_ALPHAARG2, argument(lcg));
            dev->SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, lcg.next(0, 1) < 0.5f);
            dev->SetTextureStageState(s, D3DTSS_ADDRESSU, pick(lcg, addresses));
            dev->SetTextureStageState(s, D3DTSS_ADDRESSV, pick(lcg, addresses));
            dev->SetTextureStageState(s, D3DTSS_BORDERCOLOR, 0x80C04010u * DWORD(batch + 1));
            dev->SetTextureStageState(s, D3DTSS_MAGFILTER, pick(lcg, filters));
            dev->SetTextureStageState(s, D3DTSS_MINFILTER, pick(lcg, filters));
            dev->SetTextureStageState(s, D3DTSS_MIPFILTER, pick(lcg, filters));
            dev->SetTextureStageState(s, D3DTSS_MIPMAPLODBIAS,
                                      d3d_float_to_dword(pick(lcg, biases)));
            dev->SetTextureStageState(s, D3DTSS_MAXMIPLEVEL, DWORD(lcg.next(0, 3)));
        }
        dev->SetRenderState(D3DRS_LIGHTING, lcg.next(0, 1) < 0.5f);
        dev->SetRenderState(D3DRS_FOGENABLE, lcg.next(0, 1) < 0.6f);
        dev->SetRenderState(D3DRS_FOGTABLEMODE, pick(lcg, fogs));
        dev->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(lcg.next(-0.5f, 20.0f)));
        dev->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(lcg.next(-0.5f, 50.0f)));
        dev->SetRenderState(D3DRS_FOGDENSITY, d3d_float_to_dword(lcg.next(0.0f, 0.2f)));
        dev->SetRenderState(D3DRS_ZENABLE, lcg.next(0, 1) < 0.7f);
        dev->SetRenderState(D3DRS_ZWRITEENABLE, lcg.next(0, 1) < 0.7f);
        dev->SetRenderState(D3DRS_ZFUNC, DWORD(lcg.next(1.0f, 8.99f)));
        dev->SetRenderState(D3DRS_ALPHABLENDENABLE, lcg.next(0, 1) < 0.5f);
        dev->SetRenderState(D3DRS_SRCBLEND, pick(lcg, blends));
        dev->SetRenderState(D3DRS_DESTBLEND, pick(lcg, blends));
        dev->SetRenderState(D3DRS_CULLMODE, DWORD(lcg.next(1.0f, 3.99f)));

        // Texture coordinates that magnify, minify and run far outside the
        // texture, up to an infinite level of detail (which once sent the
        // reference's nearest-level mip selection before the first level);
        // some triangles much larger than the target.
        float reach = pick(lcg, reaches);
        float size = batch % 7 == 3 ? 40.0f : 1.0f;
        std::vector<Vertex> vertices;
        for (int i = 0; i < 3 * 8; ++i) {
            float z = lcg.next(-2.0f, 45.0f);
            float spread = batch % 2 ? z + 1.0f : 1.0f;
            vertices.push_back(
                {{lcg.next(-1.0f, 1.0f) * size * spread, lcg.next(-0.8f, 0.8f) * size * spread,
                  batch % 2 ? z : lcg.next(-0.2f, 1.2f)},
                 lcg.next(-reach, reach),
                 lcg.next(-reach, reach),
                 lcg.next(-1, 2),
                 lcg.next(-1, 2)});
        }
        D3DPRIMITIVETYPE type = batch % 5 == 4 ? D3DPT_TRIANGLESTRIP : D3DPT_TRIANGLELIST;
        d.draw(type, vertices, type == D3DPT_TRIANGLELIST ? 8 : 22);
        std::vector<uint32_t> frame = d.present();
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    return frames;
}

// Streaks on a clear texture, as the rain is drawn: a texture whose alpha is
// 0 over most texels (with colour under some of them), blended by its alpha
// over a background written through a back-buffer lock with top bytes the
// renderer never writes, under the stage and fog states that keep a clear
// texel clear and those that do not. Where the fast rasterizer leaves a block
// of clear texels as it was, the pixels must still come out as the
// reference's blend writes them. A texture of `size` (a power of two) below
// 32 gets one streak down its lower half instead, and scrolls down too, so
// the strip reaches all its rows.
std::vector<uint32_t> render_streaks(Device& d, uint32_t seed, int size = 32)
{
    IDirect3DDevice8* dev = d.device;
    Lcg lcg = {seed};
    dev->SetTexture(0, d.texture(size, size, 1, [&](int, int x, int y) {
        const bool streak =
            size >= 32 ? x % 9 == 4 && (y + x) % 13 < 4 : x == size / 2 && y >= size / 2;
        uint32_t alpha = streak ? uint32_t(lcg.next(1, 255)) : 0;
        return alpha << 24 | uint32_t(lcg.next(0, 1) * 16777215.0f);
    }));
    d.perspective(1.2f, 0.5f, 60.0f);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dev->SetRenderState(D3DRS_ZENABLE, 0);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_FOGCOLOR, 0x406080);
    dev->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(1.0f));
    dev->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(30.0f));

    const DWORD alpha_ops[] = {D3DTOP_SELECTARG1, D3DTOP_ADD, D3DTOP_MODULATE, D3DTOP_DISABLE};
    const DWORD alpha_args[] = {D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTA_TEXTURE | D3DTA_COMPLEMENT};
    const DWORD filters[] = {D3DTEXF_POINT, D3DTEXF_LINEAR};
    std::vector<uint32_t> frames;
    for (int batch = 0; batch < 24; ++batch) {
        IDirect3DSurface8* back = nullptr;
        D3DLOCKED_RECT lock;
        EXPECT_EQ(dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
        EXPECT_EQ(back->LockRect(&lock, nullptr, 0), D3D_OK);
        for (int y = 0; y < d.height; ++y)
            for (int x = 0; x < d.width; ++x)
                static_cast<uint32_t*>(lock.pBits)[y * lock.Pitch / 4 + x] =
                    uint32_t(lcg.next(0, 1) * 4294967295.0f);
        back->UnlockRect();
        back->Release();

        dev->SetTextureStageState(0, D3DTSS_ALPHAOP, alpha_ops[batch % 4]);
        dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, pick(lcg, alpha_args));
        dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
        dev->SetTextureStageState(0, D3DTSS_MAGFILTER, pick(lcg, filters));
        dev->SetTextureStageState(0, D3DTSS_MINFILTER, pick(lcg, filters));
        dev->SetRenderState(D3DRS_LIGHTING, batch % 3 != 2);
        dev->SetRenderState(D3DRS_FOGENABLE, batch % 2);
        dev->SetRenderState(D3DRS_ZWRITEENABLE, batch % 5 == 1);
        // Magnified as the rain's strips are, or shrunk; one strip also
        // reaches behind the eye.
        float reach = batch % 3 == 0 ? 4.0f : 0.5f;
        std::vector<Vertex> strip = {{{-3, -2, 4}, 0, 0, 0, 0},
                                     {{3, -2, 4}, reach, 0, 0, 0},
                                     {{3, 2, batch % 4 == 3 ? -1.0f : 12.0f}, reach, reach, 0, 0},
                                     {{-3, 2, 12}, 0, reach, 0, 0}};
        for (Vertex& v : strip) {
            v.u0 += float(batch) * 0.37f;
            if (size < 32)
                v.v0 += float(batch) * 0.61f;
        }
        d.draw(D3DPT_TRIANGLEFAN, strip);
        std::vector<uint32_t> frame = d.present();
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    return frames;
}

// A quad in 2D units that samples the middle of its texture.
void flat(Device& d, float x0, float y0, float x1, float y1, float z)
{
    d.quad2d(x0, y0, x1, y1, 0.5f, 0.5f, 0.5f, 0.5f, z);
}

// Screen-space set-up: one unit per pixel, origin bottom-left, culling off.
void setup_2d(Device& d)
{
    d.ortho();
    d.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
}

// Every texel `colour`.
Texel one(uint32_t colour)
{
    return [colour](int, int, int) { return colour; };
}

// Sets the states of a fixed kernel's shape (SOFT_FAST_SHAPES, which the
// program's heavy draws take); a state the shape leaves open gets the value
// those draws give it.
void set_shape_states(IDirect3DDevice8* dev, const SoftDrawShape& shape)
{
    auto value = [](int fixed, DWORD otherwise) {
        return fixed == SOFT_ANY ? otherwise : DWORD(fixed);
    };
    dev->SetRenderState(D3DRS_LIGHTING, value(shape.lit, 1));
    dev->SetRenderState(D3DRS_FOGENABLE, DWORD(shape.fog));
    dev->SetRenderState(D3DRS_FOGTABLEMODE, value(shape.fog_mode, D3DFOG_LINEAR));
    dev->SetRenderState(D3DRS_FOGDENSITY, d3d_float_to_dword(0.05f));
    dev->SetRenderState(D3DRS_ZENABLE, DWORD(shape.depth_test));
    dev->SetRenderState(D3DRS_ZWRITEENABLE, value(shape.depth_write, 1));
    dev->SetRenderState(D3DRS_ZFUNC, value(shape.depth_func, D3DCMP_LESSEQUAL));
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, DWORD(shape.blend));
    dev->SetRenderState(D3DRS_SRCBLEND, value(shape.src_blend, D3DBLEND_ONE));
    dev->SetRenderState(D3DRS_DESTBLEND, value(shape.dst_blend, D3DBLEND_ZERO));
    const DWORD addresses[] = {D3DTADDRESS_WRAP, D3DTADDRESS_CLAMP, D3DTADDRESS_MIRROR};
    const DWORD filters[] = {D3DTEXF_POINT, D3DTEXF_LINEAR};
    const DWORD mips[] = {D3DTEXF_NONE, D3DTEXF_POINT, D3DTEXF_LINEAR};
    for (DWORD s = 0; s < 2; ++s) {
        const SoftStageShape& st = shape.stage[s];
        const bool on = int(s) < shape.stages;
        dev->SetTextureStageState(s, D3DTSS_COLOROP, on ? value(st.colour_op, 0) : D3DTOP_DISABLE);
        dev->SetTextureStageState(s, D3DTSS_COLORARG1, value(st.colour_arg1, D3DTA_TEXTURE));
        dev->SetTextureStageState(s, D3DTSS_COLORARG2, value(st.colour_arg2, D3DTA_CURRENT));
        dev->SetTextureStageState(s, D3DTSS_ALPHAOP, value(st.alpha_op, D3DTOP_DISABLE));
        dev->SetTextureStageState(s, D3DTSS_ALPHAARG1, value(st.alpha_arg1, D3DTA_TEXTURE));
        dev->SetTextureStageState(s, D3DTSS_ALPHAARG2, value(st.alpha_arg2, D3DTA_CURRENT));
        dev->SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, s);
        dev->SetTextureStageState(s, D3DTSS_ADDRESSU, addresses[value(st.address_u, 0)]);
        dev->SetTextureStageState(s, D3DTSS_ADDRESSV, addresses[value(st.address_v, 0)]);
        dev->SetTextureStageState(s, D3DTSS_MAGFILTER, filters[value(st.mag_linear, 1)]);
        dev->SetTextureStageState(s, D3DTSS_MINFILTER, filters[value(st.min_linear, 1)]);
        dev->SetTextureStageState(s, D3DTSS_MIPFILTER, mips[value(st.mip, 2)]);
        dev->SetTextureStageState(s, D3DTSS_MIPMAPLODBIAS, d3d_float_to_dword(0.0f));
        dev->SetTextureStageState(s, D3DTSS_MAXMIPLEVEL, 0);
    }
}

// For each fixed kernel's shape, one frame of bands, each a quad from near on
// the left to far in the fog on the right, drawn twice (so the depth test
// meets equal depths): the first under the shape's states, every other one
// with one setting changed. A fixed kernel must be taken only where every
// state it fixes holds. And the tiled device prepares a draw's states again
// only where they differ from the draw before, so the changes that only feed
// the arithmetic or the sampling (fog colour, range and density, border
// colour, level bias and limit, the texture, the projection) must not be
// missed either.
std::vector<uint32_t> render_shape_bands(Device& d)
{
    IDirect3DDevice8* dev = d.device;
    // Streaks over clear texels, as the rain's texture has them.
    IDirect3DTexture8* streaks = d.texture(64, 64, 0, [](int level, int x, int y) {
        const int i = y * (64 >> level) + x;
        const uint32_t texel = hashed_texel(3 + level, x, y);
        return (i * 7 + y * 3) % 11 ? texel & 0x00FFFFFFu : texel;
    });
    IDirect3DTexture8* light = d.hashed(16, 16, 9);
    IDirect3DTexture8* uneven = d.hashed(24, 20, 40);
    IDirect3DTexture8* opaque = d.hashed(32, 32, 40, D3DFMT_X8R8G8B8);

    typedef std::function<void()> Change;
    auto state = [&](D3DRENDERSTATETYPE type, DWORD value) {
        return Change([=] { dev->SetRenderState(type, value); });
    };
    auto stage = [&](DWORD s, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
        return Change([=] { dev->SetTextureStageState(s, type, value); });
    };
    Matrix ortho;
    mat_ortho_lh(&ortho, 80.0f, 60.0f, 0.0f, 60.0f);
    // The change, and what holds under both halves of its band.
    const struct {
        Change change, under = [] {};
    } bands[] = {
        {[] {}},
        {state(D3DRS_LIGHTING, 0)},
        {state(D3DRS_FOGTABLEMODE, D3DFOG_EXP)},
        {state(D3DRS_FOGDENSITY, d3d_float_to_dword(0.2f)), state(D3DRS_FOGTABLEMODE, D3DFOG_EXP)},
        {state(D3DRS_FOGCOLOR, 0xC08040)},
        {state(D3DRS_FOGSTART, d3d_float_to_dword(12.0f))},
        {state(D3DRS_FOGEND, d3d_float_to_dword(20.0f))},
        // Fog on device depth, whose range is 0..1.
        {[&] { dev->SetTransform(D3DTS_PROJECTION, &ortho); }, [&] { d.fog_range(0.1f, 0.6f); }},
        {state(D3DRS_ZWRITEENABLE, 0)},
        {state(D3DRS_ZFUNC, D3DCMP_LESS)},
        {state(D3DRS_SRCBLEND, D3DBLEND_SRCCOLOR)},
        {state(D3DRS_DESTBLEND, D3DBLEND_INVSRCCOLOR)},
        {stage(0, D3DTSS_COLOROP, D3DTOP_MODULATE)},
        {stage(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE)},
        {stage(0, D3DTSS_COLORARG2, D3DTA_TFACTOR)},
        {stage(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2)},
        {stage(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP)},
        {stage(0, D3DTSS_ADDRESSV, D3DTADDRESS_MIRROR)},
        {stage(0, D3DTSS_ADDRESSV, D3DTADDRESS_BORDER)},
        {stage(0, D3DTSS_BORDERCOLOR, 0xFF00FF00u), stage(0, D3DTSS_ADDRESSV, D3DTADDRESS_BORDER)},
        {stage(0, D3DTSS_MAGFILTER, D3DTEXF_POINT)},
        {stage(0, D3DTSS_MINFILTER, D3DTEXF_POINT)},
        {stage(0, D3DTSS_MIPFILTER, D3DTEXF_POINT)},
        {stage(0, D3DTSS_MIPMAPLODBIAS, d3d_float_to_dword(0.75f))},
        {stage(0, D3DTSS_MAXMIPLEVEL, 2)},
        {[&] { dev->SetTexture(0, uneven); }},
        {[&] { dev->SetTexture(0, opaque); }},
        {[&] { dev->SetTexture(0, nullptr); }},
        {stage(1, D3DTSS_COLOROP, D3DTOP_MODULATE4X)},
        {stage(1, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP)},
        {stage(1, D3DTSS_MINFILTER, D3DTEXF_LINEAR)},
        {stage(1, D3DTSS_MIPFILTER, D3DTEXF_NONE)},
    };
    const int halves = 2 * int(std::size(bands));
    const float t = std::tan(0.6f), aspect = float(d.width) / float(d.height);
    // A point across the screen (-1..1) at eye depth z.
    auto corner = [&](float x, float y, float z, float u, float v) {
        return Vertex{{x * t * aspect * z, y * t * z, z}, u, v, u / 10.0f, v + 0.5f};
    };
    std::vector<uint32_t> frames;
    for (const SoftDrawShape& shape : SOFT_FAST_SHAPES) {
        // Colour and depth cleared apart: each clear must leave the other alone.
        dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0x203040, 0.0f, 0);
        dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0xFF00FF, 0.95f, 0);
        // Each band in two halves, the first without its change: every draw
        // differs from the one before in one setting.
        for (int k = 0; k < halves; ++k) {
            d.perspective_in_fog(2.0f, 40.0f);
            set_shape_states(dev, shape);
            dev->SetTexture(0, streaks);
            dev->SetTexture(1, light);
            bands[k / 2].under();
            if (k % 2)
                bands[k / 2].change();
            const float top = 1.0f - 2.0f * float(k) / float(halves);
            const float bottom = top - 2.0f / float(halves);
            // Drawn again at the same depth, which the depth function tells
            // apart, and a little behind, which the depth write does.
            for (float behind : {1.0f, 1.0f, 1.05f}) {
                const float near = 2.0f * behind, far = 40.0f * behind;
                std::vector<Vertex> quad = {corner(-0.95f, top, near, 0.0f, -0.1f),
                                            corner(0.95f, top, far, 12.0f, -0.1f),
                                            corner(0.95f, bottom, far, 12.0f, 0.1f),
                                            corner(-0.95f, top, near, 0.0f, -0.1f),
                                            corner(0.95f, bottom, far, 12.0f, 0.1f),
                                            corner(-0.95f, bottom, near, 0.0f, 0.1f)};
                d.draw(D3DPT_TRIANGLELIST, quad);
            }
        }
        std::vector<uint32_t> frame = d.present();
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    return frames;
}

// One run of the tiled device: its threads, tile size and instruction set.
struct TiledRun {
    int threads, tile_size;
    SoftSimd simd;
};

// Every instruction set this processor has.
std::vector<TiledRun> every_set(int threads, int tile_size)
{
    std::vector<TiledRun> out;
    for (SoftSimd simd : {SoftSimd::sse2, SoftSimd::avx2, SoftSimd::avx512})
        if (simd <= soft_simd_best())
            out.push_back({threads, tile_size, simd});
    return out;
}

struct SceneCase {
    const char* name;
    int width, height;
    D3DFORMAT format;
    std::vector<TiledRun> setups;
    std::function<std::vector<uint32_t>(Device&)> render;
};

void PrintTo(const SceneCase& c, std::ostream* os)
{
    *os << c.name;
}

class SoftFrames : public ::testing::TestWithParam<SceneCase>
{
  protected:
    void TearDown() override
    {
        soft_simd_use(soft_simd_best());
        soft_config_reset();
    }
};

// The tiled device, whatever its threads, tiles and instruction set, must
// give the reference device's pixels to the bit.
TEST_P(SoftFrames, TiledFramesEqualTheReference)
{
    const SceneCase& c = GetParam();
    soft_config_reset();
    Device reference(true, c.width, c.height, c.format);
    const std::vector<uint32_t> expected = c.render(reference);
    // Something is drawn: the frames are not one colour.
    EXPECT_NE(std::count(expected.begin(), expected.end(), expected[0]), long(expected.size()));
    for (const TiledRun& s : c.setups) {
        ASSERT_TRUE(soft_simd_use(s.simd));
        soft_config_reset();
        soft_set_threads(s.threads);
        soft_config().tile_size = s.tile_size;
        Device tiled(false, c.width, c.height, c.format);
        std::vector<uint32_t> got = c.render(tiled);
        ASSERT_EQ(got.size(), expected.size());
        size_t differing = 0, first = got.size();
        for (size_t i = 0; i < got.size(); ++i) {
            if (got[i] != expected[i] && first == got.size())
                first = i;
            differing += got[i] != expected[i];
        }
        EXPECT_EQ(differing, 0u) << soft_simd_name(s.simd) << ", " << s.threads
                                 << " threads, tiles of " << s.tile_size << ", first in frame "
                                 << first / size_t(c.width * c.height);
    }
}

const SoftSimd BEST = soft_simd_best();
const SceneCase SCENE_CASES[] = {
    {"RandomStatesOnEverySet", 96, 64, D3DFMT_X8R8G8B8, every_set(3, 16),
     [](Device& d) { return render_random_states(d, 1); }},
    {"RandomStatesOnAnyThreadsAndTiles",
     96,
     64,
     D3DFMT_X8R8G8B8,
     {{1, 64, BEST}, {2, 32, BEST}, {5, 16, BEST}, {4, 8, BEST}},
     [](Device& d) { return render_random_states(d, 2); }},
    {"RandomStatesIn16Bits",
     96,
     64,
     D3DFMT_R5G6B5,
     {{3, 30, BEST}},
     [](Device& d) { return render_random_states(d, 3); }},
    {"ClearTexels", 96, 64, D3DFMT_X8R8G8B8, every_set(2, 32),
     [](Device& d) { return render_streaks(d, 5); }},
    // A texture narrower than a word of clear cells a row.
    {"ClearTexelsOfANarrowTexture", 96, 64, D3DFMT_X8R8G8B8, every_set(2, 32),
     [](Device& d) { return render_streaks(d, 7, 8); }},
    {"FixedKernelShapesAndOneChangeEach", 128, 384, D3DFMT_X8R8G8B8, every_set(2, 32),
     render_shape_bands},
};
INSTANTIATE_TEST_SUITE_P(Renders, SoftFrames, ::testing::ValuesIn(SCENE_CASES),
                         [](const ::testing::TestParamInfo<SceneCase>& info) {
                             return std::string(info.param.name);
                         });

class SoftSceneOrder : public ::testing::TestWithParam<bool> // true: the reference device
{
  protected:
    void SetUp() override
    {
        soft_config_reset();
        soft_set_threads(3);
        soft_config().tile_size = 16;
    }
    void TearDown() override { soft_config_reset(); }
};

TEST_P(SoftSceneOrder, TextureLocksSplitQueuedDrawsFromLaterOnes)
{
    Device d(GetParam(), 64, 48);
    setup_2d(d);
    IDirect3DTexture8* t = d.solid(0xFF0000);
    d.owned.pop_back(); // released below, while draws that sample it are queued
    flat(d, 0, 0, 32, 48, 0.5f);
    Canvas::fill(t, 0, one(0x00FF00)); // through the texture
    flat(d, 32, 0, 64, 48, 0.5f);
    IDirect3DSurface8* level = nullptr;
    ASSERT_EQ(t->GetSurfaceLevel(0, &level), D3D_OK);
    D3DLOCKED_RECT lock;
    ASSERT_EQ(level->LockRect(&lock, nullptr, 0), D3D_OK); // through its surface
    *static_cast<uint32_t*>(lock.pBits) = 0x0000FF;
    level->UnlockRect();
    level->Release();
    flat(d, 24, 20, 40, 28, 0.25f);

    // The last reference the program holds goes while the texture is queued.
    d.device->SetTexture(0, nullptr);
    EXPECT_EQ(t->Release(), GetParam() ? 0u : 1u) << "queued draws hold the texture";
    std::vector<uint32_t> f = d.present();
    EXPECT_EQ(f[size_t(10 * 64 + 4)] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(f[size_t(10 * 64 + 60)] & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(f[size_t(24 * 64 + 32)] & 0xFFFFFF, 0x0000FFu);
}

TEST_P(SoftSceneOrder, BackBufferLocksAndClearsComeAfterQueuedDraws)
{
    Device d(GetParam(), 64, 48);
    setup_2d(d);
    IDirect3DTexture8* t = d.solid(0xFFFFFF);
    d.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x000000, 1.0f, 0);
    flat(d, 0, 0, 64, 24, 0.5f); // the lower half, y up
    std::vector<uint32_t> f = d.back_buffer();
    EXPECT_EQ(f[size_t(40 * 64 + 5)] & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(f[size_t(5 * 64 + 5)] & 0xFFFFFF, 0x000000u);

    // A colour clear keeps the depth the first draw left: a draw behind it
    // stays hidden, one in front shows.
    d.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x0000FF, 1.0f, 0);
    Canvas::fill(t, 0, one(0x00FF00));
    flat(d, 0, 0, 32, 48, 0.75f);
    flat(d, 32, 0, 64, 48, 0.25f);
    f = d.present();
    EXPECT_EQ(f[size_t(40 * 64 + 5)] & 0xFFFFFF, 0x0000FFu);  // behind the first draw
    EXPECT_EQ(f[size_t(5 * 64 + 5)] & 0xFFFFFF, 0x00FF00u);   // where there was none
    EXPECT_EQ(f[size_t(40 * 64 + 50)] & 0xFFFFFF, 0x00FF00u); // in front of it
}

// What the window was handed, frame by frame.
std::vector<std::vector<uint32_t>> g_shown;

void keep_shown(HWND, const uint32_t* pixels, int width, int height, int)
{
    g_shown.emplace_back(pixels, pixels + size_t(width) * size_t(height));
}

TEST_P(SoftSceneOrder, TheWindowGetsEveryFrameWithTheTexelsItWasDrawnWith)
{
    // The texture is rewritten right after each Present, while the frame that
    // sampled it may still be rendering, and the next frame's draws sample it
    // at once; the frame in flight must keep what it saw. It is filtered, so
    // the draws read its stacked rows as well as its texels, and blended by
    // its alpha, which turns clear and opaque by turns: a block the renderer
    // finds wholly clear is kept without being shaded, and the frame in
    // flight must decide that from the texels it saw.
    const uint32_t background = 0x101010;
    const uint32_t colours[] = {0xFFFF0000, 0x00FFFFFF, 0xFF00FF00, 0x00FFFFFF, 0xFF0000FF};
    g_shown.clear();
    gfx_set_present_target(keep_shown);
    {
        Device d(GetParam(), 64, 48);
        setup_2d(d);
        IDirect3DDevice8* dev = d.device;
        IDirect3DTexture8* t = d.texture(4, 4, 1, one(colours[0]));
        dev->SetTexture(0, t);
        dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
        dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
        dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
        dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        dev->SetRenderState(D3DRS_ZENABLE, 0);
        for (int frame = 0; frame < 4; ++frame) {
            dev->Clear(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);
            for (int layer = 0; layer < 400; ++layer) // enough to keep the threads busy
                flat(d, 0, 0, 64, 48, 0.5f);
            dev->Present(nullptr, nullptr, nullptr, nullptr);
            Canvas::fill(t, 0, one(colours[frame + 1]));
        }
        dev->Present(nullptr, nullptr, nullptr, nullptr);
    }
    gfx_set_present_target(nullptr);
    ASSERT_GE(g_shown.size(), 4u);
    for (size_t frame = 0; frame < 4; ++frame)
        EXPECT_EQ(g_shown[frame][size_t(20 * 64 + 30)] & 0xFFFFFF,
                  colours[frame] >> 24 ? colours[frame] & 0xFFFFFF : background)
            << "frame " << frame;
}

INSTANTIATE_TEST_SUITE_P(Devices, SoftSceneOrder, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Reference" : "Tiled");
                         });

} // namespace
