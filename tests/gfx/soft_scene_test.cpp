// The tiled software device against the reference device: a dense frame of
// overlapping, blended, fogged and clipped triangles must come out the same
// to the bit for any thread count and tile size; locks and clears in the
// middle of a frame must see exactly the draws made before them, and a
// texture written while a frame that samples it is rendered must not change
// that frame; a texture released while draws that sample it are queued must
// live until they are rendered. And the thread pool runs every job of every batch exactly once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <vector>

#include "gfx/backend.h"
#include "gfx/d3d8.h"
#include "gfx/math3d.h"
#include "gfx/soft/soft_device.h"
#include "gfx/soft/soft_scene.h"

namespace
{

// A software device made directly, without the program's set-up.
struct Device {
    IDirect3D8* d3d = nullptr;
    IDirect3DDevice8* device = nullptr;
    IDirect3DVertexBuffer8* buffer = nullptr;
    int width, height;

    Device(bool reference, int w, int h, D3DFORMAT format = D3DFMT_X8R8G8B8) : width(w), height(h)
    {
        d3d = reference ? soft_create_reference_direct3d() : soft_create_direct3d();
        D3DPRESENT_PARAMETERS params = {};
        params.BackBufferWidth = UINT(w);
        params.BackBufferHeight = UINT(h);
        params.BackBufferFormat = format;
        params.Windowed = 1;
        params.EnableAutoDepthStencil = 1;
        params.AutoDepthStencilFormat = D3DFMT_D16;
        EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                    &params, &device),
                  D3D_OK);
        EXPECT_EQ(device->CreateVertexBuffer(4096 * sizeof(Vertex), 0, VERTEX_FVF, D3DPOOL_DEFAULT,
                                             &buffer),
                  D3D_OK);
        device->SetStreamSource(0, buffer, sizeof(Vertex));
        device->SetVertexShader(VERTEX_FVF);
    }
    ~Device()
    {
        buffer->Release();
        device->Release();
        d3d->Release();
    }

    void draw(D3DPRIMITIVETYPE type, const std::vector<Vertex>& vertices, UINT count)
    {
        BYTE* data = nullptr;
        ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, vertices.data(), vertices.size() * sizeof(Vertex));
        buffer->Unlock();
        device->DrawPrimitive(type, 0, count);
    }

    // An identity world and view, a perspective projection, and linear fog
    // in one colour from `start` to `end` (the caller enables it).
    void perspective_in_fog(float start, float end)
    {
        Matrix m;
        device->SetTransform(D3DTS_WORLD, mat_translation(&m, 0, 0, 0));
        device->SetTransform(D3DTS_VIEW, &m);
        device->SetTransform(
            D3DTS_PROJECTION,
            mat_perspective_fov_lh(&m, 1.2f, float(width) / float(height), 0.5f, 60.0f));
        device->SetRenderState(D3DRS_FOGCOLOR, 0x405060);
        device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
        device->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(start));
        device->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(end));
    }

    std::vector<uint32_t> present()
    {
        device->Present(nullptr, nullptr, nullptr, nullptr);
        int w = 0, h = 0;
        const uint32_t* pixels = soft_device_pixels(device, &w, &h);
        return std::vector<uint32_t>(pixels, pixels + size_t(w) * size_t(h));
    }

    IDirect3DTexture8* texture(int size, uint32_t seed)
    {
        IDirect3DTexture8* t = nullptr;
        EXPECT_EQ(device->CreateTexture(size, size, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t),
                  D3D_OK);
        for (UINT level = 0; level < t->GetLevelCount(); ++level)
            fill(t, level, seed + level);
        return t;
    }

    static void fill(IDirect3DTexture8* t, UINT level, uint32_t seed)
    {
        D3DSURFACE_DESC desc;
        t->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT lock;
        ASSERT_EQ(t->LockRect(level, &lock, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < desc.Height; ++y)
            for (UINT x = 0; x < desc.Width; ++x)
                static_cast<uint32_t*>(lock.pBits)[y * UINT(lock.Pitch) / 4 + x] =
                    (x * 37 + y * 11 + seed * 101) * 2654435761u;
        t->UnlockRect(level);
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

// How many pixels of two frames of the same size differ.
size_t differing(const std::vector<uint32_t>& got, const std::vector<uint32_t>& expected)
{
    size_t count = 0;
    for (size_t i = 0; i < got.size() && i < expected.size(); ++i)
        count += got[i] != expected[i];
    return count;
}

// Two frames of random triangles in a perspective view: some through the
// near plane, some far into the fog, under changing blend, depth, cull, fog
// and stage states, with a texture rewritten and the depth buffer cleared in
// the middle of the first frame.
std::vector<uint32_t> render_dense_scene(Device& d)
{
    IDirect3DDevice8* dev = d.device;
    IDirect3DTexture8* a = d.texture(64, 1);
    IDirect3DTexture8* b = d.texture(32, 7);
    d.perspective_in_fog(10.0f, 50.0f);
    for (DWORD s = 0; s < 2; ++s) {
        dev->SetTextureStageState(s, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
        dev->SetTextureStageState(s, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
        dev->SetTextureStageState(s, D3DTSS_MIPFILTER, s ? D3DTEXF_POINT : D3DTEXF_LINEAR);
    }
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    dev->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);

    std::vector<uint32_t> frames;
    Lcg lcg = {12345};
    for (int frame = 0; frame < 2; ++frame) {
        dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x102030, 1.0f, 0);
        for (int batch = 0; batch < 24; ++batch) {
            dev->SetTexture(0, batch % 3 ? a : b);
            dev->SetTexture(1, batch % 4 == 1 ? b : nullptr);
            dev->SetRenderState(D3DRS_ALPHABLENDENABLE, batch % 2);
            dev->SetRenderState(D3DRS_SRCBLEND, batch % 4 ? D3DBLEND_SRCALPHA : D3DBLEND_ONE);
            dev->SetRenderState(D3DRS_DESTBLEND, batch % 4 ? D3DBLEND_INVSRCALPHA : D3DBLEND_ONE);
            dev->SetRenderState(D3DRS_ZFUNC, batch % 5 ? D3DCMP_LESSEQUAL : D3DCMP_GREATER);
            dev->SetRenderState(D3DRS_ZWRITEENABLE, batch % 3 != 2);
            dev->SetRenderState(D3DRS_CULLMODE, DWORD(D3DCULL_NONE + batch % 3));
            dev->SetRenderState(D3DRS_FOGENABLE, batch % 2 == 0);
            std::vector<Vertex> vertices;
            for (int i = 0; i < 3 * 12; ++i) {
                float z = lcg.next(-2.0f, 45.0f);
                vertices.push_back(
                    {{lcg.next(-1.0f, 1.0f) * (z + 1.0f), lcg.next(-0.8f, 0.8f) * (z + 1.0f), z},
                     lcg.next(-2, 3),
                     lcg.next(-2, 3),
                     lcg.next(0, 1),
                     lcg.next(0, 1)});
            }
            d.draw(D3DPT_TRIANGLELIST, vertices, 12);
            if (frame == 0 && batch == 9)
                Device::fill(a, 0, 99); // queued draws keep the old texels
            if (frame == 0 && batch == 15)
                dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        }
        std::vector<uint32_t> pixels = d.present();
        frames.insert(frames.end(), pixels.begin(), pixels.end());
    }
    dev->SetTexture(0, nullptr);
    dev->SetTexture(1, nullptr);
    a->Release();
    b->Release();
    return frames;
}

TEST(SoftScene, TiledFramesEqualTheReferenceForAnyThreadsAndTiles)
{
    struct Case {
        int threads, tile_size;
        D3DFORMAT format;
    };
    const Case cases[] = {{1, 64, D3DFMT_X8R8G8B8},
                          {2, 64, D3DFMT_X8R8G8B8},
                          {5, 64, D3DFMT_X8R8G8B8},
                          {4, 8, D3DFMT_X8R8G8B8},
                          {3, 30, D3DFMT_R5G6B5}};
    for (D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
        soft_config_reset();
        Device reference(true, 200, 150, format);
        std::vector<uint32_t> expected = render_dense_scene(reference);
        for (const Case& c : cases) {
            if (c.format != format)
                continue;
            soft_config_reset();
            soft_set_threads(c.threads);
            soft_config().tile_size = c.tile_size;
            Device tiled(false, 200, 150, format);
            std::vector<uint32_t> got = render_dense_scene(tiled);
            ASSERT_EQ(got.size(), expected.size());
            EXPECT_EQ(differing(got, expected), 0u)
                << c.threads << " threads, tiles of " << c.tile_size;
        }
    }
    soft_config_reset();
}

// One frame of bands, each a quad that runs from near on the left to far in
// the fog on the right, drawn under the states of the band before but for
// one setting that only feeds the arithmetic or the sampling: the texture,
// the fog's colour, range or density, a sampler's addressing, filter, level
// bias, level limit or border colour, or the projection. The tiled device
// describes states again only after they change, and draws alike share their
// prepared state; none of these bands may reuse the one before.
std::vector<uint32_t> render_bands(Device& d)
{
    IDirect3DDevice8* dev = d.device;
    IDirect3DTexture8* a = d.texture(64, 5);
    IDirect3DTexture8* b = d.texture(64, 9);
    d.perspective_in_fog(5.0f, 30.0f);
    dev->SetRenderState(D3DRS_FOGENABLE, 1);
    dev->SetRenderState(D3DRS_FOGDENSITY, d3d_float_to_dword(0.05f));
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    dev->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
    dev->SetTexture(0, a);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x102030, 1.0f, 0);

    Matrix m;
    const std::function<void()> changes[] = {
        [] {},
        [&] { dev->SetTexture(0, b); },
        [&] { dev->SetRenderState(D3DRS_FOGCOLOR, 0xC08040); },
        [&] { dev->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(12.0f)); },
        [&] { dev->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(20.0f)); },
        [&] { dev->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_BORDER); },
        [&] { dev->SetTextureStageState(0, D3DTSS_BORDERCOLOR, 0xFF00FF00u); },
        [&] { dev->SetTextureStageState(0, D3DTSS_MIPMAPLODBIAS, d3d_float_to_dword(1.5f)); },
        [&] { dev->SetTextureStageState(0, D3DTSS_MAXMIPLEVEL, 2); },
        [&] { dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT); },
        [&] { dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT); },
        [&] { dev->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_EXP); },
        [&] { dev->SetRenderState(D3DRS_FOGDENSITY, d3d_float_to_dword(0.2f)); },
        // An affine projection puts the fog on device depth.
        [&] { dev->SetTransform(D3DTS_PROJECTION, mat_ortho_lh(&m, 80.0f, 60.0f, 0.0f, 60.0f)); },
    };
    const int bands = int(std::size(changes));
    for (int k = 0; k < bands; ++k) {
        changes[k]();
        // View-space corners: x and y scale with depth to stay on screen.
        const float top = 0.6f - 1.2f * float(k) / float(bands);
        const float bottom = top - 1.2f / float(bands);
        auto corner = [](float x, float y, float z, float u, float v) {
            return Vertex{{x * z, y * z, z}, u, v, 0.0f, 0.0f};
        };
        std::vector<Vertex> quad = {
            corner(-0.9f, top, 2.0f, 0.0f, -1.0f),    corner(0.9f, top, 40.0f, 12.0f, -1.0f),
            corner(0.9f, bottom, 40.0f, 12.0f, 2.0f), corner(-0.9f, top, 2.0f, 0.0f, -1.0f),
            corner(0.9f, bottom, 40.0f, 12.0f, 2.0f), corner(-0.9f, bottom, 2.0f, 0.0f, 2.0f)};
        d.draw(D3DPT_TRIANGLELIST, quad, 2);
    }
    std::vector<uint32_t> pixels = d.present();
    dev->SetTexture(0, nullptr);
    a->Release();
    b->Release();
    return pixels;
}

TEST(SoftScene, DrawsThatDifferInOneSettingShadeAsTheReferenceDoes)
{
    soft_config_reset();
    Device reference(true, 200, 150);
    std::vector<uint32_t> expected = render_bands(reference);
    // The bands are drawn: the frame is not the clear colour alone.
    EXPECT_NE(std::count(expected.begin(), expected.end(), expected[0]), long(expected.size()));
    for (int threads : {1, 2}) {
        soft_config_reset();
        soft_set_threads(threads);
        Device tiled(false, 200, 150);
        std::vector<uint32_t> got = render_bands(tiled);
        ASSERT_EQ(got.size(), expected.size());
        EXPECT_EQ(differing(got, expected), 0u) << threads << " threads";
    }
    soft_config_reset();
}

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
    IDirect3DTexture8* textures[3] = {d.texture(64, 3), nullptr, nullptr};
    EXPECT_EQ(dev->CreateTexture(24, 20, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &textures[1]),
              D3D_OK);
    EXPECT_EQ(dev->CreateTexture(16, 64, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &textures[2]),
              D3D_OK);
    for (IDirect3DTexture8* t : {textures[1], textures[2]})
        for (UINT level = 0; level < t->GetLevelCount(); ++level)
            Device::fill(t, level, seed + 17 * level);

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
    dev->SetTransform(D3DTS_WORLD, mat_translation(&m, 0, 0, 0));
    dev->SetTransform(D3DTS_VIEW, &m);
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
    for (DWORD s = 0; s < 2; ++s)
        dev->SetTexture(s, nullptr);
    for (IDirect3DTexture8* t : textures)
        t->Release();
    return frames;
}

TEST(SoftFast, RandomStatesLandOnTheReferencePixelsWithEveryInstructionSet)
{
    std::vector<SoftSimd> sets;
    for (SoftSimd simd : {SoftSimd::sse2, SoftSimd::avx2, SoftSimd::avx512})
        if (simd <= soft_simd_best())
            sets.push_back(simd);
    for (uint32_t seed : {1u, 2u}) {
        soft_config_reset();
        Device reference(true, 96, 64);
        std::vector<uint32_t> expected = render_random_states(reference, seed);
        for (SoftSimd simd : sets) {
            ASSERT_TRUE(soft_simd_use(simd));
            soft_config_reset();
            soft_set_threads(3);
            soft_config().tile_size = 16;
            Device tiled(false, 96, 64);
            std::vector<uint32_t> got = render_random_states(tiled, seed);
            ASSERT_EQ(got.size(), expected.size());
            size_t differing = 0, first = got.size();
            for (size_t i = 0; i < got.size(); ++i) {
                if (got[i] != expected[i] && first == got.size())
                    first = i;
                differing += got[i] != expected[i];
            }
            EXPECT_EQ(differing, 0u) << soft_simd_name(simd) << ", seed " << seed
                                     << ", first in batch " << first / (96 * 64);
        }
    }
    soft_simd_use(soft_simd_best());
    soft_config_reset();
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
    IDirect3DTexture8* streaks = nullptr;
    EXPECT_EQ(dev->CreateTexture(UINT(size), UINT(size), 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                 &streaks),
              D3D_OK);
    D3DLOCKED_RECT lock;
    EXPECT_EQ(streaks->LockRect(0, &lock, nullptr, 0), D3D_OK);
    Lcg lcg = {seed};
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const bool streak =
                size >= 32 ? x % 9 == 4 && (y + x) % 13 < 4 : x == size / 2 && y >= size / 2;
            uint32_t alpha = streak ? uint32_t(lcg.next(1, 255)) : 0;
            uint32_t colour = uint32_t(lcg.next(0, 1) * 16777215.0f);
            static_cast<uint32_t*>(lock.pBits)[y * lock.Pitch / 4 + x] = alpha << 24 | colour;
        }
    streaks->UnlockRect(0);

    Matrix m;
    dev->SetTransform(D3DTS_WORLD, mat_translation(&m, 0, 0, 0));
    dev->SetTransform(D3DTS_VIEW, &m);
    mat_perspective_fov_lh(&m, 1.2f, float(d.width) / float(d.height), 0.5f, 60.0f);
    dev->SetTransform(D3DTS_PROJECTION, &m);
    dev->SetTexture(0, streaks);
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
        d.draw(D3DPT_TRIANGLEFAN, strip, 2);
        std::vector<uint32_t> frame = d.present();
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    dev->SetTexture(0, nullptr);
    streaks->Release();
    return frames;
}

// Renders with the reference device, then with the tiled one on two threads
// and every instruction set this processor has, and expects the same pixels.
void expect_every_set_draws_as_the_reference(
    int width, int height, const std::function<std::vector<uint32_t>(Device&)>& render)
{
    soft_config_reset();
    Device reference(true, width, height);
    std::vector<uint32_t> expected = render(reference);
    for (SoftSimd simd : {SoftSimd::sse2, SoftSimd::avx2, SoftSimd::avx512}) {
        if (simd > soft_simd_best())
            continue;
        ASSERT_TRUE(soft_simd_use(simd));
        soft_config_reset();
        soft_set_threads(2);
        Device tiled(false, width, height);
        std::vector<uint32_t> got = render(tiled);
        ASSERT_EQ(got.size(), expected.size());
        EXPECT_EQ(differing(got, expected), 0u) << soft_simd_name(simd);
    }
    soft_simd_use(soft_simd_best());
    soft_config_reset();
}

TEST(SoftFast, ClearTexelsBlendAsTheReferenceDoesWithEveryInstructionSet)
{
    expect_every_set_draws_as_the_reference(96, 64, [](Device& d) { return render_streaks(d, 5); });
    // A texture narrower than a word of clear cells a row.
    expect_every_set_draws_as_the_reference(96, 64,
                                            [](Device& d) { return render_streaks(d, 7, 8); });
}

const auto flat = [](float x0, float y0, float x1, float y1, float z) {
    return std::vector<Vertex>{{{x0, y0, z}, 0.5f, 0.5f, 0, 0},
                               {{x1, y0, z}, 0.5f, 0.5f, 0, 0},
                               {{x1, y1, z}, 0.5f, 0.5f, 0, 0},
                               {{x0, y1, z}, 0.5f, 0.5f, 0, 0}};
};

// Screen-space set-up: one unit per pixel, origin bottom-left, depth 0..1,
// stage 0 showing its texture, culling off.
void setup_2d(Device& d)
{
    Matrix m;
    d.device->SetTransform(D3DTS_VIEW, mat_translation(&m, 0, 0, 0));
    d.device->SetTransform(D3DTS_PROJECTION,
                           mat_ortho_lh(&m, float(d.width), float(d.height), 0, 1));
    d.device->SetTransform(D3DTS_WORLD, mat_translation(&m, -d.width / 2.0f, -d.height / 2.0f, 0));
    d.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d.device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
}

void set_texel(IDirect3DTexture8* t, uint32_t colour)
{
    D3DLOCKED_RECT lock;
    ASSERT_EQ(t->LockRect(0, &lock, nullptr, 0), D3D_OK);
    *static_cast<uint32_t*>(lock.pBits) = colour;
    t->UnlockRect(0);
}

// A 1 x 1 texture of `colour`, bound to stage 0.
IDirect3DTexture8* bind_texel(Device& d, uint32_t colour)
{
    IDirect3DTexture8* t = nullptr;
    EXPECT_EQ(d.device->CreateTexture(1, 1, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
    set_texel(t, colour);
    d.device->SetTexture(0, t);
    return t;
}

// Bands of a small wrapping texture, shrunk between one and four times and
// turned a different way in each band, so the texels a block reads wrap
// around the texture inside the block, in columns and in rows: its lanes
// are not in order. The fast rasterizer's window of texel rows is placed from
// a block's corners and must notice every lane it does not hold.
std::vector<uint32_t> render_wrapping_bands(Device& d)
{
    IDirect3DDevice8* dev = d.device;
    IDirect3DTexture8* t = nullptr;
    EXPECT_EQ(dev->CreateTexture(16, 16, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
    Device::fill(t, 0, 7);
    setup_2d(d);
    dev->SetTexture(0, t);
    dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    dev->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_NONE);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    const int bands = 12;
    const float w = float(d.width), h = float(d.height) / float(bands);
    for (int k = 0; k < bands; ++k) {
        const float rate = (1.15f + 0.25f * float(k)) / 16.0f; // texels a pixel, as u
        const float c = std::cos(0.45f * float(k)), s = std::sin(0.45f * float(k));
        auto corner = [&](float x, float y) {
            return Vertex{
                {x, y, 0.5f}, (c * x - s * y) * rate + 0.3f, (s * x + c * y) * rate, 0.0f, 0.0f};
        };
        const float y0 = h * float(k), y1 = y0 + h;
        std::vector<Vertex> quad = {corner(0, y0), corner(w, y0), corner(w, y1),
                                    corner(0, y0), corner(w, y1), corner(0, y1)};
        d.draw(D3DPT_TRIANGLELIST, quad, 2);
    }
    std::vector<uint32_t> pixels = d.present();
    dev->SetTexture(0, nullptr);
    t->Release();
    return pixels;
}

TEST(SoftFast, TexelsThatWrapInsideABlockAreReadAsTheReferenceReadsThem)
{
    expect_every_set_draws_as_the_reference(160, 96, render_wrapping_bands);
}

// The states of the program's heaviest draws, for which the fast rasterizer
// has kernels with those states fixed: the terrain (a detail texture and a
// lightmap), the rain, the leaves and the fire.
enum class SceneDraw { terrain, rain, leaves, fire };

void set_scene_states(IDirect3DDevice8* dev, SceneDraw which)
{
    const bool depth = which == SceneDraw::terrain || which == SceneDraw::leaves;
    dev->SetRenderState(D3DRS_LIGHTING, 1);
    dev->SetRenderState(D3DRS_FOGENABLE, which != SceneDraw::fire);
    dev->SetRenderState(D3DRS_ZENABLE, depth);
    dev->SetRenderState(D3DRS_ZWRITEENABLE, depth);
    dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, which != SceneDraw::terrain);
    dev->SetRenderState(D3DRS_SRCBLEND,
                        which == SceneDraw::fire ? D3DBLEND_ONE : D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND,
                        which == SceneDraw::fire ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA);
    for (DWORD s = 0; s < 2; ++s) {
        const DWORD second = which == SceneDraw::terrain ? D3DTOP_MODULATE2X : D3DTOP_DISABLE;
        dev->SetTextureStageState(s, D3DTSS_COLOROP, s ? second : D3DTOP_ADD);
        dev->SetTextureStageState(s, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        dev->SetTextureStageState(s, D3DTSS_COLORARG2, D3DTA_CURRENT);
        dev->SetTextureStageState(s, D3DTSS_ALPHAOP,
                                  s || which == SceneDraw::fire ? D3DTOP_DISABLE : D3DTOP_ADD);
        dev->SetTextureStageState(s, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        dev->SetTextureStageState(s, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
        dev->SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, s);
        dev->SetTextureStageState(s, D3DTSS_ADDRESSU, s ? D3DTADDRESS_CLAMP : D3DTADDRESS_WRAP);
        dev->SetTextureStageState(s, D3DTSS_ADDRESSV, s ? D3DTADDRESS_CLAMP : D3DTADDRESS_WRAP);
        dev->SetTextureStageState(s, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
        dev->SetTextureStageState(s, D3DTSS_MINFILTER, s ? D3DTEXF_POINT : D3DTEXF_LINEAR);
        dev->SetTextureStageState(s, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
        dev->SetTextureStageState(s, D3DTSS_MIPMAPLODBIAS, d3d_float_to_dword(0.0f));
        dev->SetTextureStageState(s, D3DTSS_MAXMIPLEVEL, 0);
    }
}

// Each of those draws as the program makes it, then with one setting changed
// at a time, each change in a frame of its own. The fixed kernels must be
// taken only where every state they fix holds, and give the reference's
// pixels there.
std::vector<uint32_t> render_scene_draws(Device& d)
{
    IDirect3DDevice8* dev = d.device;
    // Streaks over clear texels, as the rain's texture has them.
    IDirect3DTexture8* streaks = d.texture(64, 3);
    for (UINT level = 0; level < streaks->GetLevelCount(); ++level) {
        D3DSURFACE_DESC desc;
        streaks->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT lock;
        EXPECT_EQ(streaks->LockRect(level, &lock, nullptr, 0), D3D_OK);
        uint32_t* texels = static_cast<uint32_t*>(lock.pBits);
        for (UINT i = 0; i < desc.Width * desc.Height; ++i)
            if ((i * 7 + i / desc.Width * 3) % 11 != 0)
                texels[i] &= 0x00FFFFFFu;
        streaks->UnlockRect(level);
    }
    IDirect3DTexture8* light = d.texture(16, 9);
    IDirect3DTexture8 *uneven = nullptr, *opaque = nullptr;
    EXPECT_EQ(dev->CreateTexture(24, 20, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &uneven), D3D_OK);
    EXPECT_EQ(dev->CreateTexture(32, 32, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &opaque), D3D_OK);
    for (IDirect3DTexture8* t : {uneven, opaque})
        for (UINT level = 0; level < t->GetLevelCount(); ++level)
            Device::fill(t, level, 40 + level);

    typedef std::function<void()> Change;
    auto state = [&](D3DRENDERSTATETYPE type, DWORD value) {
        return Change([=] { dev->SetRenderState(type, value); });
    };
    auto stage = [&](DWORD s, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
        return Change([=] { dev->SetTextureStageState(s, type, value); });
    };
    const Change changes[] = {
        [] {},
        state(D3DRS_LIGHTING, 0),
        state(D3DRS_FOGTABLEMODE, D3DFOG_EXP),
        [&] {
            Matrix m;
            dev->SetTransform(D3DTS_PROJECTION, mat_ortho_lh(&m, 2.0f, 1.6f, -1.0f, 60.0f));
        },
        state(D3DRS_ZWRITEENABLE, 0),
        state(D3DRS_ZWRITEENABLE, 1),
        state(D3DRS_ZFUNC, D3DCMP_LESS),
        state(D3DRS_SRCBLEND, D3DBLEND_SRCCOLOR),
        state(D3DRS_DESTBLEND, D3DBLEND_INVSRCCOLOR),
        stage(0, D3DTSS_COLOROP, D3DTOP_MODULATE),
        stage(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE),
        stage(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2),
        stage(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP),
        stage(0, D3DTSS_ADDRESSV, D3DTADDRESS_MIRROR),
        stage(0, D3DTSS_MAGFILTER, D3DTEXF_POINT),
        stage(0, D3DTSS_MINFILTER, D3DTEXF_POINT),
        stage(0, D3DTSS_MIPFILTER, D3DTEXF_POINT),
        stage(0, D3DTSS_MIPMAPLODBIAS, d3d_float_to_dword(0.75f)),
        [&] { dev->SetTexture(0, uneven); },
        [&] { dev->SetTexture(0, opaque); },
        stage(1, D3DTSS_COLOROP, D3DTOP_MODULATE4X),
        stage(1, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP),
        stage(1, D3DTSS_MINFILTER, D3DTEXF_LINEAR),
        stage(1, D3DTSS_MIPFILTER, D3DTEXF_NONE),
    };
    std::vector<uint32_t> frames;
    Lcg lcg = {77};
    for (SceneDraw which :
         {SceneDraw::terrain, SceneDraw::rain, SceneDraw::leaves, SceneDraw::fire}) {
        for (const Change& change : changes) {
            d.perspective_in_fog(2.0f, 40.0f);
            set_scene_states(dev, which);
            dev->SetTexture(0, streaks);
            dev->SetTexture(1, light);
            change();
            dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x203040, 0.8f, 0);
            // Near and far, magnified and shrunk, through the near plane.
            std::vector<Vertex> vertices;
            for (int i = 0; i < 3 * 10; ++i) {
                float z = lcg.next(-1.0f, 45.0f), reach = i < 15 ? 0.4f : 6.0f;
                vertices.push_back(
                    {{lcg.next(-1.0f, 1.0f) * (z + 1.0f), lcg.next(-0.8f, 0.8f) * (z + 1.0f), z},
                     lcg.next(-reach, reach),
                     lcg.next(-reach, reach),
                     lcg.next(-0.2f, 1.2f),
                     lcg.next(-0.2f, 1.2f)});
            }
            d.draw(D3DPT_TRIANGLELIST, vertices, 10);
            std::vector<uint32_t> frame = d.present();
            frames.insert(frames.end(), frame.begin(), frame.end());
        }
    }
    for (DWORD s = 0; s < 2; ++s)
        dev->SetTexture(s, nullptr);
    for (IDirect3DTexture8* t : {streaks, light, uneven, opaque})
        t->Release();
    return frames;
}

TEST(SoftFast, TheProgramsDrawsAndTheirNeighboursShadeAsTheReferenceWithEveryInstructionSet)
{
    expect_every_set_draws_as_the_reference(96, 64, render_scene_draws);
}

// A draw context with every state `shape` fixes, on a mipmapped 64 x 64
// texture for each stage.
struct ShapedDraw {
    std::vector<uint32_t> texels = std::vector<uint32_t>(64 * 64);
    SoftLevelChain chain = {};
    SoftDrawContext context = {};

    explicit ShapedDraw(const SoftDrawShape& shape)
    {
        for (int size = 64, i = 0; size >= 1; size /= 2, ++i)
            chain.level[chain.count++] = {texels.data(), size, size, nullptr};
        auto value = [](int fixed, int otherwise) { return fixed == SOFT_ANY ? otherwise : fixed; };
        FfKey& key = context.draw.key;
        key.stages = uint8_t(shape.stages);
        key.lit = uint8_t(value(shape.lit, 1));
        key.fog_mode = uint8_t(shape.fog ? value(shape.fog_mode, D3DFOG_LINEAR) : int(D3DFOG_NONE));
        key.fog_on_eye_depth = uint8_t(value(shape.fog_on_eye_depth, 1));
        key.depth_test = uint8_t(shape.depth_test);
        key.depth_write = uint8_t(value(shape.depth_write, 0));
        key.depth_func = uint8_t(value(shape.depth_func, D3DCMP_LESSEQUAL));
        key.blend = uint8_t(shape.blend);
        key.src_blend = uint8_t(value(shape.src_blend, D3DBLEND_ONE));
        key.dst_blend = uint8_t(value(shape.dst_blend, D3DBLEND_ZERO));
        for (int s = 0; s < shape.stages; ++s) {
            const SoftStageShape& fixed = shape.stage[s];
            FfStage& st = key.stage[s];
            st.colour_op = uint8_t(value(fixed.colour_op, D3DTOP_MODULATE));
            st.colour_arg1 = uint8_t(value(fixed.colour_arg1, int(D3DTA_TEXTURE)));
            st.colour_arg2 = uint8_t(value(fixed.colour_arg2, int(D3DTA_CURRENT)));
            st.alpha_op = uint8_t(value(fixed.alpha_op, D3DTOP_DISABLE));
            st.alpha_arg1 = uint8_t(value(fixed.alpha_arg1, int(D3DTA_TEXTURE)));
            st.alpha_arg2 = uint8_t(value(fixed.alpha_arg2, int(D3DTA_CURRENT)));
            st.coord_set = uint8_t(s);
            st.sampled = uint8_t(value(fixed.sampled, 1));
            FfSampler& sampler = context.draw.sampler[s];
            const DWORD modes[] = {D3DTADDRESS_WRAP, D3DTADDRESS_CLAMP, D3DTADDRESS_MIRROR};
            sampler.address_u = uint8_t(modes[value(fixed.address_u, 0)]);
            sampler.address_v = uint8_t(modes[value(fixed.address_v, 0)]);
            const DWORD filters[] = {D3DTEXF_POINT, D3DTEXF_LINEAR};
            sampler.mag_filter = uint8_t(filters[value(fixed.mag_linear, 1)]);
            sampler.min_filter = uint8_t(filters[value(fixed.min_linear, 1)]);
            const DWORD mips[] = {D3DTEXF_NONE, D3DTEXF_POINT, D3DTEXF_LINEAR};
            sampler.mip_filter = uint8_t(mips[value(fixed.mip, 2)]);
            sampler.has_alpha = uint8_t(value(fixed.has_alpha, 1));
            sampler.lod_bias = value(fixed.unbiased, 1) ? 0.0f : 0.5f;
        }
    }

    SoftFastRaster raster() const
    {
        const SoftLevelChain* chains[FF_STAGES] = {&chain, &chain};
        SoftFastDraw draw;
        soft_fast_prepare(context, chains, &draw);
        return draw.raster;
    }
};

TEST(SoftFast, ADrawTakesAFixedKernelExactlyWhenItHasEveryStateTheKernelFixes)
{
    for (SoftSimd simd : {SoftSimd::sse2, SoftSimd::avx2, SoftSimd::avx512}) {
        if (simd > soft_simd_best())
            continue;
        ASSERT_TRUE(soft_simd_use(simd));
        const SoftFastRaster* table = soft_fast_table(simd).kernel;
        for (int i = 0; i < SOFT_FAST_SHAPE_COUNT; ++i) {
            const SoftDrawShape& shape = SOFT_FAST_SHAPES[i];
            const SoftFastRaster kernel = table[SOFT_FAST_VARIANTS + i];
            EXPECT_EQ(ShapedDraw(shape).raster(), kernel) << "shape " << i;
            // Every state the shape fixes, changed alone, loses the kernel.
            typedef std::function<void(ShapedDraw&)> Change;
            std::vector<Change> changes;
            auto add = [&](int fixed, Change change) {
                if (fixed != SOFT_ANY)
                    changes.push_back(change);
            };
            add(shape.lit, [](ShapedDraw& d) { d.context.draw.key.lit ^= 1; });
            add(shape.fog_mode, [](ShapedDraw& d) { d.context.draw.key.fog_mode = D3DFOG_EXP; });
            add(shape.fog_on_eye_depth,
                [](ShapedDraw& d) { d.context.draw.key.fog_on_eye_depth ^= 1; });
            add(shape.depth_write, [](ShapedDraw& d) { d.context.draw.key.depth_write ^= 1; });
            add(shape.depth_func,
                [](ShapedDraw& d) { d.context.draw.key.depth_func = D3DCMP_GREATER; });
            add(shape.src_blend,
                [](ShapedDraw& d) { d.context.draw.key.src_blend = D3DBLEND_DESTCOLOR; });
            add(shape.dst_blend,
                [](ShapedDraw& d) { d.context.draw.key.dst_blend = D3DBLEND_DESTCOLOR; });
            for (int s = 0; s < shape.stages; ++s) {
                const SoftStageShape& fixed = shape.stage[s];
                auto in_stage = [s](void (*change)(FfStage&, FfSampler&)) {
                    return Change([s, change](ShapedDraw& d) {
                        change(d.context.draw.key.stage[s], d.context.draw.sampler[s]);
                    });
                };
                add(fixed.colour_op,
                    in_stage([](FfStage& st, FfSampler&) { st.colour_op = D3DTOP_SELECTARG2; }));
                add(fixed.colour_arg1,
                    in_stage([](FfStage& st, FfSampler&) { st.colour_arg1 = D3DTA_DIFFUSE; }));
                add(fixed.colour_arg2,
                    in_stage([](FfStage& st, FfSampler&) { st.colour_arg2 = D3DTA_TFACTOR; }));
                add(fixed.alpha_op,
                    in_stage([](FfStage& st, FfSampler&) { st.alpha_op = D3DTOP_MODULATE; }));
                add(fixed.sampled, in_stage([](FfStage& st, FfSampler&) { st.sampled = 0; }));
                add(fixed.address_u,
                    in_stage([](FfStage&, FfSampler& sm) { sm.address_u = D3DTADDRESS_BORDER; }));
                add(fixed.address_v,
                    in_stage([](FfStage&, FfSampler& sm) { sm.address_v = D3DTADDRESS_MIRROR; }));
                add(fixed.mag_linear,
                    in_stage([](FfStage&, FfSampler& sm) { sm.mag_filter = D3DTEXF_POINT; }));
                add(fixed.min_linear, in_stage([](FfStage&, FfSampler& sm) {
                        sm.min_filter ^= D3DTEXF_POINT ^ D3DTEXF_LINEAR;
                    }));
                add(fixed.mip,
                    in_stage([](FfStage&, FfSampler& sm) { sm.mip_filter = D3DTEXF_NONE; }));
                add(fixed.has_alpha, in_stage([](FfStage&, FfSampler& sm) { sm.has_alpha = 0; }));
                add(fixed.unbiased, in_stage([](FfStage&, FfSampler& sm) { sm.lod_bias = -1.0f; }));
            }
            EXPECT_GT(changes.size(), 10u);
            for (size_t c = 0; c < changes.size(); ++c) {
                ShapedDraw changed(shape);
                changes[c](changed);
                EXPECT_NE(changed.raster(), kernel) << "shape " << i << ", change " << c;
            }
        }
    }
    soft_simd_use(soft_simd_best());
}

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
    IDirect3DTexture8* t = bind_texel(d, 0xFF0000);
    d.draw(D3DPT_TRIANGLEFAN, flat(0, 0, 32, 48, 0.5f), 2);
    set_texel(t, 0x00FF00); // through the texture
    d.draw(D3DPT_TRIANGLEFAN, flat(32, 0, 64, 48, 0.5f), 2);
    IDirect3DSurface8* level = nullptr;
    ASSERT_EQ(t->GetSurfaceLevel(0, &level), D3D_OK);
    D3DLOCKED_RECT lock;
    ASSERT_EQ(level->LockRect(&lock, nullptr, 0), D3D_OK); // through its surface
    *static_cast<uint32_t*>(lock.pBits) = 0x0000FF;
    level->UnlockRect();
    level->Release();
    d.draw(D3DPT_TRIANGLEFAN, flat(24, 20, 40, 28, 0.25f), 2);

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
    IDirect3DTexture8* t = bind_texel(d, 0xFFFFFF);
    d.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x000000, 1.0f, 0);
    d.draw(D3DPT_TRIANGLEFAN, flat(0, 0, 64, 24, 0.5f), 2); // the lower half, y up

    IDirect3DSurface8* back = nullptr;
    ASSERT_EQ(d.device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DLOCKED_RECT lock;
    ASSERT_EQ(back->LockRect(&lock, nullptr, D3DLOCK_READONLY), D3D_OK);
    const uint32_t* rows = static_cast<const uint32_t*>(lock.pBits);
    EXPECT_EQ(rows[40 * lock.Pitch / 4 + 5] & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(rows[5 * lock.Pitch / 4 + 5] & 0xFFFFFF, 0x000000u);
    back->UnlockRect();
    back->Release();

    // A colour clear keeps the depth the first draw left: a draw behind it
    // stays hidden, one in front shows.
    d.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x0000FF, 1.0f, 0);
    set_texel(t, 0x00FF00);
    d.draw(D3DPT_TRIANGLEFAN, flat(0, 0, 32, 48, 0.75f), 2);
    d.draw(D3DPT_TRIANGLEFAN, flat(32, 0, 64, 48, 0.25f), 2);
    std::vector<uint32_t> f = d.present();
    EXPECT_EQ(f[size_t(40 * 64 + 5)] & 0xFFFFFF, 0x0000FFu);  // behind the first draw
    EXPECT_EQ(f[size_t(5 * 64 + 5)] & 0xFFFFFF, 0x00FF00u);   // where there was none
    EXPECT_EQ(f[size_t(40 * 64 + 50)] & 0xFFFFFF, 0x00FF00u); // in front of it
    d.device->SetTexture(0, nullptr);
    t->Release();
}

// What the window was handed, frame by frame.
std::vector<std::vector<uint32_t>> g_shown;

void keep_shown(HWND, const uint32_t* pixels, int width, int height, int)
{
    g_shown.emplace_back(pixels, pixels + size_t(width) * size_t(height));
}

// Sets every texel of a 4 x 4 texture.
void fill(IDirect3DTexture8* t, uint32_t texel)
{
    D3DLOCKED_RECT lock;
    ASSERT_EQ(t->LockRect(0, &lock, nullptr, 0), D3D_OK);
    std::fill_n(static_cast<uint32_t*>(lock.pBits), 4 * 4, texel);
    t->UnlockRect(0);
}

TEST_P(SoftSceneOrder, TheWindowGetsEveryFrameWithTheTexelsItWasDrawnWith)
{
    // The texture is rewritten right after each Present, while the frame that
    // sampled it may still be rendering, and the next frame's draws sample it
    // at once; the frame in flight must keep what it saw. The texture is
    // filtered, so the draws read its stacked rows as well as its texels.
    const uint32_t colours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF};
    g_shown.clear();
    gfx_set_present_target(keep_shown);
    {
        Device d(GetParam(), 64, 48);
        setup_2d(d);
        IDirect3DTexture8* t = nullptr;
        ASSERT_EQ(d.device->CreateTexture(4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t),
                  D3D_OK);
        fill(t, colours[0]);
        d.device->SetTexture(0, t);
        d.device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
        d.device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
        for (int frame = 0; frame < 4; ++frame) {
            d.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
            for (int layer = 0; layer < 400; ++layer) // enough to keep the threads busy
                d.draw(D3DPT_TRIANGLEFAN, flat(0, 0, 64, 48, 0.5f), 2);
            d.device->Present(nullptr, nullptr, nullptr, nullptr);
            fill(t, colours[frame + 1]);
        }
        d.device->Present(nullptr, nullptr, nullptr, nullptr);
        d.device->SetTexture(0, nullptr);
        t->Release();
    }
    gfx_set_present_target(nullptr);
    ASSERT_GE(g_shown.size(), 4u);
    for (size_t frame = 0; frame < 4; ++frame)
        EXPECT_EQ(g_shown[frame][size_t(20 * 64 + 30)] & 0xFFFFFF, colours[frame])
            << "frame " << frame;
}

TEST_P(SoftSceneOrder, TheWindowGetsEveryFrameWithTheTransparencyItWasDrawnWith)
{
    // As above, with a texture blended by its alpha and no depth, which is
    // turned opaque and clear by turns: a block the renderer finds wholly
    // transparent is kept without being shaded, and the frame in flight must
    // decide that from the texels it saw, not from those of the next frame.
    const uint32_t background = 0x101010, opaque = 0xFF4080C0, clear = 0x00FFFFFF;
    g_shown.clear();
    gfx_set_present_target(keep_shown);
    {
        Device d(GetParam(), 64, 48);
        setup_2d(d);
        IDirect3DDevice8* dev = d.device;
        IDirect3DTexture8* t = nullptr;
        ASSERT_EQ(dev->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
        fill(t, opaque);
        dev->SetTexture(0, t);
        dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
        dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        dev->SetRenderState(D3DRS_ZENABLE, 0);
        dev->SetRenderState(D3DRS_ZWRITEENABLE, 0);
        for (int frame = 0; frame < 6; ++frame) {
            dev->Clear(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);
            for (int layer = 0; layer < 400; ++layer)
                d.draw(D3DPT_TRIANGLEFAN, flat(0, 0, 64, 48, 0.5f), 2);
            dev->Present(nullptr, nullptr, nullptr, nullptr);
            fill(t, frame % 2 ? opaque : clear);
        }
        dev->Present(nullptr, nullptr, nullptr, nullptr);
        dev->SetTexture(0, nullptr);
        t->Release();
    }
    gfx_set_present_target(nullptr);
    ASSERT_GE(g_shown.size(), 6u);
    for (size_t frame = 0; frame < 6; ++frame)
        EXPECT_EQ(g_shown[frame][size_t(20 * 64 + 30)] & 0xFFFFFF,
                  frame % 2 ? background : opaque & 0xFFFFFF)
            << "frame " << frame;
}

INSTANTIATE_TEST_SUITE_P(Devices, SoftSceneOrder, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Reference" : "Tiled");
                         });

TEST(SoftWorkers, RunEveryJobOnceInEveryBatch)
{
    for (int threads : {1, 2, 4}) {
        SoftWorkers workers(threads);
        EXPECT_EQ(workers.threads(), threads);
        for (int count : {0, 1, 3, 97, 5}) {
            std::vector<std::atomic<int>> runs(size_t(count) + 1);
            workers.run(
                count,
                [](void* user, int index) {
                    (*static_cast<std::vector<std::atomic<int>>*>(user))[size_t(index)]++;
                },
                &runs);
            for (int i = 0; i < count; ++i)
                EXPECT_EQ(runs[size_t(i)].load(), 1) << threads << " threads, job " << i;
            EXPECT_EQ(runs[size_t(count)].load(), 0);
        }
    }
}

} // namespace
