// Backend selection: which implementation Direct3DCreate8 hands out, and
// where presented frames go. The backends live in folders of their own below
// the shell, which installs their table at start-up; the first entry is the
// default. Without a table Direct3DCreate8 finds no runtime.
#pragma once
#include <cstdint>

#include "gfx/d3d8.h"

typedef IDirect3D8* (*GfxBackendCreate)();

struct GfxBackend {
    const char* name;
    GfxBackendCreate create;
};

// Installs the table (kept by pointer: it must outlive the program's use of
// the device) and selects its first entry.
void gfx_set_backends(const GfxBackend* table, int count);
// Selects a backend of the table by name; 0 when there is no such backend.
int gfx_select_backend(const char* name);
// The selected backend's name, or "" without a table.
const char* gfx_backend_name();

// Wraps whatever the selected backend creates (tests install a recorder here);
// null removes the wrapper.
typedef IDirect3D8* (*GfxBackendWrap)(IDirect3D8* inner);
void gfx_set_backend_wrapper(GfxBackendWrap wrap);

// Where a device's Present sends its finished X8R8G8B8 frame: the platform's
// window, installed by the platform layer. Without one frames go nowhere
// (headless runs and tests).
typedef void (*GfxPresentTarget)(HWND window, const uint32_t* pixels, int width, int height,
                                 int pitch_bytes);
void gfx_set_present_target(GfxPresentTarget target);
void gfx_present_pixels(HWND window, const uint32_t* pixels, int width, int height,
                        int pitch_bytes);
