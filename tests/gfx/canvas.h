// Drawing through the device interface alone, for the tests that hold one
// backend to another: a device of any backend with a depth buffer, textures
// filled from a function, one vertex buffer that every draw goes through
// (locked again while earlier draws may still be queued), and the back
// buffer read back top row first.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "gfx/d3d8.h"
#include "gfx/math3d.h"

using Texel = std::function<uint32_t(int level, int x, int y)>;

// A texel of no pattern a sampling fault could hide behind, different for
// every seed.
inline uint32_t hashed_texel(int seed, int x, int y)
{
    return uint32_t(x * 37 + y * 11 + seed * 101) * 2654435761u;
}

inline Vertex at(float x, float y, float z = 1.0f, float u = 0, float v = 0)
{
    return Vertex{{x, y, z}, u, v, 0, 0};
}

struct Canvas {
    IDirect3DDevice8* device = nullptr;
    int width, height;
    IDirect3DVertexBuffer8* buffer = nullptr;
    UINT capacity = 4096; // vertices
    std::vector<IUnknown8*> owned;
    IDirect3D8* d3d_owned; // released last, when the canvas made it

    // On `d3d`, which the canvas releases when `own` is set.
    Canvas(IDirect3D8* d3d, int w, int h, D3DFORMAT format = D3DFMT_X8R8G8B8, HWND window = nullptr,
           bool own = false)
        : width(w), height(h), d3d_owned(own ? d3d : nullptr)
    {
        D3DPRESENT_PARAMETERS params = {};
        params.BackBufferWidth = UINT(w);
        params.BackBufferHeight = UINT(h);
        params.BackBufferFormat = format;
        params.BackBufferCount = 1;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.Windowed = 1;
        params.EnableAutoDepthStencil = 1;
        params.AutoDepthStencilFormat = D3DFMT_D16;
        EXPECT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                    D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device),
                  D3D_OK);
    }
    ~Canvas()
    {
        for (IUnknown8* object : owned)
            object->Release();
        if (buffer)
            buffer->Release();
        if (device)
            device->Release();
        if (d3d_owned)
            d3d_owned->Release();
    }

    // A texture of `levels` (0: the whole chain) whose every level is filled.
    IDirect3DTexture8* texture(int w, int h, int levels, const Texel& texel,
                               D3DFORMAT format = D3DFMT_A8R8G8B8)
    {
        IDirect3DTexture8* t = nullptr;
        EXPECT_EQ(
            device->CreateTexture(UINT(w), UINT(h), UINT(levels), 0, format, D3DPOOL_MANAGED, &t),
            D3D_OK);
        if (!t)
            return nullptr;
        for (DWORD level = 0; level < t->GetLevelCount(); ++level)
            fill(t, level, texel);
        owned.push_back(t);
        return t;
    }
    // A 1 x 1 texture of `colour` on stage 0, which shows it alone.
    IDirect3DTexture8* solid(uint32_t colour)
    {
        IDirect3DTexture8* t = texture(1, 1, 1, [colour](int, int, int) { return colour; });
        device->SetTexture(0, t);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        return t;
    }

    static void fill(IDirect3DTexture8* t, DWORD level, const Texel& texel)
    {
        D3DSURFACE_DESC desc;
        D3DLOCKED_RECT lock;
        ASSERT_EQ(t->GetLevelDesc(level, &desc), D3D_OK);
        ASSERT_EQ(t->LockRect(level, &lock, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < desc.Height; ++y)
            for (UINT x = 0; x < desc.Width; ++x)
                reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lock.pBits) +
                                            size_t(y) * size_t(lock.Pitch))[x] =
                    texel(int(level), int(x), int(y));
        t->UnlockRect(level);
    }

    // Draws `count` primitives (by default every whole one the vertices make).
    void draw(D3DPRIMITIVETYPE type, const std::vector<Vertex>& vertices, int count = -1)
    {
        if (!buffer || vertices.size() > capacity) {
            if (buffer)
                buffer->Release();
            capacity = std::max(capacity, UINT(vertices.size()));
            ASSERT_EQ(device->CreateVertexBuffer(capacity * UINT(sizeof(Vertex)), 0, VERTEX_FVF,
                                                 D3DPOOL_DEFAULT, &buffer),
                      D3D_OK);
        }
        BYTE* data = nullptr;
        ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, vertices.data(), vertices.size() * sizeof(Vertex));
        buffer->Unlock();
        device->SetStreamSource(0, buffer, sizeof(Vertex));
        device->SetVertexShader(VERTEX_FVF);
        if (count < 0)
            count = int(type == D3DPT_TRIANGLELIST ? vertices.size() / 3 : vertices.size() - 2);
        EXPECT_EQ(device->DrawPrimitive(type, 0, UINT(count)), D3D_OK);
    }

    // The 2D pass's set-up: one unit per pixel, origin bottom-left, depth 0..2.
    void ortho()
    {
        Matrix m;
        device->SetTransform(D3DTS_VIEW, mat_translation(&m, 0, 0, 0));
        device->SetTransform(D3DTS_PROJECTION, mat_ortho_lh(&m, float(width), float(height), 0, 2));
        device->SetTransform(D3DTS_WORLD, mat_translation(&m, -width / 2.0f, -height / 2.0f, 0));
    }
    // Identity world and view, and a perspective of `fov` looking down +z.
    void perspective(float fov, float near = 0.1f, float far = 100.0f)
    {
        Matrix m;
        device->SetTransform(D3DTS_WORLD, mat_translation(&m, 0, 0, 0));
        device->SetTransform(D3DTS_VIEW, &m);
        mat_perspective_fov_lh(&m, fov, float(width) / float(height), near, far);
        device->SetTransform(D3DTS_PROJECTION, &m);
    }

    // A quad in 2D units from (x0, y0) to (x1, y1) with both coordinate sets
    // running from (s0, t0) to (s1, t1).
    void quad2d(float x0, float y0, float x1, float y1, float s0, float t0, float s1, float t1,
                float z = 1.0f)
    {
        draw(D3DPT_TRIANGLEFAN, {{{x0, y0, z}, s0, t0, s0, t0},
                                 {{x1, y0, z}, s1, t0, s1, t0},
                                 {{x1, y1, z}, s1, t1, s1, t1},
                                 {{x0, y1, z}, s0, t1, s0, t1}});
    }

    // The back buffer, top row first.
    std::vector<uint32_t> back_buffer()
    {
        std::vector<uint32_t> pixels;
        IDirect3DSurface8* back = nullptr;
        D3DLOCKED_RECT lock;
        if (device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back) == D3D_OK &&
            back->LockRect(&lock, nullptr, D3DLOCK_READONLY) == D3D_OK) {
            for (int y = 0; y < height; ++y) {
                const auto* row = reinterpret_cast<const uint32_t*>(
                    static_cast<const uint8_t*>(lock.pBits) + size_t(y) * size_t(lock.Pitch));
                pixels.insert(pixels.end(), row, row + width);
            }
            back->UnlockRect();
        }
        if (back)
            back->Release();
        return pixels;
    }
};

// One frame of `draw` on a fresh device of `d3d`, over `clear`: the back
// buffer after Present, top row first.
inline std::vector<uint32_t> render_frame(IDirect3D8* d3d, int width, int height,
                                          const std::function<void(Canvas&)>& draw, D3DCOLOR clear,
                                          HWND window = nullptr)
{
    Canvas canvas(d3d, width, height, D3DFMT_X8R8G8B8, window);
    if (!canvas.device)
        return {};
    canvas.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
    canvas.device->BeginScene();
    draw(canvas);
    canvas.device->EndScene();
    canvas.device->Present(nullptr, nullptr, nullptr, nullptr);
    return canvas.back_buffer();
}
