// The software backends: Direct3D 8 devices that render into memory. The
// reference device draws each call as it comes, one triangle after another;
// it is the oracle the other backends are compared with, so it aims at exact
// fixed-function results rather than speed. The default software device
// gives the same pixels, rendered a frame at a time in screen tiles on
// several threads.
#pragma once
#include "gfx/d3d8.h"

IDirect3D8* soft_create_direct3d();
IDirect3D8* soft_create_reference_direct3d();

// The most threads a software device renders with.
constexpr int SOFT_MAX_THREADS = 64;

// What the software device claims and refuses. Tests change it to exercise
// the device set-up and texture creation rules on other hardware; the
// defaults describe a typical card of the program's era.
struct SoftConfig {
    D3DCAPS8 caps;
    bool refused_format[128]; // formats CreateDevice and CheckDeviceFormat refuse
    int threads;              // render threads of a new device; 0: one per core
    int tile_size;            // pixels on a side of a screen tile (even)
};
SoftConfig& soft_config();
void soft_config_reset();
// Sets the threads devices created from now on render with (1 to
// SOFT_MAX_THREADS; 0 takes one per core). The reference device has none.
void soft_set_threads(int count);

// The last presented frame of a software device (X8R8G8B8, rows top first),
// or null for a device of another backend.
const uint32_t* soft_device_pixels(IDirect3DDevice8* device, int* width, int* height);
