// Software devices. A device owns an X8R8G8B8 back buffer and a 16-bit
// depth buffer of the size given at creation (the device is never reset);
// the device front (gfx/device_front.h) checks the calls and keeps the bound
// state. The reference device sends every draw straight through the pipeline
// (soft_pipeline.cpp). The default device queues draws in its scene
// (soft_scene.cpp) and renders them tile by tile on its threads when the
// pixels are wanted: at Present, at a lock of the back buffer or of a texture
// the open frame's draws sample, and before a clear that would land on them.
// Present sends the frame to be rendered while the program goes on to the
// next, and hands the one before, finished, to the platform window; the
// reference device hands its frame over at once. Headless, the frame is
// kept for whoever asks for the pixels.
#include "gfx/soft/soft_device.h"

#include <cstddef>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "gfx/backend.h"
#include "gfx/device_front.h"
#include "gfx/soft/soft_internal.h"
#include "gfx/soft/soft_scene.h"

static SoftConfig s_config;
static bool s_config_ready = false;

static SoftConfig default_config()
{
    SoftConfig config = {};
    config.caps.DeviceType = D3DDEVTYPE_HAL;
    config.caps.AdapterOrdinal = D3DADAPTER_DEFAULT;
    config.caps.TextureCaps = D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_MIPMAP;
    config.caps.MaxTextureWidth = 2048;
    config.caps.MaxTextureHeight = 2048;
    config.caps.MaxTextureAspectRatio = 2048;
    config.caps.MaxAnisotropy = 16;
    config.caps.MaxPrimitiveCount = 0xFFFFF;
    config.caps.MaxVertexIndex = 0xFFFFF;
    config.refused_format[D3DFMT_R8G8B8] = true; // cards of the era had no 24-bit targets
    config.threads = 0;
    config.tile_size = 96; // measured best of 64, 96 and 128 at 640 x 480, no worse at 1080p
    return config;
}

SoftConfig& soft_config()
{
    if (!s_config_ready) {
        s_config = default_config();
        s_config_ready = true;
    }
    return s_config;
}

void soft_config_reset()
{
    s_config = default_config();
    s_config_ready = true;
}

void soft_set_threads(int count)
{
    soft_config().threads = count;
}

static bool format_refused(D3DFORMAT format)
{
    return format < 128 && soft_config().refused_format[format];
}

namespace
{

class SoftDevice final : public DeviceFront
{
  public:
    SoftDevice(IDirect3D8* d3d, HWND window, int width, int height, D3DFORMAT format,
               bool deferred);
    ~SoftDevice() override;

    // The last frame presented. The tiled device shows its back buffer
    // (unless it is R5G6B5), which holds the frame until the next is drawn.
    const uint32_t* presented(int* width, int* height)
    {
        *width = width_;
        *height = height_;
        if (!scene_)
            return presented_.data();
        scene_->finish();
        return format_ == D3DFMT_R5G6B5 ? presented_.data() : colour_.texels.data();
    }

  private:
    HRESULT make_texture(int width, int height, int levels, D3DFORMAT format, D3DPOOL pool,
                         IDirect3DTexture8** texture) override
    {
        SoftTexture* created = new (std::nothrow) SoftTexture(width, height, levels, format, pool);
        *texture = created;
        return created ? D3D_OK : E_OUTOFMEMORY;
    }
    // Read live, so a test may narrow them on a device it already has.
    const D3DCAPS8& caps() const override { return soft_config().caps; }
    IDirect3DSurface8* back_buffer() override { return &back_surface_; }
    void clear(DWORD flags, D3DCOLOR colour, float z) override;
    void present(HWND window) override;
    void draw(const FrontDraw& draw) override;

    static void show_frame(void* device, const uint32_t* pixels)
    {
        SoftDevice& d = *static_cast<SoftDevice*>(device);
        gfx_present_pixels(d.show_window_, pixels, d.width_, d.height_, d.width_ * 4);
    }

    SoftTarget target()
    {
        SoftTarget target;
        target.width = width_;
        target.height = height_;
        target.colour = colour_.texels.data();
        target.depth = depth_.data();
        return target;
    }

    TexelLevel colour_;
    std::vector<uint16_t> depth_;
    std::vector<uint32_t> presented_;
    HWND show_window_ = nullptr; // where the tiled device's frame in flight goes
    SoftScene* queue_ = nullptr; // the scene a lock of the back buffer renders first, if any
    SoftSurface back_surface_;
    std::unique_ptr<SoftScene> scene_; // null on the reference device
    SoftDrawContext context_;          // of the tiled device's last draw
};

class SoftDirect3D final : public Direct3DFront
{
  public:
    explicit SoftDirect3D(bool deferred) : deferred_(deferred) {}

  private:
    bool takes_texture(D3DFORMAT format) override { return !format_refused(format); }
    bool takes_target(D3DFORMAT colour, D3DFORMAT depth) override
    {
        bool known =
            colour == D3DFMT_X8R8G8B8 || colour == D3DFMT_R8G8B8 || colour == D3DFMT_R5G6B5;
        return known && !format_refused(colour) && !format_refused(depth);
    }
    HRESULT make_device(HWND window, int width, int height, D3DFORMAT format,
                        IDirect3DDevice8** device) override
    {
        *device = new (std::nothrow) SoftDevice(this, window, width, height, format, deferred_);
        return *device ? D3D_OK : D3DERR_OUTOFVIDEOMEMORY;
    }

    bool deferred_;
};

// The threads a deferred device renders with: as asked, or one per core.
static int thread_count()
{
    int asked = soft_config().threads;
    if (asked < 1)
        asked = int(std::thread::hardware_concurrency());
    return asked < 1 ? 1 : (asked > SOFT_MAX_THREADS ? SOFT_MAX_THREADS : asked);
}

SoftDevice::SoftDevice(IDirect3D8* d3d, HWND window, int width, int height, D3DFORMAT format,
                       bool deferred)
    : DeviceFront(d3d, window, width, height, format),
      back_surface_(this, &colour_, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &queue_)
{
    colour_.width = width;
    colour_.height = height;
    colour_.texels.assign(size_t(width) * size_t(height), 0xFF000000u);
    depth_.assign(size_t(width) * size_t(height), 0xFFFF);
    // The tiled device shows an X8R8G8B8 back buffer as it is; only the
    // reference device and an R5G6B5 target keep a presented frame apart.
    if (!deferred || format == D3DFMT_R5G6B5)
        presented_ = colour_.texels;
    if (deferred) {
        int tile = soft_config().tile_size;
        tile = tile < 2 ? 2 : tile & ~1; // whole 2 x 2 quads per tile
        scene_ = std::make_unique<SoftScene>(target(), tile, thread_count());
        scene_->set_show(show_frame, this);
        queue_ = scene_.get();
    }
}

SoftDevice::~SoftDevice()
{
    queue_ = nullptr;
    scene_.reset(); // what is still queued is never seen: drop it, and its textures
}

void SoftDevice::clear(DWORD flags, D3DCOLOR colour, float z)
{
    uint32_t pixel = colour | 0xFF000000u;
    uint16_t depth = static_cast<uint16_t>(z * 65535.0f + 0.5f);
    if (scene_) {
        scene_->clear((flags & D3DCLEAR_TARGET) != 0, pixel, (flags & D3DCLEAR_ZBUFFER) != 0,
                      depth);
        return;
    }
    if (flags & D3DCLEAR_TARGET)
        colour_.texels.assign(colour_.texels.size(), pixel);
    if (flags & D3DCLEAR_ZBUFFER)
        depth_.assign(depth_.size(), depth);
}

void SoftDevice::present(HWND window)
{
    bool r5g6b5 = format_ == D3DFMT_R5G6B5;
    if (scene_) {
        // The frame is rendered while the program makes the next one, and
        // goes to the window when it is done and the device next waits for
        // it (at the next Present at the latest): the window shows each
        // frame one Present late, as a driver's queue would.
        scene_->finish();
        show_window_ = window;
        scene_->submit(true, r5g6b5 ? presented_.data() : nullptr);
        return;
    }
    presented_ = colour_.texels;
    if (r5g6b5) {
        for (uint32_t& pixel : presented_)
            pixel = soft_quantise_r5g6b5(pixel);
    }
    gfx_present_pixels(window, presented_.data(), width_, height_, width_ * 4);
}

void SoftDevice::draw(const FrontDraw& draw)
{
    if (!scene_) {
        soft_draw(state(), target(), draw);
        return;
    }
    if (draw.described_anew)
        soft_prepare_context(state(), *draw.described, target(), &context_);
    scene_->add_draw(state(), context_, draw);
}

} // namespace

IDirect3D8* soft_create_direct3d()
{
    return new (std::nothrow) SoftDirect3D(true);
}

IDirect3D8* soft_create_reference_direct3d()
{
    return new (std::nothrow) SoftDirect3D(false);
}

const uint32_t* soft_device_pixels(IDirect3DDevice8* device, int* width, int* height)
{
    SoftDevice* soft = dynamic_cast<SoftDevice*>(device);
    return soft ? soft->presented(width, height) : nullptr;
}
