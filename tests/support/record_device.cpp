// Recording device. A RecordDirect3D wraps the backend's IDirect3D8 (and can
// be made to fail the way a machine without a usable card does); each
// device it creates is a RecordDevice that forwards to the backend's device
// and appends one RecordedCall per state-changing or drawing call to its
// RecordLog. Textures and vertex buffers it creates are wrapped too, only so
// that locks can be made to fail; binding them hands the wrapped object on.
//
// Ownership follows COM: each wrapper holds one reference on what it wraps
// and releases it when its own count reaches zero; a device holds its
// RecordDirect3D. Resource wrappers share the device's fault settings, so
// they stay valid whichever of them is released last.

#include "support/record_device.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "gfx/backend.h"
#include "gfx/device_front.h"

namespace
{

class RefCount
{
  public:
    DWORD add() { return ++refs_; }
    DWORD drop() { return --refs_; }

  private:
    DWORD refs_ = 1;
};

class RecordTexture final : public IDirect3DTexture8
{
  public:
    RecordTexture(IDirect3DTexture8* inner, std::shared_ptr<RecordFaults> faults)
        : inner_(inner), faults_(std::move(faults))
    {
    }
    DWORD AddRef() override { return refs_.add(); }
    DWORD Release() override
    {
        DWORD left = refs_.drop();
        if (left == 0) {
            inner_->Release();
            delete this;
        }
        return left;
    }
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

    IDirect3DTexture8* inner() { return inner_; }

  private:
    RefCount refs_;
    IDirect3DTexture8* inner_;
    std::shared_ptr<RecordFaults> faults_;
};

class RecordBuffer final : public IDirect3DVertexBuffer8
{
  public:
    RecordBuffer(IDirect3DVertexBuffer8* inner, UINT length, std::shared_ptr<RecordFaults> faults)
        : inner_(inner), length_(length), faults_(std::move(faults))
    {
    }
    DWORD AddRef() override { return refs_.add(); }
    DWORD Release() override
    {
        DWORD left = refs_.drop();
        if (left == 0) {
            inner_->Release();
            delete this;
        }
        return left;
    }
    HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags) override
    {
        if (faults_->fail_buffer_lock) {
            if (data)
                *data = nullptr;
            return D3DERR_INVALIDCALL;
        }
        return inner_->Lock(offset, size, data, flags);
    }
    HRESULT Unlock() override { return inner_->Unlock(); }

    IDirect3DVertexBuffer8* inner() { return inner_; }
    UINT length() const { return length_; }

  private:
    RefCount refs_;
    IDirect3DVertexBuffer8* inner_;
    UINT length_;
    std::shared_ptr<RecordFaults> faults_;
};

class RecordDirect3D;

class RecordDevice final : public IDirect3DDevice8
{
  public:
    RecordDevice(RecordDirect3D* d3d, IDirect3DDevice8* inner);
    ~RecordDevice() override;

    DWORD AddRef() override { return refs_.add(); }
    DWORD Release() override
    {
        DWORD left = refs_.drop();
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT GetDirect3D(IDirect3D8** d3d) override;
    HRESULT GetDeviceCaps(D3DCAPS8* caps) override { return inner_->GetDeviceCaps(caps); }
    HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) override { return inner_->GetDisplayMode(mode); }
    HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** surface) override
    {
        return inner_->GetBackBuffer(index, type, surface);
    }

    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, IDirect3DTexture8** texture) override
    {
        HRESULT hr = inner_->CreateTexture(width, height, levels, usage, format, pool, texture);
        if (SUCCEEDED(hr) && texture && *texture) {
            RecordTexture* wrapped = new (std::nothrow) RecordTexture(*texture, log_.faults);
            if (!wrapped) {
                (*texture)->Release();
                *texture = nullptr;
                hr = E_OUTOFMEMORY;
            } else {
                *texture = wrapped;
            }
        }
        RecordedCall& call = add(REC_CREATE_TEXTURE, hr);
        call.type = format;
        call.value = width;
        call.extra = height;
        call.object = SUCCEEDED(hr) && texture ? *texture : nullptr;
        return hr;
    }

    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer8** buffer) override
    {
        HRESULT hr = inner_->CreateVertexBuffer(length, usage, fvf, pool, buffer);
        if (SUCCEEDED(hr) && buffer && *buffer) {
            RecordBuffer* wrapped = new (std::nothrow) RecordBuffer(*buffer, length, log_.faults);
            if (!wrapped) {
                (*buffer)->Release();
                *buffer = nullptr;
                hr = E_OUTOFMEMORY;
            } else {
                *buffer = wrapped;
            }
        }
        RecordedCall& call = add(REC_CREATE_VERTEX_BUFFER, hr);
        call.value = length;
        call.extra = fvf;
        call.object = SUCCEEDED(hr) && buffer ? *buffer : nullptr;
        return hr;
    }

    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override
    {
        RecordedCall& call = add(REC_CLEAR, inner_->Clear(count, rects, flags, color, z, stencil));
        call.value = color;
        call.extra = flags;
        return call.result;
    }
    HRESULT BeginScene() override { return add(REC_BEGIN_SCENE, inner_->BeginScene()).result; }
    HRESULT EndScene() override { return add(REC_END_SCENE, inner_->EndScene()).result; }
    HRESULT Present(const RECT* source, const RECT* dest, HWND override_window,
                    const RGNDATA* dirty) override
    {
        return add(REC_PRESENT, inner_->Present(source, dest, override_window, dirty)).result;
    }

    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override
    {
        RecordedCall& call = add(REC_SET_TRANSFORM, inner_->SetTransform(state, matrix));
        call.type = state;
        if (matrix)
            call.matrix = *matrix;
        return call.result;
    }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override
    {
        RecordedCall& call = add(REC_SET_RENDER_STATE, inner_->SetRenderState(state, value));
        call.type = state;
        call.value = value;
        return call.result;
    }
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override
    {
        RecordedCall& call =
            add(REC_SET_STAGE_STATE, inner_->SetTextureStageState(stage, type, value));
        call.stage = stage;
        call.type = type;
        call.value = value;
        return call.result;
    }
    HRESULT SetTexture(DWORD stage, IDirect3DTexture8* texture) override
    {
        RecordTexture* wrapped = dynamic_cast<RecordTexture*>(texture);
        RecordedCall& call =
            add(REC_SET_TEXTURE, inner_->SetTexture(stage, wrapped ? wrapped->inner() : texture));
        call.stage = stage;
        call.object = texture;
        return call.result;
    }
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) override
    {
        RecordBuffer* wrapped = dynamic_cast<RecordBuffer*>(buffer);
        RecordedCall& call =
            add(REC_SET_STREAM,
                inner_->SetStreamSource(stream, wrapped ? wrapped->inner() : buffer, stride));
        call.object = buffer;
        call.value = stride;
        if (SUCCEEDED(call.result)) {
            if (wrapped)
                wrapped->AddRef();
            if (stream_)
                stream_->Release();
            stream_ = wrapped;
            stride_ = stride;
        }
        return call.result;
    }
    HRESULT SetVertexShader(DWORD handle) override
    {
        RecordedCall& call = add(REC_SET_SHADER, inner_->SetVertexShader(handle));
        call.value = handle;
        return call.result;
    }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start_vertex, UINT count) override
    {
        std::vector<Vertex> drawn = consumed_vertices(type, start_vertex, count);
        RecordedCall& call = add(REC_DRAW, inner_->DrawPrimitive(type, start_vertex, count));
        call.type = type;
        call.value = count;
        call.extra = start_vertex;
        call.vertices = std::move(drawn);
        return call.result;
    }

    IDirect3DDevice8* inner() { return inner_; }
    RecordLog* log() { return &log_; }

  private:
    RecordedCall& add(RecordCallKind kind, HRESULT result)
    {
        RecordedCall call = {};
        call.kind = kind;
        call.result = result;
        log_.calls.push_back(std::move(call));
        return log_.calls.back();
    }

    // The vertices a draw reads from the bound stream, as far as the buffer
    // holds them. Read through the buffer underneath, so injected lock
    // failures do not touch the record.
    std::vector<Vertex> consumed_vertices(D3DPRIMITIVETYPE type, UINT start, UINT count)
    {
        std::vector<Vertex> out;
        if (!stream_ || stride_ < sizeof(Vertex))
            return out;
        uint64_t available = stream_->length() / stride_;
        if (start >= available)
            return out;
        UINT needed = front_vertices_used(type, &count, size_t(available - start));
        if (needed == 0)
            return out;
        BYTE* data = nullptr;
        if (FAILED(stream_->inner()->Lock(0, 0, &data, D3DLOCK_READONLY)) || !data)
            return out;
        out.resize(size_t(needed));
        for (size_t i = 0; i < out.size(); ++i)
            std::memcpy(&out[i], data + (start + i) * uint64_t(stride_), sizeof(Vertex));
        stream_->inner()->Unlock();
        return out;
    }

    RefCount refs_;
    RecordDirect3D* d3d_;
    IDirect3DDevice8* inner_;
    RecordLog log_;
    RecordBuffer* stream_ = nullptr; // held while bound, as a device holds its stream
    UINT stride_ = 0;
};

class RecordDirect3D final : public IDirect3D8
{
  public:
    RecordDirect3D(IDirect3D8* inner, const RecordSetupFaults& faults)
        : inner_(inner), faults_(faults)
    {
    }

    DWORD AddRef() override { return refs_.add(); }
    DWORD Release() override
    {
        DWORD left = refs_.drop();
        if (left == 0) {
            inner_->Release();
            delete this;
        }
        return left;
    }
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
            if (device)
                *device = nullptr;
            return D3DERR_NOTAVAILABLE;
        }
        HRESULT hr = inner_->CreateDevice(adapter, type, focus_window, behaviour, params, device);
        if (FAILED(hr) || !device || !*device)
            return hr;
        RecordDevice* wrapped = new (std::nothrow) RecordDevice(this, *device);
        if (!wrapped) {
            (*device)->Release();
            *device = nullptr;
            return E_OUTOFMEMORY;
        }
        *device = wrapped;
        return hr;
    }

  private:
    RefCount refs_;
    IDirect3D8* inner_;
    RecordSetupFaults faults_;
};

RecordDevice::RecordDevice(RecordDirect3D* d3d, IDirect3DDevice8* inner) : d3d_(d3d), inner_(inner)
{
    d3d_->AddRef();
}

RecordDevice::~RecordDevice()
{
    if (stream_)
        stream_->Release();
    inner_->Release();
    d3d_->Release();
}

HRESULT RecordDevice::GetDirect3D(IDirect3D8** d3d)
{
    if (!d3d)
        return D3DERR_INVALIDCALL;
    d3d_->AddRef();
    *d3d = d3d_;
    return D3D_OK;
}

RecordSetupFaults s_setup_faults;

IDirect3D8* wrap_direct3d(IDirect3D8* inner)
{
    if (!inner)
        return nullptr;
    if (s_setup_faults.no_object) {
        inner->Release();
        return nullptr;
    }
    RecordDirect3D* wrapped = new (std::nothrow) RecordDirect3D(inner, s_setup_faults);
    if (!wrapped) {
        inner->Release();
        return nullptr;
    }
    return wrapped;
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

size_t RecordLog::count(RecordCallKind kind) const
{
    size_t n = 0;
    for (const RecordedCall& call : calls)
        n += call.kind == kind;
    return n;
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
    return recorder ? recorder->log() : nullptr;
}

IDirect3DDevice8* record_inner(IDirect3DDevice8* device)
{
    RecordDevice* recorder = dynamic_cast<RecordDevice*>(device);
    return recorder ? recorder->inner() : device;
}

std::string record_describe(const RecordedCall& call)
{
    char text[160];
    switch (call.kind) {
    case REC_CREATE_TEXTURE:
        std::snprintf(text, sizeof text, "CreateTexture(%u x %u, format %u)", call.value,
                      call.extra, call.type);
        break;
    case REC_CREATE_VERTEX_BUFFER:
        std::snprintf(text, sizeof text, "CreateVertexBuffer(%u bytes, fvf 0x%X)", call.value,
                      call.extra);
        break;
    case REC_CLEAR:
        std::snprintf(text, sizeof text, "Clear(flags %u, colour 0x%08X)", call.extra, call.value);
        break;
    case REC_BEGIN_SCENE:
        std::snprintf(text, sizeof text, "BeginScene()");
        break;
    case REC_END_SCENE:
        std::snprintf(text, sizeof text, "EndScene()");
        break;
    case REC_PRESENT:
        std::snprintf(text, sizeof text, "Present()");
        break;
    case REC_SET_TRANSFORM:
        std::snprintf(text, sizeof text, "SetTransform(%u)", call.type);
        break;
    case REC_SET_RENDER_STATE:
        std::snprintf(text, sizeof text, "SetRenderState(%u, %u)", call.type, call.value);
        break;
    case REC_SET_STAGE_STATE:
        std::snprintf(text, sizeof text, "SetTextureStageState(%u, %u, %u)", call.stage, call.type,
                      call.value);
        break;
    case REC_SET_TEXTURE:
        std::snprintf(text, sizeof text, "SetTexture(%u, %p)", call.stage, call.object);
        break;
    case REC_SET_STREAM:
        std::snprintf(text, sizeof text, "SetStreamSource(0, %p, %u)", call.object, call.value);
        break;
    case REC_SET_SHADER:
        std::snprintf(text, sizeof text, "SetVertexShader(0x%X)", call.value);
        break;
    case REC_DRAW:
        std::snprintf(text, sizeof text, "DrawPrimitive(%u, %u, %u)", call.type, call.extra,
                      call.value);
        break;
    default:
        std::snprintf(text, sizeof text, "call %d", int(call.kind));
        break;
    }
    return text;
}
