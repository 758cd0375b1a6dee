// The OpenGL context under the GL backend. The backend only draws; making a
// context, finding GL's functions and putting a finished frame on the screen
// belong to the platform layer, which installs its operations here (an SDL
// window with a GL context when there is a display, EGL without any display
// when the run is headless). Without them the GL backend cannot start.
#pragma once
#include "base/types.h"

struct GlContextOps {
    // Creates an OpenGL 3.3 core context for `window` (null or a headless
    // window: an off-screen one) and makes it current. `vsync`: presenting
    // waits for the display's refresh. 1 on success, 0 with a reason in `why`.
    int (*create)(HWND window, bool vsync, char* why, int why_size);
    // Releases the context made by create.
    void (*destroy)();
    // GL's functions by name, for the loader.
    void* (*get_proc)(const char* name);
    // Shows the frame held in the framebuffer object `framebuffer` (width x
    // height, the picture's bottom row at y = 0 as GL keeps it) in the
    // window: stretched over the client area in a window, letterboxed with
    // its own proportions in full screen; then swaps. Nothing for a headless
    // window.
    void (*present)(HWND window, unsigned framebuffer, int width, int height);
};

// Installs the platform's operations (kept by pointer); null removes them.
void gl_set_context_ops(const GlContextOps* ops);
const GlContextOps* gl_context_ops();
