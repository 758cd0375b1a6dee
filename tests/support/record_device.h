// A recording Direct3D device for tests: a decorator over whatever backend
// Direct3DCreate8 selects. It forwards every call and keeps the stream of
// device calls (states in order, texture binds, transforms, draws with the
// vertices they consumed), and can be told to make texture locks fail.
//
// Use: record_install() before _gfx_init, then read record_log(g_device)
// after drawing; record_uninstall() when done. soft_device_pixels needs the
// device underneath: record_inner(g_device).
#pragma once
#include <memory>
#include <vector>

#include "gfx/d3d8.h"

enum RecordCallKind {
    REC_CREATE_TEXTURE,       // type = format, value = width, extra = height, object = texture
    REC_CREATE_VERTEX_BUFFER, // value = length in bytes, extra = FVF, object = buffer
    REC_CLEAR,                // value = colour, extra = flags
    REC_BEGIN_SCENE,
    REC_END_SCENE,
    REC_PRESENT,
    REC_SET_TRANSFORM,    // type = D3DTRANSFORMSTATETYPE, matrix
    REC_SET_RENDER_STATE, // type = D3DRENDERSTATETYPE, value
    REC_SET_STAGE_STATE,  // stage, type = D3DTEXTURESTAGESTATETYPE, value
    REC_SET_TEXTURE,      // stage, object = texture as passed (null unbinds)
    REC_SET_STREAM,       // object = buffer as passed, value = stride
    REC_SET_SHADER,       // value = vertex shader handle (the FVF)
    REC_DRAW,             // type = D3DPRIMITIVETYPE, value = primitive count,
                          // extra = start vertex, vertices = what it drew
};

// One forwarded call. Fields a kind does not use stay zero.
struct RecordedCall {
    RecordCallKind kind;
    DWORD type = 0;
    DWORD stage = 0;
    DWORD value = 0;
    DWORD extra = 0;
    const void* object = nullptr;
    Matrix matrix = {};
    HRESULT result = D3D_OK; // what the device underneath answered
    std::vector<Vertex> vertices = {};
};

// Failures to inject into the textures of the recording device. A vertex
// buffer's lock is made to fail by holding it locked.
struct RecordFaults {
    int texture_locks_left = -1; // texture LockRect succeeds this many more times; -1: always
};

// The calls of one recording device, oldest first. Queries (caps, display
// mode, back buffer, the Direct3D object) are not recorded.
struct RecordLog {
    std::vector<RecordedCall> calls;
    std::shared_ptr<RecordFaults> faults = std::make_shared<RecordFaults>();

    void clear() { calls.clear(); }
    // The calls of one kind, in order.
    std::vector<const RecordedCall*> of(RecordCallKind kind) const;
    size_t count(RecordCallKind kind) const { return of(kind).size(); }
};

// Failures of the Direct3D object itself, for the device set-up: a machine
// without a runtime, without a display mode, or whose card refuses hardware
// vertex processing.
struct RecordSetupFaults {
    bool no_object = false;          // Direct3DCreate8 yields nothing
    bool fail_display_mode = false;  // GetAdapterDisplayMode fails
    bool refuse_hardware_vp = false; // CreateDevice refuses hardware vertex processing
};

// Makes Direct3DCreate8 wrap its object in a recorder with `faults`
// (gfx_set_backend_wrapper).
void record_install(const RecordSetupFaults& faults = {});
// Removes the wrapper; objects already made keep recording.
void record_uninstall();
// The log of a recording device; null for a device of another kind.
RecordLog* record_log(IDirect3DDevice8* device);
// The device a recording device forwards to; any other device as it is.
IDirect3DDevice8* record_inner(IDirect3DDevice8* device);
