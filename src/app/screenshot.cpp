// Screenshots. The back buffer is read through the device interface, so any
// backend that can lock its back buffer can be photographed.
#include "app/screenshot.h"

#include <cstdio>
#include <filesystem>

#include "res/png_write.h"

int screenshot_write(IDirect3DDevice8* device, const char* path, bool exclusive)
{
    if (!device)
        return 0;
    IDirect3DSurface8* surface = nullptr;
    if (FAILED(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &surface)))
        return 0;
    D3DSURFACE_DESC desc;
    D3DLOCKED_RECT lock;
    int ok = 0;
    if (SUCCEEDED(surface->GetDesc(&desc)) &&
        SUCCEEDED(surface->LockRect(&lock, nullptr, D3DLOCK_READONLY))) {
        ok = png_write(path, static_cast<const uint32_t*>(lock.pBits), int(desc.Width),
                       int(desc.Height), lock.Pitch, false, exclusive);
        surface->UnlockRect();
    }
    surface->Release();
    return ok;
}

int screenshot_write_next(IDirect3DDevice8* device, char* path, int path_size)
{
    for (int n = 1; n <= 9999; ++n) {
        std::snprintf(path, size_t(path_size), "storm-%04d.png", n);
        std::error_code error;
        if (std::filesystem::exists(path, error))
            continue;
        // Exclusive creation: a file that appeared meanwhile is left alone.
        if (screenshot_write(device, path, true))
            return 1;
        if (!std::filesystem::exists(path, error))
            return 0; // failed for another reason than the name
    }
    return 0;
}
