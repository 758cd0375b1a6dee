// Backend table. Direct3DCreate8 creates the Direct3D object of the selected
// backend, optionally wrapped (a recorder in tests). "soft" is always there;
// the hardware backend adds itself to the table when it is built.
#include "gfx/backend.h"

#include <cstring>

#include "gfx/soft/soft_device.h"

static const GfxBackend BACKENDS[] = {
    {"soft", soft_create_direct3d},
};

static const GfxBackend* s_selected = &BACKENDS[0];
static GfxBackendWrap s_wrap = nullptr;

int gfx_select_backend(const char* name)
{
    for (const GfxBackend& backend : BACKENDS) {
        if (std::strcmp(backend.name, name) == 0) {
            s_selected = &backend;
            return 1;
        }
    }
    return 0;
}

const char* gfx_backend_name()
{
    return s_selected->name;
}

void gfx_set_backend_wrapper(GfxBackendWrap wrap)
{
    s_wrap = wrap;
}

IDirect3D8* Direct3DCreate8(UINT sdk_version)
{
    if (sdk_version != D3D_SDK_VERSION)
        return nullptr;
    IDirect3D8* d3d = s_selected->create();
    if (d3d && s_wrap)
        d3d = s_wrap(d3d);
    return d3d;
}
