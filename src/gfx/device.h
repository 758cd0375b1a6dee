// The display device: created once through a ladder of back-buffer formats,
// released at shutdown; keeps the aspect ratio the projection uses.
#pragma once
#include "gfx/d3d8.h"

extern IDirect3D8* g_d3d;
extern IDirect3DDevice8* g_device;
extern float g_aspect;  // width / height of the drawing area
extern int g_gfx_ready; // 1 once _gfx_init succeeded; never cleared

// Creates the device on g_hwnd at the requested size; 1 on success, 0 on failure
// (the reason is in the log).
int _gfx_init(int width, int height, int fullscreen);
// Follows a new client size with g_aspect; 0 (and no change) before the device
// is ready.
int _gfx_resize(int width, int height, int fullscreen);
// Releases the device, then the Direct3D object.
int _gfx_deinit();
// Replaces a device lost for good with a new one on the selected backend
// (device_move.cpp): the textures of the table, the states and the
// transforms come along, and the renderer's vertex buffer is made anew. 1 on
// success; 0 leaves the old device in place.
int _gfx_move_device(int width, int height, int fullscreen);
