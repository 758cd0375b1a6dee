// Screenshots of the device's back buffer.
#pragma once
#include "gfx/d3d8.h"

// Writes the current back buffer as a PNG; with `exclusive` an existing file
// is never replaced. Returns 1 on success.
int screenshot_write(IDirect3DDevice8* device, const char* path, bool exclusive);

// Writes "storm-NNNN.png" in the current directory with the first number not
// yet taken; the name goes to `path`. Returns 1 on success.
int screenshot_write_next(IDirect3DDevice8* device, char* path, int path_size);
