// Software devices. A device owns an X8R8G8B8 back buffer and a 16-bit
// depth buffer of the size given at creation (the device is never reset),
// the current pipeline state, and the objects it created. The reference
// device sends every draw straight through the pipeline (soft_pipeline.cpp)
// with a snapshot of the state. The default device queues draws in its scene
// (soft_scene.cpp) and renders them tile by tile on its threads when the
// pixels are wanted: at Present, at a lock of the back buffer or of a texture
// the open frame's draws sample, and before a clear that would land on them.
// Present sends the frame to be rendered while the program goes on to the
// next, and hands the one before, finished, to the platform window; the
// reference device hands its frame over at once. Headless, the frame is
// kept for whoever asks for the pixels.
#include "gfx/soft/soft_device.h"

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "gfx/backend.h"
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

class SoftDirect3D;

class SoftDevice final : public RefCounted<IDirect3DDevice8>
{
  public:
    SoftDevice(SoftDirect3D* d3d, HWND window, int width, int height, D3DFORMAT format,
               bool deferred);
    ~SoftDevice() override;

    HRESULT GetDirect3D(IDirect3D8** d3d) override;
    HRESULT GetDeviceCaps(D3DCAPS8* caps) override
    {
        if (!caps)
            return D3DERR_INVALIDCALL;
        *caps = soft_config().caps;
        return D3D_OK;
    }
    HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) override
    {
        if (!mode)
            return D3DERR_INVALIDCALL;
        *mode = D3DDISPLAYMODE{UINT(width_), UINT(height_), 60, format_};
        return D3D_OK;
    }

    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, IDirect3DTexture8** texture) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer8** buffer) override;
    HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type,
                          IDirect3DSurface8** surface) override;

    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present(const RECT* source, const RECT* dest, HWND override_window,
                    const RGNDATA* dirty) override;

    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT SetTexture(DWORD stage, IDirect3DTexture8* texture) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) override;
    HRESULT SetVertexShader(DWORD handle) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start_vertex, UINT primitive_count) override;

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

    SoftDirect3D* d3d_;
    HWND window_;
    int width_;
    int height_;
    D3DFORMAT format_;
    bool in_scene_ = false;
    TexelLevel colour_;
    std::vector<uint16_t> depth_;
    std::vector<uint32_t> presented_;
    HWND show_window_ = nullptr; // where the tiled device's frame in flight goes
    SoftScene* queue_ = nullptr; // the scene a lock of the back buffer renders first, if any
    SoftSurface back_surface_;
    SoftState state_;
    // The states described for the tiled device's draws, again only after a
    // state changes: the terrain alone makes 1600 draws a frame under one.
    SoftDrawContext described_;
    bool described_stale_ = true;
    std::unique_ptr<SoftScene> scene_; // null on the reference device
};

class SoftDirect3D final : public RefCounted<IDirect3D8>
{
  public:
    explicit SoftDirect3D(bool deferred) : deferred_(deferred) {}

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override
    {
        if (adapter != D3DADAPTER_DEFAULT || !mode)
            return D3DERR_INVALIDCALL;
        *mode = D3DDISPLAYMODE{1920, 1080, 60, D3DFMT_X8R8G8B8};
        return D3D_OK;
    }

    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE, D3DFORMAT, DWORD usage,
                              D3DRESOURCETYPE resource_type, D3DFORMAT format) override
    {
        if (adapter != D3DADAPTER_DEFAULT)
            return D3DERR_INVALIDCALL;
        if (resource_type != D3DRTYPE_TEXTURE || usage != 0 || format_refused(format))
            return D3DERR_NOTAVAILABLE;
        return format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8 ? D3D_OK
                                                                      : D3DERR_NOTAVAILABLE;
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE, HWND focus_window, DWORD,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** device) override
    {
        if (!device)
            return D3DERR_INVALIDCALL;
        *device = nullptr;
        if (adapter != D3DADAPTER_DEFAULT || !params)
            return D3DERR_INVALIDCALL;
        D3DFORMAT format = params->BackBufferFormat;
        bool known =
            format == D3DFMT_X8R8G8B8 || format == D3DFMT_R8G8B8 || format == D3DFMT_R5G6B5;
        if (!known || format_refused(format) || format_refused(params->AutoDepthStencilFormat))
            return D3DERR_NOTAVAILABLE;
        // Keep the buffers to sizes whose byte counts fit comfortably.
        if (params->BackBufferWidth < 1 || params->BackBufferHeight < 1 ||
            params->BackBufferWidth > 16384 || params->BackBufferHeight > 16384)
            return D3DERR_INVALIDCALL;
        HWND window = params->hDeviceWindow ? params->hDeviceWindow : focus_window;
        SoftDevice* created =
            new (std::nothrow) SoftDevice(this, window, int(params->BackBufferWidth),
                                          int(params->BackBufferHeight), format, deferred_);
        if (!created)
            return D3DERR_OUTOFVIDEOMEMORY;
        *device = created;
        return D3D_OK;
    }

  private:
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

SoftDevice::SoftDevice(SoftDirect3D* d3d, HWND window, int width, int height, D3DFORMAT format,
                       bool deferred)
    : d3d_(d3d), window_(window), width_(width), height_(height), format_(format),
      back_surface_(this, &colour_, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &queue_)
{
    d3d_->AddRef(); // a device keeps its Direct3D object alive
    colour_.width = width;
    colour_.height = height;
    colour_.texels.assign(size_t(width) * size_t(height), 0xFF000000u);
    depth_.assign(size_t(width) * size_t(height), 0xFFFF);
    // The tiled device shows an X8R8G8B8 back buffer as it is; only the
    // reference device and an R5G6B5 target keep a presented frame apart.
    if (!deferred || format == D3DFMT_R5G6B5)
        presented_ = colour_.texels;
    state_ = SoftState{};
    ff_state_defaults(&state_.ff);
    for (Matrix* m : {&state_.world, &state_.view, &state_.proj})
        mat_translation(m, 0.0f, 0.0f, 0.0f);
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

    for (SoftTexture*& texture : state_.texture) {
        if (texture)
            texture->Release();
    }
    if (state_.stream)
        state_.stream->Release();
    d3d_->Release();
}

HRESULT SoftDevice::GetDirect3D(IDirect3D8** d3d)
{
    if (!d3d)
        return D3DERR_INVALIDCALL;
    d3d_->AddRef();
    *d3d = d3d_;
    return D3D_OK;
}

HRESULT SoftDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                                  D3DFORMAT format, D3DPOOL pool, IDirect3DTexture8** texture)
{
    if (!texture)
        return D3DERR_INVALIDCALL;
    *texture = nullptr;
    const D3DCAPS8& caps = soft_config().caps;
    if (width < 1 || height < 1 || width > caps.MaxTextureWidth || height > caps.MaxTextureHeight ||
        usage != 0 || pool > D3DPOOL_SYSTEMMEM)
        return D3DERR_INVALIDCALL;
    if ((format != D3DFMT_A8R8G8B8 && format != D3DFMT_X8R8G8B8) || format_refused(format))
        return D3DERR_INVALIDCALL;
    UINT full = 1;
    for (UINT size = width > height ? width : height; size > 1; size /= 2)
        ++full;
    if (!(caps.TextureCaps & D3DPTEXTURECAPS_MIPMAP))
        full = 1;
    if (levels == 0 || levels > full)
        levels = full;
    SoftTexture* created =
        new (std::nothrow) SoftTexture(int(width), int(height), int(levels), format, pool);
    if (!created)
        return E_OUTOFMEMORY;
    *texture = created;
    return D3D_OK;
}

HRESULT SoftDevice::CreateVertexBuffer(UINT length, DWORD, DWORD, D3DPOOL pool,
                                       IDirect3DVertexBuffer8** buffer)
{
    if (!buffer)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    // A bound on what one buffer may take, far above what the renderer needs.
    if (length == 0 || length > (256u << 20) || pool > D3DPOOL_SYSTEMMEM)
        return D3DERR_INVALIDCALL;
    BYTE* bytes = static_cast<BYTE*>(std::calloc(length, 1));
    SoftVertexBuffer* created =
        bytes ? new (std::nothrow) SoftVertexBuffer(bytes, length) : nullptr;
    if (!created) {
        std::free(bytes);
        return E_OUTOFMEMORY;
    }
    *buffer = created;
    return D3D_OK;
}

HRESULT SoftDevice::GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface8** surface)
{
    if (!surface)
        return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (index != 0)
        return D3DERR_INVALIDCALL;
    back_surface_.AddRef();
    *surface = &back_surface_;
    return D3D_OK;
}

HRESULT SoftDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                          DWORD)
{
    if (count != 0 || rects)
        return D3DERR_INVALIDCALL; // the program only clears whole targets
    uint32_t colour = color | 0xFF000000u;
    float clamped = z < 0.0f ? 0.0f : (z > 1.0f ? 1.0f : z);
    uint16_t depth = static_cast<uint16_t>(clamped * 65535.0f + 0.5f);
    if (scene_) {
        scene_->clear((flags & D3DCLEAR_TARGET) != 0, colour, (flags & D3DCLEAR_ZBUFFER) != 0,
                      depth);
        return D3D_OK;
    }
    if (flags & D3DCLEAR_TARGET)
        colour_.texels.assign(colour_.texels.size(), colour);
    if (flags & D3DCLEAR_ZBUFFER)
        depth_.assign(depth_.size(), depth);
    return D3D_OK;
}

HRESULT SoftDevice::BeginScene()
{
    if (in_scene_)
        return D3DERR_INVALIDCALL;
    in_scene_ = true;
    return D3D_OK;
}

HRESULT SoftDevice::EndScene()
{
    if (!in_scene_)
        return D3DERR_INVALIDCALL;
    in_scene_ = false;
    return D3D_OK;
}

HRESULT SoftDevice::Present(const RECT*, const RECT*, HWND override_window, const RGNDATA*)
{
    bool r5g6b5 = format_ == D3DFMT_R5G6B5;
    HWND target = override_window ? override_window : window_;
    if (scene_) {
        // The frame is rendered while the program makes the next one, and
        // goes to the window when it is done and the device next waits for
        // it (at the next Present at the latest): the window shows each
        // frame one Present late, as a driver's queue would.
        scene_->finish();
        show_window_ = target;
        scene_->submit(true, r5g6b5 ? presented_.data() : nullptr);
        return D3D_OK;
    }
    presented_ = colour_.texels;
    if (r5g6b5) {
        for (uint32_t& pixel : presented_)
            pixel = soft_quantise_r5g6b5(pixel);
    }
    gfx_present_pixels(target, presented_.data(), width_, height_, width_ * 4);
    return D3D_OK;
}

HRESULT SoftDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix)
{
    if (!matrix)
        return D3DERR_INVALIDCALL;
    switch (state) {
    case D3DTS_WORLD:
        state_.world = *matrix;
        return D3D_OK;
    case D3DTS_VIEW:
        state_.view = *matrix;
        return D3D_OK;
    case D3DTS_PROJECTION:
        state_.proj = *matrix;
        described_stale_ = true; // it decides where fog is measured
        return D3D_OK;
    }
    return D3DERR_INVALIDCALL;
}

HRESULT SoftDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    if (state >= D3D_RENDER_STATE_COUNT)
        return D3DERR_INVALIDCALL;
    state_.ff.render[state] = value;
    described_stale_ = true;
    return D3D_OK;
}

HRESULT SoftDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    if (stage >= D3D_MAX_TEXTURE_STAGES || type >= D3D_STAGE_STATE_COUNT)
        return D3DERR_INVALIDCALL;
    state_.ff.stage[stage][type] = value;
    described_stale_ = true;
    return D3D_OK;
}

HRESULT SoftDevice::SetTexture(DWORD stage, IDirect3DTexture8* texture)
{
    if (stage >= D3D_MAX_TEXTURE_STAGES)
        return D3DERR_INVALIDCALL;
    SoftTexture* soft = static_cast<SoftTexture*>(texture);
    if (soft)
        soft->AddRef();
    if (state_.texture[stage])
        state_.texture[stage]->Release();
    state_.texture[stage] = soft;
    described_stale_ = true;
    return D3D_OK;
}

HRESULT SoftDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride)
{
    if (stream != 0)
        return D3DERR_INVALIDCALL;
    SoftVertexBuffer* soft = static_cast<SoftVertexBuffer*>(buffer);
    if (soft)
        soft->AddRef();
    if (state_.stream)
        state_.stream->Release();
    state_.stream = soft;
    state_.stride = stride;
    return D3D_OK;
}

HRESULT SoftDevice::SetVertexShader(DWORD handle)
{
    state_.fvf = handle;
    return D3D_OK;
}

HRESULT SoftDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start_vertex, UINT primitive_count)
{
    if (!state_.stream || state_.fvf != (D3DFVF_XYZ | D3DFVF_TEX2) ||
        state_.stride < sizeof(Vertex))
        return D3DERR_INVALIDCALL;
    const D3DCAPS8& caps = soft_config().caps;
    if (primitive_count > caps.MaxPrimitiveCount)
        return D3DERR_INVALIDCALL;
    size_t available = state_.stream->size() / state_.stride;
    if (start_vertex > available)
        return D3DERR_INVALIDCALL;
    const BYTE* first = state_.stream->data() + size_t(start_vertex) * state_.stride;
    UINT vertex_count = UINT(available - start_vertex);
    if (scene_) {
        if (described_stale_)
            soft_prepare_context(state_, target(), &described_);
        described_stale_ = false;
        described_.target = target();
        scene_->add_draw(state_, described_, type, first, state_.stride, vertex_count,
                         primitive_count);
    } else {
        soft_draw(state_, target(), type, first, state_.stride, vertex_count, primitive_count);
    }
    return D3D_OK;
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
