// The OpenGL context under the GL backend. The backend only draws; making a
// context, finding GL's functions and putting a finished frame on the screen
// belong to the platform layer, which installs its operations here (an SDL
// window with a GL context when there is a display, EGL without any display
// when the run is headless). Without them the GL backend cannot start.
#pragma once
#include "base/types.h"

// The two kinds of context the backend draws with: desktop OpenGL 3.3 core,
// and OpenGL ES 3.0, which is what WebGL 2 is and what boards with ES-only
// drivers offer.
enum class GlProfile { desktop, es };

struct GlContextOps {
    // Creates a context of `profile` for `window` (null or a headless
    // window: an off-screen one) and makes it current. `vsync`: presenting
    // waits for the display's refresh. 1 on success, 0 with a reason in `why`.
    int (*create)(HWND window, bool vsync, GlProfile profile, char* why, int why_size);
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

// Counts the contexts the backend has lost and been given anew (a browser
// drops WebGL contexts). What was made in an older generation is gone with
// its context and is made again when next needed; the managed textures keep
// their texels in memory for that.
unsigned gl_context_generation();
// The platform says the context was lost and a new one is current.
void gl_context_restored();
// The platform says the context was lost and none will come back (or, with
// false, that a new one was opened): devices answer D3DERR_DEVICELOST at
// their next Present while it is gone.
void gl_context_set_gone(bool gone);
bool gl_context_gone();
