// Software reference device. Owns an X8R8G8B8 back buffer and a 16-bit depth
// buffer of the size given at creation; they never change size, as the device
// is never reset. Present hands the back buffer to the platform window (or,
// headless, just keeps it) and remembers it as the last shown frame.
#include "gfx/soft/soft_device.h"

#include <cstddef>
#include <new>
#include <vector>

namespace {

class SoftDevice final : public IDirect3DDevice8 {
public:
    SoftDevice(HWND window, int width, int height)
        : window_(window), width_(width), height_(height),
          colour_(std::size_t(width) * std::size_t(height), 0xFF000000u),
          depth_(std::size_t(width) * std::size_t(height), 0xFFFF)
    {
    }

    DWORD AddRef() override { return ++refs_; }
    DWORD Release() override
    {
        DWORD left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD) override
    {
        if (count != 0 || rects)
            return D3DERR_INVALIDCALL; // the program only clears whole targets
        if (flags & D3DCLEAR_TARGET)
            colour_.assign(colour_.size(), color | 0xFF000000u);
        if (flags & D3DCLEAR_ZBUFFER) {
            float clamped = z < 0.0f ? 0.0f : (z > 1.0f ? 1.0f : z);
            depth_.assign(depth_.size(), static_cast<uint16_t>(clamped * 65535.0f + 0.5f));
        }
        return D3D_OK;
    }

    HRESULT BeginScene() override
    {
        if (in_scene_)
            return D3DERR_INVALIDCALL;
        in_scene_ = true;
        return D3D_OK;
    }

    HRESULT EndScene() override
    {
        if (!in_scene_)
            return D3DERR_INVALIDCALL;
        in_scene_ = false;
        return D3D_OK;
    }

    HRESULT Present(const RECT*, const RECT*, HWND override_window, const RGNDATA*) override
    {
        HWND target = override_window ? override_window : window_;
        sys_present_pixels(target, colour_.data(), width_, height_, width_ * 4);
        return D3D_OK;
    }

    const uint32_t* pixels(int* width, int* height) const
    {
        *width = width_;
        *height = height_;
        return colour_.data();
    }

private:
    DWORD refs_ = 1;
    HWND window_;
    int width_;
    int height_;
    bool in_scene_ = false;
    std::vector<uint32_t> colour_;
    std::vector<uint16_t> depth_;
};

class SoftDirect3D final : public IDirect3D8 {
public:
    DWORD AddRef() override { return ++refs_; }
    DWORD Release() override
    {
        DWORD left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override
    {
        if (adapter != D3DADAPTER_DEFAULT || !mode)
            return D3DERR_INVALIDCALL;
        *mode = D3DDISPLAYMODE{1920, 1080, 60, D3DFMT_X8R8G8B8};
        return D3D_OK;
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE, HWND focus_window, DWORD,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** device) override
    {
        if (!device)
            return D3DERR_INVALIDCALL;
        *device = nullptr;
        if (adapter != D3DADAPTER_DEFAULT || !params)
            return D3DERR_INVALIDCALL;
        if (params->BackBufferFormat != D3DFMT_X8R8G8B8)
            return D3DERR_NOTAVAILABLE;
        // Keep the buffers to sizes whose byte counts fit comfortably.
        if (params->BackBufferWidth < 1 || params->BackBufferHeight < 1 ||
            params->BackBufferWidth > 16384 || params->BackBufferHeight > 16384)
            return D3DERR_INVALIDCALL;
        HWND window = params->hDeviceWindow ? params->hDeviceWindow : focus_window;
        SoftDevice* created = new (std::nothrow)
            SoftDevice(window, int(params->BackBufferWidth), int(params->BackBufferHeight));
        if (!created)
            return D3DERR_OUTOFVIDEOMEMORY;
        *device = created;
        return D3D_OK;
    }

private:
    DWORD refs_ = 1;
};

} // namespace

IDirect3D8* soft_create_direct3d()
{
    return new (std::nothrow) SoftDirect3D;
}

const uint32_t* soft_device_pixels(IDirect3DDevice8* device, int* width, int* height)
{
    SoftDevice* soft = dynamic_cast<SoftDevice*>(device);
    return soft ? soft->pixels(width, height) : nullptr;
}
