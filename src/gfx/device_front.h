// The device contract every backend serves, kept in one place: the argument
// checks Direct3D makes, the state a device binds (render and stage states,
// textures, matrices, the vertex stream and its format), the scene brackets,
// the memory vertex buffer, and the description of the states a draw is made
// under. A backend derives from these fronts and implements only what is its
// own: make its device and textures, clear, draw a checked and described
// draw, present, and read back through its back-buffer surface.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/backend_objects.h"
#include "gfx/d3d8.h"
#include "gfx/fixed_function.h"

// A vertex buffer in memory. Its bytes are taken zeroed from the system (an
// untouched buffer costs no pages); draws read them where they lie.
class MemoryVertexBuffer final : public RefCounted<IDirect3DVertexBuffer8>
{
  public:
    // E_OUTOFMEMORY when the bytes cannot be had.
    static HRESULT create(UINT length, MemoryVertexBuffer** buffer);
    ~MemoryVertexBuffer() override;
    HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags) override;
    HRESULT Unlock() override;

    const BYTE* data() const { return bytes_; }
    size_t size() const { return size_; }

  private:
    MemoryVertexBuffer(BYTE* bytes, UINT length) : bytes_(bytes), size_(length) {}

    BYTE* bytes_;
    size_t size_;
    bool locked_ = false;
};

// How many vertices `primitive_count` primitives of `type` read, with the
// count first cut to what `available` vertices hold; 0 (nothing to draw) for
// points and lines, which no device draws, and for a draw the buffer cannot
// feed.
UINT front_vertices_used(D3DPRIMITIVETYPE type, UINT* primitive_count, size_t available);

// Everything a device has bound, as the program set it. Textures are the
// backend's own (bound through its device).
struct FrontState {
    FfStates ff;
    IDirect3DTexture8* texture[D3D_MAX_TEXTURE_STAGES] = {};
    Matrix world, view, proj;
    MemoryVertexBuffer* stream = nullptr;
    UINT stride = 0;
    DWORD fvf = 0;
};

// A draw that passed the checks: triangles only, the vertices it reads all
// inside the bound buffer, and the description of the states it is made
// under.
struct FrontDraw {
    D3DPRIMITIVETYPE type;
    const BYTE* vertices; // the first vertex, `stride` bytes to the next
    UINT stride;
    UINT vertex_count;    // exactly what the primitives use
    UINT primitive_count; // at least one
    const FfDraw* described;
    bool described_anew; // the description changed since the last draw reached the backend
};

class DeviceFront : public RefCounted<IDirect3DDevice8>
{
  public:
    HRESULT GetDirect3D(IDirect3D8** d3d) final;
    HRESULT GetDeviceCaps(D3DCAPS8* caps) final;
    HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) final;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, IDirect3DTexture8** texture) final;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer8** buffer) final;
    HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** surface) final;

    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) final;
    HRESULT BeginScene() final;
    HRESULT EndScene() final;
    HRESULT Present(const RECT* source, const RECT* dest, HWND override_window,
                    const RGNDATA* dirty) final;

    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) final;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) final;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) final;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) final;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) final;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) final;
    HRESULT SetTexture(DWORD stage, IDirect3DTexture8* texture) final;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) final;
    HRESULT SetVertexShader(DWORD handle) final;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start_vertex, UINT primitive_count) final;

  protected:
    // Holds a reference on `d3d` for the device's life.
    DeviceFront(IDirect3D8* d3d, HWND window, int width, int height, D3DFORMAT format);
    // Releases what is still bound, then the Direct3D object: after the
    // backend's own destructor, so its queued work is gone first.
    ~DeviceFront() override;

    // What the device can do; the limits the front checks against.
    virtual const D3DCAPS8& caps() const = 0;
    // A texture of a checked request (sizes within the caps, a known format
    // the Direct3D object accepts, `levels` already cut to the full chain).
    virtual HRESULT make_texture(int width, int height, int levels, D3DFORMAT format, D3DPOOL pool,
                                 IDirect3DTexture8** texture) = 0;
    // The back buffer's surface; the front adds the caller's reference.
    virtual IDirect3DSurface8* back_buffer() = 0;
    // Clears the whole target: D3DCLEAR_TARGET and D3DCLEAR_ZBUFFER in
    // `flags`, `z` already within 0..1.
    virtual void clear(DWORD flags, D3DCOLOR colour, float z) = 0;
    virtual void present(HWND window) = 0;
    virtual void draw(const FrontDraw& draw) = 0;
    // Whether the device lost what it draws with for good (an OpenGL
    // context that went and never came back); Present then answers
    // D3DERR_DEVICELOST, and the program must make another device.
    virtual bool lost() const { return false; }

    const FrontState& state() const { return state_; }
    // Moves whenever a matrix is set, so a backend that keeps their product
    // knows when to make it again.
    uint64_t transform_serial() const { return transform_serial_; }

    const HWND window_;
    const int width_;
    const int height_;
    const D3DFORMAT format_;

  private:
    IDirect3D8* d3d_;
    FrontState state_;
    bool in_scene_ = false;
    uint64_t transform_serial_ = 0;
    // The description of the bound states, made again only after one of
    // them changes: the terrain alone makes 1600 draws a frame under one.
    FfDraw described_ = {};
    bool described_stale_ = true;
};

// The Direct3D object's side of the contract: the one adapter and its mode,
// which texture formats exist, and the checks on a device request.
class Direct3DFront : public RefCounted<IDirect3D8>
{
  public:
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) final;
    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapter_format, DWORD usage,
                              D3DRESOURCETYPE resource_type, D3DFORMAT format) final;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus_window, DWORD behaviour,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** device) final;

  protected:
    // Whether the backend has textures of this (known) format.
    virtual bool takes_texture(D3DFORMAT format) = 0;
    // Whether the backend draws into this colour and depth format.
    virtual bool takes_target(D3DFORMAT colour, D3DFORMAT depth) = 0;
    // The device of a checked request, on `window`.
    virtual HRESULT make_device(HWND window, int width, int height, D3DFORMAT format,
                                IDirect3DDevice8** device) = 0;
};
