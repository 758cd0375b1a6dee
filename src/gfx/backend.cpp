// Backend table and presentation target. Direct3DCreate8 creates the Direct3D
// object of the selected backend, optionally wrapped (a recorder in tests).
#include "gfx/backend.h"

#include <cstring>

static const GfxBackend* s_table = nullptr;
static int s_count = 0;
static const GfxBackend* s_selected = nullptr;
static GfxBackendWrap s_wrap = nullptr;
static GfxPresentTarget s_present = nullptr;

void gfx_set_backends(const GfxBackend* table, int count)
{
    s_table = count > 0 ? table : nullptr;
    s_count = s_table ? count : 0;
    s_selected = s_table;
}

int gfx_select_backend(const char* name)
{
    for (int i = 0; i < s_count; ++i) {
        if (std::strcmp(s_table[i].name, name) == 0) {
            s_selected = &s_table[i];
            return 1;
        }
    }
    return 0;
}

const char* gfx_backend_name()
{
    return s_selected ? s_selected->name : "";
}

void gfx_set_backend_wrapper(GfxBackendWrap wrap)
{
    s_wrap = wrap;
}

IDirect3D8* Direct3DCreate8(UINT sdk_version)
{
    if (sdk_version != D3D_SDK_VERSION || !s_selected)
        return nullptr;
    IDirect3D8* d3d = s_selected->create();
    if (d3d && s_wrap)
        d3d = s_wrap(d3d);
    return d3d;
}

void gfx_set_present_target(GfxPresentTarget target)
{
    s_present = target;
}

void gfx_present_pixels(HWND window, const uint32_t* pixels, int width, int height, int pitch_bytes)
{
    if (s_present)
        s_present(window, pixels, width, height, pitch_bytes);
}
