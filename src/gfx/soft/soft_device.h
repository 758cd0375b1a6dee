// The software reference backend: a Direct3D 8 device that renders into
// memory. It is the oracle the other backends are compared with, so it aims
// at exact fixed-function results rather than speed.
#pragma once
#include "gfx/d3d8.h"

IDirect3D8* soft_create_direct3d();

// What the software device claims and refuses. Tests change it to exercise
// the device set-up and texture creation rules on other hardware; the
// defaults describe a typical card of the program's era.
struct SoftConfig {
    D3DCAPS8 caps;
    bool refused_format[128]; // formats CreateDevice and CheckDeviceFormat refuse
    bool refuse_hardware_vp;  // devices with hardware vertex processing fail
    bool fail_create;         // Direct3DCreate8 yields no object
    bool fail_display_mode;   // GetAdapterDisplayMode fails
};
SoftConfig& soft_config();
void soft_config_reset();

// The last presented frame of a software device (X8R8G8B8, rows top first),
// or null for a device of another backend.
const uint32_t* soft_device_pixels(IDirect3DDevice8* device, int* width, int* height);
