// Terrain. Owns the height grid (256 x 256 samples, one per world unit,
// repeating every 256 units) and the four texture slots of the ground. Each
// frame a 40 x 40-cell patch around the camera's cell is drawn, cell by
// cell, with a tiling detail texture on stage 0 and the lightmap on stage 1.
// The heights come from the blue byte of "data/hf" read as a signed value;
// terrain_height answers exactly on the drawn triangles, so whatever rides
// on the ground stays on it.
//
// A missing or wrongly sized height image leaves the ground flat at 0, and
// the lightmap is refreshed only from a light image of its own size: the
// terrain never reads outside a locked surface.
#include <cmath>
#include <cstring>

#include "gfx/device.h"
#include "gfx/renderer.h"
#include "gfx/texture.h"
#include "scene/storm.h"

float g_heights[TERRAIN_GRID * TERRAIN_GRID];
static float s_terrain_size = 40.0f;
int g_tex_floor = -1, g_tex_hf = -1, g_tex_hflight = -1, g_tex_lightmap = -1;

static Vertex s_cell[6];

// The slot's texture when its level 0 is exactly width x height, else null.
static IDirect3DTexture8* texture_of_size(int slot, UINT width, UINT height)
{
    if (slot < 0 || slot >= TEXTURE_SLOT_COUNT || !g_textures[slot].texture)
        return nullptr;
    D3DSURFACE_DESC desc;
    IDirect3DTexture8* texture = g_textures[slot].texture;
    if (FAILED(texture->GetLevelDesc(0, &desc)) || desc.Width != width || desc.Height != height)
        return nullptr;
    return texture;
}

static void read_heights()
{
    std::memset(g_heights, 0, sizeof g_heights);
    IDirect3DTexture8* image = texture_of_size(g_tex_hf, TERRAIN_GRID, TERRAIN_GRID);
    D3DLOCKED_RECT lock;
    if (!image || FAILED(image->LockRect(0, &lock, nullptr, 0)))
        return; // no usable height image: a flat world at height 0
    const uint8_t* bits = static_cast<const uint8_t*>(lock.pBits);
    for (int column = 0; column < TERRAIN_GRID; ++column) {
        for (int row = 0; row < TERRAIN_GRID; ++row) {
            int8_t b = static_cast<int8_t>(bits[row * lock.Pitch + column * 4]);
            g_heights[column + row * TERRAIN_GRID] = float(b) / 256.0f * 16.0f - 4.0f;
        }
    }
    image->UnlockRect(0);
}

void terrain_init()
{
    g_tex_floor = tex_get("textures/floor");
    g_tex_hf = tex_get("data/hf");
    g_tex_hflight = tex_get("data/hflight");
    g_tex_lightmap = tex_create_named(TERRAIN_GRID, TERRAIN_GRID, "*lightmap1");
    read_heights();
}

// Copies the light image into the lightmap and rebuilds its mip chain. Runs
// every frame: the lightmap is the scene's one texture refreshed each frame.
static void refresh_lightmap()
{
    if (g_tex_lightmap < 0 || !g_textures[g_tex_lightmap].texture)
        return;
    IDirect3DTexture8* lightmap = g_textures[g_tex_lightmap].texture;
    D3DSURFACE_DESC desc;
    if (FAILED(lightmap->GetLevelDesc(0, &desc)))
        return;
    IDirect3DTexture8* light = texture_of_size(g_tex_hflight, desc.Width, desc.Height);
    if (!light)
        return;
    D3DLOCKED_RECT from, to;
    if (FAILED(light->LockRect(0, &from, nullptr, 0)))
        return;
    if (SUCCEEDED(lightmap->LockRect(0, &to, nullptr, 0))) {
        size_t row_bytes = size_t(desc.Width) * 4;
        if (from.Pitch == to.Pitch) {
            std::memcpy(to.pBits, from.pBits, size_t(to.Pitch) * desc.Height);
        } else {
            for (UINT y = 0; y < desc.Height; ++y)
                std::memcpy(static_cast<uint8_t*>(to.pBits) + size_t(y) * size_t(to.Pitch),
                            static_cast<const uint8_t*>(from.pBits) +
                                size_t(y) * size_t(from.Pitch),
                            row_bytes);
        }
        lightmap->UnlockRect(0);
    }
    light->UnlockRect(0);
    tex_update_mips(g_tex_lightmap);
}

static float height_at(int column, int row)
{
    return g_heights[(column & 255) + (row & 255) * TERRAIN_GRID];
}

void terrain_draw()
{
    int cx = static_cast<int>(g_cam_pos.x); // toward zero, as the grid was laid out
    int cz = static_cast<int>(g_cam_pos.z);

    g_device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    g_device->SetRenderState(D3DRS_FOGENABLE, 1);
    g_device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    g_device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    g_device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    g_device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
    g_device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    g_device->SetRenderState(D3DRS_ZWRITEENABLE, 1);

    refresh_lightmap();
    r_bind_texture(g_tex_lightmap, 1);
    r_bind_texture(g_tex_floor, 0);

    const int half = static_cast<int>(s_terrain_size / 2.0f);
    for (int i = -half; i < half; ++i) {
        for (int j = -half; j < half; ++j) {
            int gx = i + cx, gz = j + cz;
            int c0 = gx + 128, r0 = gz + 128;
            float h00 = height_at(c0, r0), h10 = height_at(c0 + 1, r0);
            float h11 = height_at(c0 + 1, r0 + 1), h01 = height_at(c0, r0 + 1);
            float u0 = float(gx) * 0.4f, u1 = float(gx + 1) * 0.4f;
            float v0 = float(gz) * 0.4f, v1 = float(gz + 1) * 0.4f;
            float l0 = float(gx + 128) / 256.0f, l1 = float(gx + 129) / 256.0f;
            float m0 = float(gz + 128) / 256.0f, m1 = float(gz + 129) / 256.0f;
            float x0 = float(i) + float(cx), x1 = float(i + 1) + float(cx);
            float z0 = float(j) + float(cz), z1 = float(j + 1) + float(cz);
            vertex_set(&s_cell[0], x0, h00, z0, u0, v0, l0, m0);
            vertex_set(&s_cell[1], x1, h10, z0, u1, v0, l1, m0);
            vertex_set(&s_cell[2], x1, h11, z1, u1, v1, l1, m1);
            s_cell[3] = s_cell[0];
            s_cell[4] = s_cell[2];
            vertex_set(&s_cell[5], x0, h01, z1, u0, v1, l0, m1);
            r_draw_vertices(s_cell, 6, D3DPT_TRIANGLELIST);
        }
    }
}

float terrain_height(float x, float z)
{
    // The camera never strays far; refuse what an int could not hold.
    if (!(x > -1e6f && x < 1e6f && z > -1e6f && z < 1e6f))
        return 0.0f;
    // Rounding down rather than toward zero: the same inside the world
    // (x + 128 >= 0), and the grid still repeats beyond it.
    int ix = static_cast<int>(std::floor(x + 128.0f)),
        iz = static_cast<int>(std::floor(z + 128.0f));
    float fx = (x + 128.0f) - float(ix), fz = (z + 128.0f) - float(iz);
    float h00 = height_at(ix, iz), h10 = height_at(ix + 1, iz);
    float h11 = height_at(ix + 1, iz + 1), h01 = height_at(ix, iz + 1);
    float dx, dz;
    if (fx > fz) {
        dx = h10 - h00;
        dz = h11 - h10;
    } else {
        dx = h11 - h01;
        dz = h01 - h00;
    }
    return h00 + fx * dx + fz * dz;
}
