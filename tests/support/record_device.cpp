// Recording device. A RecordDirect3D wraps the backend's IDirect3D8 (and can
// be made to fail the way a machine without a usable card does); each
// device it creates is a RecordDevice that forwards to the backend's device
// and appends one RecordedCall per state-changing or drawing call to its
// RecordLog. Textures it creates are wrapped too, only so that their locks
// can be made to fail; binding one hands the texture underneath on.
//
// Each wrapper holds one reference on what it wraps and releases it when
// its own count reaches zero. Texture wrappers share the device's fault
// settings, so they stay valid whichever of them is released last.

#include "support/record_device.h"

#include <cstring>
#include <utility>

#include "gfx/backend.h"
#include "gfx/device_front.h"

namespace
{

class RecordTexture final : public RefCounted<IDirect3DTexture8>
{
  public:
    RecordTexture(IDirect3DTexture8* inner, std::shared_ptr<RecordFaults> faults)
        : inner_(inner), faults_(std::move(faults))
    {
    }
    ~RecordTexture() override { inner_->Release(); }
    DWORD GetLevelCount() override { return inner_->GetLevelCount(); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override
    {
        return inner_->GetLevelDesc(level, desc);
    }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) override
    {
        return inner_->GetSurfaceLevel(level, surface);
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override
    {
        if (faults_->texture_locks_left == 0)
            return D3DERR_INVALIDCALL;
        if (faults_->texture_locks_left > 0)
            --faults_->texture_locks_left;
        return inner_->LockRect(level, locked, rect, flags);
    }
    HRESULT UnlockRect(UINT level) override { return inner_->UnlockRect(level); }

    IDirect3DTexture8* const inner_;

  private:
    std::shared_ptr<RecordFaults> faults_;
};

class RecordDevice final : public RefCounted<IDirect3DDevice8>
{
  public:
    explicit RecordDevice(IDirect3DDevice8* inner) : inner_(inner) {}
    ~RecordDevice() override { inner_->Release(); }

    // The Direct3D object is the backend's: the set-up faults concern only
    // the device's creation.
    HRESULT GetDirect3D(IDirect3D8** d3d) override { return inner_->GetDirect3D(d3d); }
    HRESULT GetDeviceCaps(D3DCAPS8* caps) override { return inner_->GetDeviceCaps(caps); }
    HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) override { return inner_->GetDisplayMode(mode); }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override
    {
        return inner_->GetTransform(state, matrix);
    }
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override
    {
        return inner_->GetRenderState(state, value);
    }
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override
    {
        return inner_->GetTextureStageState(stage, type, value);
    }
    HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** surface) override
    {
        return inner_->GetBackBuffer(index, type, surface);
    }

    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, IDirect3DTexture8** texture) override
    {
        HRESULT hr = inner_->CreateTexture(width, height, levels, usage, format, pool, texture);
        if (SUCCEEDED(hr))
            *texture = new RecordTexture(*texture, log_.faults);
        return add({.kind = REC_CREATE_TEXTURE,
                    .type = DWORD(format),
                    .value = width,
                    .extra = height,
                    .object = SUCCEEDED(hr) ? *texture : nullptr,
                    .result = hr});
    }
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer8** buffer) override
    {
        HRESULT hr = inner_->CreateVertexBuffer(length, usage, fvf, pool, buffer);
        return add({.kind = REC_CREATE_VERTEX_BUFFER,
                    .value = length,
                    .extra = fvf,
                    .object = SUCCEEDED(hr) ? *buffer : nullptr,
                    .result = hr});
    }

    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override
    {
        return add({.kind = REC_CLEAR,
                    .value = color,
                    .extra = flags,
                    .result = inner_->Clear(count, rects, flags, color, z, stencil)});
    }
    HRESULT BeginScene() override
    {
        return add({.kind = REC_BEGIN_SCENE, .result = inner_->BeginScene()});
    }
    HRESULT EndScene() override
    {
        return add({.kind = REC_END_SCENE, .result = inner_->EndScene()});
    }
    HRESULT Present(const RECT* source, const RECT* dest, HWND override_window,
                    const RGNDATA* dirty) override
    {
        return add(
            {.kind = REC_PRESENT, .result = inner_->Present(source, dest, override_window, dirty)});
    }

    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override
    {
        return add({.kind = REC_SET_TRANSFORM,
                    .type = DWORD(state),
                    .matrix = matrix ? *matrix : Matrix{},
                    .result = inner_->SetTransform(state, matrix)});
    }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override
    {
        return add({.kind = REC_SET_RENDER_STATE,
                    .type = DWORD(state),
                    .value = value,
                    .result = inner_->SetRenderState(state, value)});
    }
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override
    {
        return add({.kind = REC_SET_STAGE_STATE,
                    .type = DWORD(type),
                    .stage = stage,
                    .value = value,
                    .result = inner_->SetTextureStageState(stage, type, value)});
    }
    HRESULT SetTexture(DWORD stage, IDirect3DTexture8* texture) override
    {
        RecordTexture* wrapped = dynamic_cast<RecordTexture*>(texture);
        return add({.kind = REC_SET_TEXTURE,
                    .stage = stage,
                    .object = texture,
                    .result = inner_->SetTexture(stage, wrapped ? wrapped->inner_ : texture)});
    }
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) override
    {
        HRESULT hr = inner_->SetStreamSource(stream, buffer, stride);
        if (SUCCEEDED(hr)) {
            // The device underneath holds the buffer while it is bound.
            stream_ = dynamic_cast<MemoryVertexBuffer*>(buffer);
            stride_ = stride;
        }
        return add({.kind = REC_SET_STREAM, .value = stride, .object = buffer, .result = hr});
    }
    HRESULT SetVertexShader(DWORD handle) override
    {
        return add(
            {.kind = REC_SET_SHADER, .value = handle, .result = inner_->SetVertexShader(handle)});
    }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start_vertex, UINT count) override
    {
        std::vector<Vertex> drawn = consumed_vertices(type, start_vertex, count);
        return add({.kind = REC_DRAW,
                    .type = DWORD(type),
                    .value = count,
                    .extra = start_vertex,
                    .result = inner_->DrawPrimitive(type, start_vertex, count),
                    .vertices = std::move(drawn)});
    }

    IDirect3DDevice8* const inner_;
    RecordLog log_;

  private:
    HRESULT add(RecordedCall call)
    {
        log_.calls.push_back(std::move(call));
        return log_.calls.back().result;
    }

    // The vertices a draw reads from the bound stream, as far as the buffer
    // holds them; read where they lie, so a lock the test holds does not
    // touch the record.
    std::vector<Vertex> consumed_vertices(D3DPRIMITIVETYPE type, UINT start, UINT count)
    {
        if (!stream_ || stride_ < sizeof(Vertex) || start >= stream_->size() / stride_)
            return {};
        UINT needed = front_vertices_used(type, &count, stream_->size() / stride_ - start);
        std::vector<Vertex> out(needed);
        for (size_t i = 0; i < out.size(); ++i)
            std::memcpy(&out[i], stream_->data() + (start + i) * size_t(stride_), sizeof(Vertex));
        return out;
    }

    const MemoryVertexBuffer* stream_ = nullptr;
    UINT stride_ = 0;
};

class RecordDirect3D final : public RefCounted<IDirect3D8>
{
  public:
    RecordDirect3D(IDirect3D8* inner, const RecordSetupFaults& faults)
        : inner_(inner), faults_(faults)
    {
    }
    ~RecordDirect3D() override { inner_->Release(); }

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override
    {
        if (faults_.fail_display_mode)
            return D3DERR_INVALIDCALL;
        return inner_->GetAdapterDisplayMode(adapter, mode);
    }
    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapter_format, DWORD usage,
                              D3DRESOURCETYPE resource_type, D3DFORMAT format) override
    {
        return inner_->CheckDeviceFormat(adapter, type, adapter_format, usage, resource_type,
                                         format);
    }
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus_window, DWORD behaviour,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** device) override
    {
        if ((behaviour & D3DCREATE_HARDWARE_VERTEXPROCESSING) && faults_.refuse_hardware_vp) {
            *device = nullptr;
            return D3DERR_NOTAVAILABLE;
        }
        HRESULT hr = inner_->CreateDevice(adapter, type, focus_window, behaviour, params, device);
        if (SUCCEEDED(hr))
            *device = new RecordDevice(*device);
        return hr;
    }

  private:
    IDirect3D8* inner_;
    RecordSetupFaults faults_;
};

RecordSetupFaults s_setup_faults;

IDirect3D8* wrap_direct3d(IDirect3D8* inner)
{
    if (inner && s_setup_faults.no_object) {
        inner->Release();
        return nullptr;
    }
    return inner ? new RecordDirect3D(inner, s_setup_faults) : nullptr;
}

} // namespace

std::vector<const RecordedCall*> RecordLog::of(RecordCallKind kind) const
{
    std::vector<const RecordedCall*> out;
    for (const RecordedCall& call : calls) {
        if (call.kind == kind)
            out.push_back(&call);
    }
    return out;
}

void record_install(const RecordSetupFaults& faults)
{
    s_setup_faults = faults;
    gfx_set_backend_wrapper(wrap_direct3d);
}

void record_uninstall()
{
    gfx_set_backend_wrapper(nullptr);
}

RecordLog* record_log(IDirect3DDevice8* device)
{
    RecordDevice* recorder = dynamic_cast<RecordDevice*>(device);
    return recorder ? &recorder->log_ : nullptr;
}

IDirect3DDevice8* record_inner(IDirect3DDevice8* device)
{
    RecordDevice* recorder = dynamic_cast<RecordDevice*>(device);
    return recorder ? recorder->inner_ : device;
}
