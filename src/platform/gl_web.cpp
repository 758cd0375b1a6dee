// OpenGL ES 3.0 in the browser: a WebGL 2 context on the page's canvas. The
// backend draws into its own framebuffer object; present copies the frame
// into the canvas, which takes the frame's size (the page's style letterboxes
// it in the window, as it does the software renderer's frames). The browser
// shows the canvas when the animation frame returns.
#include <GLES3/gl3.h>
#include <emscripten/html5.h>

#include <cstdio>

#include "platform/platform_internal.h"

static EMSCRIPTEN_WEBGL_CONTEXT_HANDLE s_context = 0;
static int s_canvas_width = 0, s_canvas_height = 0;

static int web_create(HWND, bool, GlProfile profile, char* why, int why_size)
{
    if (profile != GlProfile::es) {
        std::snprintf(why, size_t(why_size), "a browser offers OpenGL ES 3.0 (WebGL 2) only");
        return 0;
    }
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.majorVersion = 2;
    attributes.minorVersion = 0;
    // The frame is opaque and has its own depth buffer; the canvas needs
    // neither, nor smoothing of its edges.
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_FALSE;
    attributes.stencil = EM_FALSE;
    attributes.antialias = EM_FALSE;
    attributes.premultipliedAlpha = EM_FALSE;
    s_context = emscripten_webgl_create_context(SYS_WEB_CANVAS, &attributes);
    if (s_context <= 0) {
        std::snprintf(why, size_t(why_size), "the browser gave no WebGL 2 context (%d)",
                      int(s_context));
        s_context = 0;
        return 0;
    }
    emscripten_webgl_make_context_current(s_context);
    s_canvas_width = s_canvas_height = 0;
    return 1;
}

static void web_destroy()
{
    if (!s_context)
        return;
    emscripten_webgl_destroy_context(s_context);
    s_context = 0;
}

static void* web_get_proc(const char*)
{
    return nullptr; // the backend calls WebGL's functions directly
}

static void web_present(HWND, unsigned framebuffer, int width, int height)
{
    if (width != s_canvas_width || height != s_canvas_height) {
        emscripten_set_canvas_element_size(SYS_WEB_CANVAS, width, height);
        s_canvas_width = width;
        s_canvas_height = height;
    }
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, width, height);
    glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    sys_web_frame_shown();
}

const GlContextOps* sys_gl_web_ops()
{
    static const GlContextOps OPS = {web_create, web_destroy, web_get_proc, web_present};
    return &OPS;
}
