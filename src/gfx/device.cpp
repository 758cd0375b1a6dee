// Display device set-up. Owns g_d3d, g_device, g_aspect and g_gfx_ready. The
// device is found by trying a fixed ladder of back-buffer formats, each with
// hardware and then software vertex processing; nothing queries the display's
// formats first. The device is never reset: a size change only moves the
// aspect ratio the camera projection reads.
#include "gfx/device.h"

#include "base/log.h"

IDirect3D8* g_d3d = nullptr;
IDirect3DDevice8* g_device = nullptr;
float g_aspect = 1.0f;
int g_gfx_ready = 0;

static float aspect_for(int width, int height, int fullscreen)
{
    float h = height ? static_cast<float>(height) : 1.0f;
    float aspect = static_cast<float>(width) / h;
    if (!fullscreen && aspect < 1.0f)
        aspect = 1.0f;
    return aspect;
}

struct LadderStep {
    D3DFORMAT format;
    DWORD behaviour;
    const char* log_before; // printed with width and height, or null
};

static constexpr LadderStep FORMAT_LADDER[] = {
    {D3DFMT_X8R8G8B8, D3DCREATE_HARDWARE_VERTEXPROCESSING, nullptr},
    {D3DFMT_X8R8G8B8, D3DCREATE_SOFTWARE_VERTEXPROCESSING, nullptr},
    {D3DFMT_R8G8B8, D3DCREATE_HARDWARE_VERTEXPROCESSING, "failed ... trying %u x %u x 24"},
    {D3DFMT_R8G8B8, D3DCREATE_SOFTWARE_VERTEXPROCESSING, nullptr},
    {D3DFMT_R5G6B5, D3DCREATE_HARDWARE_VERTEXPROCESSING, "failed ... trying %u x %u x 16"},
    {D3DFMT_R5G6B5, D3DCREATE_SOFTWARE_VERTEXPROCESSING, nullptr},
};

int _gfx_init(int width, int height, int fullscreen)
{
    g_d3d = Direct3DCreate8(D3D_SDK_VERSION);
    if (!g_d3d) {
        log_printf("failed to create direct 3d object");
        return 0;
    }
    D3DDISPLAYMODE mode;
    if (FAILED(g_d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode))) {
        log_printf("failed to retrieve current display mode");
        return 0;
    }

    D3DPRESENT_PARAMETERS params = {};
    params.BackBufferWidth = static_cast<UINT>(width);
    params.BackBufferHeight = static_cast<UINT>(height);
    params.BackBufferCount = 1;
    params.MultiSampleType = D3DMULTISAMPLE_NONE;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.hDeviceWindow = nullptr;
    params.Windowed = fullscreen ? 0 : 1;
    params.EnableAutoDepthStencil = 1;
    params.AutoDepthStencilFormat = D3DFMT_D16;
    params.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;

    log_printf("trying %u x %u x 32", unsigned(width), unsigned(height));
    bool created = false;
    for (const LadderStep& step : FORMAT_LADDER) {
        if (step.log_before)
            log_printf(step.log_before, unsigned(width), unsigned(height));
        params.BackBufferFormat = step.format;
        if (SUCCEEDED(g_d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, g_hwnd,
                                          step.behaviour, &params, &g_device))) {
            created = true;
            break;
        }
    }
    if (!created) {
        log_printf("failed ...");
        return 0;
    }
    log_printf("done ...");

    g_aspect = aspect_for(width, height, fullscreen);
    g_gfx_ready = 1;
    log_printf("_gfx_init() is done");
    return 1;
}

int _gfx_resize(int width, int height, int fullscreen)
{
    if (!g_gfx_ready)
        return 0;
    g_aspect = aspect_for(width, height, fullscreen);
    return 1;
}

int _gfx_deinit()
{
    log_printf("_gfx_deinit()");
    if (g_device) {
        g_device->Release();
        g_device = nullptr;
    }
    if (g_d3d) {
        g_d3d->Release();
        g_d3d = nullptr;
    }
    return 1;
}
