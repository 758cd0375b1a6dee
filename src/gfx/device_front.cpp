// The shared device front: Direct3D's checks and bound state, the memory
// vertex buffer and the draw description, the same for every backend.
#include "gfx/device_front.h"

#include <cstdlib>
#include <new>

// A bound on what one vertex buffer may take, far above what the renderer
// needs.
constexpr UINT MAX_VERTEX_BUFFER_BYTES = 256u << 20;
// Back buffers whose byte counts fit comfortably.
constexpr UINT MAX_TARGET_SIDE = 16384;

HRESULT MemoryVertexBuffer::create(UINT length, MemoryVertexBuffer** buffer)
{
    BYTE* bytes = static_cast<BYTE*>(std::calloc(length, 1));
    *buffer = bytes ? new (std::nothrow) MemoryVertexBuffer(bytes, length) : nullptr;
    if (!*buffer) {
        std::free(bytes);
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

MemoryVertexBuffer::~MemoryVertexBuffer()
{
    std::free(bytes_);
}

HRESULT MemoryVertexBuffer::Lock(UINT offset, UINT size, BYTE** data, DWORD)
{
    if (!data || locked_)
        return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (offset > size_ || size > size_ - offset)
        return D3DERR_INVALIDCALL;
    *data = bytes_ + offset;
    locked_ = true;
    return D3D_OK;
}

HRESULT MemoryVertexBuffer::Unlock()
{
    if (!locked_)
        return D3DERR_INVALIDCALL;
    locked_ = false;
    return D3D_OK;
}

UINT front_vertices_used(D3DPRIMITIVETYPE type, UINT* primitive_count, size_t available)
{
    UINT& count = *primitive_count;
    switch (type) {
    case D3DPT_TRIANGLELIST:
        if (uint64_t(count) * 3 > available)
            count = UINT(available / 3);
        return count * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
        if (uint64_t(count) + 2 > available)
            count = available >= 2 ? UINT(available - 2) : 0;
        return count ? count + 2 : 0;
    default:
        count = 0;
        return 0;
    }
}

DeviceFront::DeviceFront(IDirect3D8* d3d, HWND window, int width, int height, D3DFORMAT format)
    : window_(window), width_(width), height_(height), format_(format), d3d_(d3d)
{
    d3d_->AddRef(); // a device keeps its Direct3D object alive
    ff_state_defaults(&state_.ff);
    for (Matrix* m : {&state_.world, &state_.view, &state_.proj})
        mat_translation(m, 0.0f, 0.0f, 0.0f);
}

DeviceFront::~DeviceFront()
{
    for (IDirect3DTexture8* texture : state_.texture) {
        if (texture)
            texture->Release();
    }
    if (state_.stream)
        state_.stream->Release();
    d3d_->Release();
}

HRESULT DeviceFront::GetDirect3D(IDirect3D8** d3d)
{
    if (!d3d)
        return D3DERR_INVALIDCALL;
    d3d_->AddRef();
    *d3d = d3d_;
    return D3D_OK;
}

HRESULT DeviceFront::GetDeviceCaps(D3DCAPS8* caps)
{
    if (!caps)
        return D3DERR_INVALIDCALL;
    *caps = this->caps();
    return D3D_OK;
}

HRESULT DeviceFront::GetDisplayMode(D3DDISPLAYMODE* mode)
{
    if (!mode)
        return D3DERR_INVALIDCALL;
    *mode = D3DDISPLAYMODE{UINT(width_), UINT(height_), 60, format_};
    return D3D_OK;
}

HRESULT DeviceFront::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                                   D3DFORMAT format, D3DPOOL pool, IDirect3DTexture8** texture)
{
    if (!texture)
        return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (width < 1 || height < 1 || width > caps().MaxTextureWidth ||
        height > caps().MaxTextureHeight || usage != 0 || pool > D3DPOOL_SYSTEMMEM)
        return D3DERR_INVALIDCALL;
    if (FAILED(d3d_->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, format_, 0,
                                       D3DRTYPE_TEXTURE, format)))
        return D3DERR_INVALIDCALL;
    UINT full = 1;
    for (UINT size = width > height ? width : height; size > 1; size /= 2)
        ++full;
    if (!(caps().TextureCaps & D3DPTEXTURECAPS_MIPMAP))
        full = 1;
    if (levels == 0 || levels > full)
        levels = full;
    return make_texture(int(width), int(height), int(levels), format, pool, texture);
}

HRESULT DeviceFront::CreateVertexBuffer(UINT length, DWORD, DWORD, D3DPOOL pool,
                                        IDirect3DVertexBuffer8** buffer)
{
    if (!buffer)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || length > MAX_VERTEX_BUFFER_BYTES || pool > D3DPOOL_SYSTEMMEM)
        return D3DERR_INVALIDCALL;
    MemoryVertexBuffer* created = nullptr;
    HRESULT hr = MemoryVertexBuffer::create(length, &created);
    *buffer = created;
    return hr;
}

HRESULT DeviceFront::GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface8** surface)
{
    if (!surface)
        return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (index != 0)
        return D3DERR_INVALIDCALL;
    IDirect3DSurface8* back = back_buffer();
    back->AddRef();
    *surface = back;
    return D3D_OK;
}

HRESULT DeviceFront::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                           DWORD)
{
    if (count != 0 || rects)
        return D3DERR_INVALIDCALL; // the program only clears whole targets
    clear(flags, color, z < 0.0f ? 0.0f : (z > 1.0f ? 1.0f : z));
    return D3D_OK;
}

HRESULT DeviceFront::BeginScene()
{
    if (in_scene_)
        return D3DERR_INVALIDCALL;
    in_scene_ = true;
    return D3D_OK;
}

HRESULT DeviceFront::EndScene()
{
    if (!in_scene_)
        return D3DERR_INVALIDCALL;
    in_scene_ = false;
    return D3D_OK;
}

HRESULT DeviceFront::Present(const RECT*, const RECT*, HWND override_window, const RGNDATA*)
{
    if (lost())
        return D3DERR_DEVICELOST;
    present(override_window ? override_window : window_);
    return D3D_OK;
}

HRESULT DeviceFront::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix)
{
    if (!matrix)
        return D3DERR_INVALIDCALL;
    switch (state) {
    case D3DTS_WORLD:
        state_.world = *matrix;
        break;
    case D3DTS_VIEW:
        state_.view = *matrix;
        break;
    case D3DTS_PROJECTION:
        state_.proj = *matrix;
        described_stale_ = true; // it decides where fog is measured
        break;
    default:
        return D3DERR_INVALIDCALL;
    }
    ++transform_serial_;
    return D3D_OK;
}

HRESULT DeviceFront::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix)
{
    if (!matrix)
        return D3DERR_INVALIDCALL;
    switch (state) {
    case D3DTS_WORLD:
        *matrix = state_.world;
        return D3D_OK;
    case D3DTS_VIEW:
        *matrix = state_.view;
        return D3D_OK;
    case D3DTS_PROJECTION:
        *matrix = state_.proj;
        return D3D_OK;
    default:
        return D3DERR_INVALIDCALL;
    }
}

HRESULT DeviceFront::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value)
{
    if (state >= D3D_RENDER_STATE_COUNT || !value)
        return D3DERR_INVALIDCALL;
    *value = state_.ff.render[state];
    return D3D_OK;
}

HRESULT DeviceFront::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value)
{
    if (stage >= D3D_MAX_TEXTURE_STAGES || type >= D3D_STAGE_STATE_COUNT || !value)
        return D3DERR_INVALIDCALL;
    *value = state_.ff.stage[stage][type];
    return D3D_OK;
}

HRESULT DeviceFront::SetRenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    if (state >= D3D_RENDER_STATE_COUNT)
        return D3DERR_INVALIDCALL;
    state_.ff.render[state] = value;
    described_stale_ = true;
    return D3D_OK;
}

HRESULT DeviceFront::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    if (stage >= D3D_MAX_TEXTURE_STAGES || type >= D3D_STAGE_STATE_COUNT)
        return D3DERR_INVALIDCALL;
    state_.ff.stage[stage][type] = value;
    described_stale_ = true;
    return D3D_OK;
}

HRESULT DeviceFront::SetTexture(DWORD stage, IDirect3DTexture8* texture)
{
    if (stage >= D3D_MAX_TEXTURE_STAGES)
        return D3DERR_INVALIDCALL;
    if (texture)
        texture->AddRef();
    if (state_.texture[stage])
        state_.texture[stage]->Release();
    state_.texture[stage] = texture;
    described_stale_ = true;
    return D3D_OK;
}

HRESULT DeviceFront::SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride)
{
    if (stream != 0)
        return D3DERR_INVALIDCALL;
    // Every device makes its buffers here, so a bound buffer is one of ours.
    MemoryVertexBuffer* memory = static_cast<MemoryVertexBuffer*>(buffer);
    if (memory)
        memory->AddRef();
    if (state_.stream)
        state_.stream->Release();
    state_.stream = memory;
    state_.stride = stride;
    return D3D_OK;
}

HRESULT DeviceFront::SetVertexShader(DWORD handle)
{
    state_.fvf = handle;
    return D3D_OK;
}

// What the draw description needs of a bound texture.
static FfTexture texture_facts(IDirect3DTexture8* texture)
{
    FfTexture facts = {};
    D3DSURFACE_DESC desc;
    if (texture && texture->GetLevelCount() > 0 && SUCCEEDED(texture->GetLevelDesc(0, &desc))) {
        facts.present = true;
        facts.has_alpha = desc.Format == D3DFMT_A8R8G8B8;
    }
    return facts;
}

HRESULT DeviceFront::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start_vertex, UINT primitive_count)
{
    const FrontState& s = state_;
    if (!s.stream || s.fvf != VERTEX_FVF || s.stride < sizeof(Vertex))
        return D3DERR_INVALIDCALL;
    if (primitive_count > caps().MaxPrimitiveCount)
        return D3DERR_INVALIDCALL;
    size_t available = s.stream->size() / s.stride;
    if (start_vertex > available)
        return D3DERR_INVALIDCALL;
    // Only what the buffer holds is drawn.
    UINT vertex_count = front_vertices_used(type, &primitive_count, available - start_vertex);
    if (vertex_count == 0)
        return D3D_OK;
    bool anew = described_stale_;
    if (described_stale_) {
        FfTexture textures[FF_STAGES];
        for (int stage = 0; stage < FF_STAGES; ++stage)
            textures[stage] = texture_facts(s.texture[stage]);
        ff_describe(s.ff, textures, s.proj, &described_);
        described_stale_ = false;
    }
    draw(FrontDraw{type, s.stream->data() + size_t(start_vertex) * s.stride, s.stride, vertex_count,
                   primitive_count, &described_, anew});
    return D3D_OK;
}

HRESULT Direct3DFront::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode)
{
    if (adapter != D3DADAPTER_DEFAULT || !mode)
        return D3DERR_INVALIDCALL;
    *mode = D3DDISPLAYMODE{1920, 1080, 60, D3DFMT_X8R8G8B8};
    return D3D_OK;
}

HRESULT Direct3DFront::CheckDeviceFormat(UINT adapter, D3DDEVTYPE, D3DFORMAT, DWORD usage,
                                         D3DRESOURCETYPE resource_type, D3DFORMAT format)
{
    if (adapter != D3DADAPTER_DEFAULT)
        return D3DERR_INVALIDCALL;
    if (resource_type != D3DRTYPE_TEXTURE || usage != 0)
        return D3DERR_NOTAVAILABLE;
    bool known = format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8;
    return known && takes_texture(format) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3DFront::CreateDevice(UINT adapter, D3DDEVTYPE, HWND focus_window, DWORD,
                                    D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** device)
{
    if (!device)
        return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (adapter != D3DADAPTER_DEFAULT || !params)
        return D3DERR_INVALIDCALL;
    if (!takes_target(params->BackBufferFormat, params->AutoDepthStencilFormat))
        return D3DERR_NOTAVAILABLE;
    if (params->BackBufferWidth < 1 || params->BackBufferHeight < 1 ||
        params->BackBufferWidth > MAX_TARGET_SIDE || params->BackBufferHeight > MAX_TARGET_SIDE)
        return D3DERR_INVALIDCALL;
    HWND window = params->hDeviceWindow ? params->hDeviceWindow : focus_window;
    return make_device(window, int(params->BackBufferWidth), int(params->BackBufferHeight),
                       params->BackBufferFormat, device);
}
