// The OpenGL backend of a build that has none (the browser's): no device can
// be made, and opening it says why, so the program takes the software
// renderer as it does on a machine without OpenGL.
#include <cstdio>

#include "gfx/gl/gl_device.h"

IDirect3D8* gl_create_direct3d()
{
    return nullptr;
}

int gl_open(HWND, bool, bool, GlProfile, char* why, int why_size)
{
    std::snprintf(why, size_t(why_size), "this build has no OpenGL backend");
    return 0;
}

void gl_close() {}

const char* gl_renderer_name()
{
    return "";
}

GlProfile gl_profile()
{
    return GlProfile::desktop;
}
