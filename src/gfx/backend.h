// Backend selection: which implementation Direct3DCreate8 hands out. A fixed
// table, chosen at start-up; "soft" always works.
#pragma once
#include "gfx/d3d8.h"

typedef IDirect3D8* (*GfxBackendCreate)();

struct GfxBackend {
    const char* name;
    GfxBackendCreate create;
};

// Selects a backend by name; 0 when there is no such backend.
int gfx_select_backend(const char* name);
const char* gfx_backend_name();

// Wraps whatever the selected backend creates (tests install a recorder here);
// null removes the wrapper.
typedef IDirect3D8* (*GfxBackendWrap)(IDirect3D8* inner);
void gfx_set_backend_wrapper(GfxBackendWrap wrap);
