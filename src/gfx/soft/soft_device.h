// The software reference backend: a device that renders into memory.
#pragma once
#include "gfx/d3d8.h"

IDirect3D8* soft_create_direct3d();

// The finished frame of a software device (what the last Present showed), for
// screenshots and tests. Returns null for a device of another backend.
const uint32_t* soft_device_pixels(IDirect3DDevice8* device, int* width, int* height);
