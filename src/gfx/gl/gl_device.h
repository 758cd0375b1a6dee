// The OpenGL 3.3 backend of the Direct3D 8 interface.
#pragma once
#include "gfx/d3d8.h"

// A Direct3D object whose devices draw with OpenGL through the context the
// platform installed (gl_context.h); null when none is installed.
IDirect3D8* gl_create_direct3d();
