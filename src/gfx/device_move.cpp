// Moving the program to a new device when its device is lost for good (an
// OpenGL context that went and never came back): a device is made on the
// selected backend, and what the program made on the old one comes along:
// every texture of the table with all its levels, the states and the
// transforms. The scene never notices: its slots, states and camera stay.
#include <cstring>
#include <initializer_list>

#include "base/log.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "gfx/texture.h"

// Copies every level of `from` into `to`, which has the same sizes and format.
static bool copy_levels(IDirect3DTexture8* from, IDirect3DTexture8* to)
{
    for (DWORD level = 0; level < from->GetLevelCount(); ++level) {
        D3DSURFACE_DESC desc;
        if (FAILED(from->GetLevelDesc(level, &desc)))
            return false;
        D3DLOCKED_RECT source, target;
        if (FAILED(from->LockRect(level, &source, nullptr, D3DLOCK_READONLY)))
            return false;
        if (FAILED(to->LockRect(level, &target, nullptr, 0))) {
            from->UnlockRect(level);
            return false;
        }
        size_t row = size_t(desc.Width) * (desc.Format == D3DFMT_R5G6B5 ? 2 : 4);
        for (UINT y = 0; y < desc.Height; ++y)
            std::memcpy(
                static_cast<uint8_t*>(target.pBits) + size_t(y) * size_t(target.Pitch),
                static_cast<const uint8_t*>(source.pBits) + size_t(y) * size_t(source.Pitch), row);
        to->UnlockRect(level);
        from->UnlockRect(level);
    }
    return true;
}

// A copy of `texture` on `device`, or null.
static IDirect3DTexture8* copy_texture(IDirect3DTexture8* texture, IDirect3DDevice8* device)
{
    D3DSURFACE_DESC desc;
    if (FAILED(texture->GetLevelDesc(0, &desc)))
        return nullptr;
    IDirect3DTexture8* copy = nullptr;
    if (FAILED(device->CreateTexture(desc.Width, desc.Height, texture->GetLevelCount(), 0,
                                     desc.Format, D3DPOOL_MANAGED, &copy)))
        return nullptr;
    if (!copy_levels(texture, copy)) {
        copy->Release();
        return nullptr;
    }
    return copy;
}

static void copy_states(IDirect3DDevice8* from, IDirect3DDevice8* to)
{
    for (DWORD state = 0; state < D3D_RENDER_STATE_COUNT; ++state) {
        DWORD value;
        if (SUCCEEDED(from->GetRenderState(D3DRENDERSTATETYPE(state), &value)))
            to->SetRenderState(D3DRENDERSTATETYPE(state), value);
    }
    for (DWORD stage = 0; stage < D3D_MAX_TEXTURE_STAGES; ++stage) {
        for (DWORD type = 0; type < D3D_STAGE_STATE_COUNT; ++type) {
            DWORD value;
            auto t = D3DTEXTURESTAGESTATETYPE(type);
            if (SUCCEEDED(from->GetTextureStageState(stage, t, &value)))
                to->SetTextureStageState(stage, t, value);
        }
    }
    for (D3DTRANSFORMSTATETYPE t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION}) {
        D3DMATRIX matrix;
        if (SUCCEEDED(from->GetTransform(t, &matrix)))
            to->SetTransform(t, &matrix);
    }
}

int _gfx_move_device(int width, int height, int fullscreen)
{
    IDirect3D8* old_d3d = g_d3d;
    IDirect3DDevice8* old_device = g_device;
    g_d3d = nullptr;
    g_device = nullptr;
    if (!_gfx_init(width, height, fullscreen)) {
        _gfx_deinit();
        g_d3d = old_d3d;
        g_device = old_device;
        return 0;
    }
    if (old_device) {
        copy_states(old_device, g_device);
        int lost = 0;
        for (TextureSlot& slot : g_textures) {
            if (!slot.texture)
                continue;
            IDirect3DTexture8* copy = copy_texture(slot.texture, g_device);
            slot.texture->Release();
            slot.texture = copy;
            lost += copy ? 0 : 1;
        }
        if (lost)
            log_printf("%d textures could not be moved to the new device", lost);
    }
    _r_init(); // the vertex buffer, on the new device
    if (old_device)
        old_device->Release();
    if (old_d3d)
        old_d3d->Release();
    return 1;
}
