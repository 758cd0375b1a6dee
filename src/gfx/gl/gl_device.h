// The OpenGL backend of the Direct3D 8 interface, on desktop OpenGL 3.3 or
// OpenGL ES 3.0 (WebGL 2).
#pragma once
#include "gfx/d3d8.h"
#include "gfx/gl/gl_context.h"

// A Direct3D object whose devices draw with OpenGL through the context the
// platform installed (gl_context.h); null when none is installed.
IDirect3D8* gl_create_direct3d();

// Opens the GL context for `window` through the platform's operations and
// checks that the backend can run on it: OpenGL 3.3 core or OpenGL ES 3.0 as
// `profile` asks, its shaders compile, and with `hardware_only` a renderer
// that is not a software rasterizer. 1 when usable (the context stays current
// for the devices); otherwise 0 with the reason in `why` and nothing left
// open. Opening an open backend returns 1.
int gl_open(HWND window, bool vsync, bool hardware_only, GlProfile profile, char* why,
            int why_size);
// Releases the programs and the context; call after the devices are released.
void gl_close();
// GL_RENDERER of the open context, or "".
const char* gl_renderer_name();
// The profile of the open context (desktop when none is open).
GlProfile gl_profile();
// Whether a GL_RENDERER string names one of Mesa's software rasterizers.
bool gl_renderer_is_software(const char* renderer);
