// OpenGL on the SDL window: the context the GL backend draws with, and the
// present that puts its finished frame on the screen. The frame is copied
// from the backend's framebuffer object into the window's own, stretched
// over the client area in a window and letterboxed with its proportions in
// full screen and in a screensaver's window (as the software frames are shown), then the buffers
// swap; with vsync on, the swap waits for the display.
#include <SDL.h>
#include <epoxy/gl.h>

#include <cstdio>

#include "platform/platform_internal.h"
#include "platform/sys.h"

static SDL_GLContext s_context = nullptr;
static SDL_Window* s_context_window = nullptr;

void sys_gl_window_attributes(GlProfile profile)
{
    bool es = profile == GlProfile::es;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, es ? 0 : 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK,
                        es ? SDL_GL_CONTEXT_PROFILE_ES : SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // The backend draws and tests depth in its own framebuffer; the
    // window's only receives finished frames.
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
}

static int window_create(HWND window, bool vsync, GlProfile profile, char* why, int why_size)
{
    if (!window || !window->window) {
        std::snprintf(why, size_t(why_size), "no window to draw in");
        return 0;
    }
    if (!(SDL_GetWindowFlags(window->window) & SDL_WINDOW_OPENGL)) {
        std::snprintf(why, size_t(why_size), "the window was made without OpenGL");
        return 0;
    }
    sys_gl_window_attributes(profile);
    s_context = SDL_GL_CreateContext(window->window);
    if (!s_context) {
        std::snprintf(why, size_t(why_size), "%s", SDL_GetError());
        return 0;
    }
    s_context_window = window->window;
    SDL_GL_SetSwapInterval(vsync ? 1 : 0);
    return 1;
}

static void window_destroy()
{
    if (!s_context)
        return;
    SDL_GL_MakeCurrent(s_context_window, nullptr);
    SDL_GL_DeleteContext(s_context);
    s_context = nullptr;
    s_context_window = nullptr;
}

static void* window_get_proc(const char* name)
{
    return SDL_GL_GetProcAddress(name);
}

static void window_present(HWND window, unsigned framebuffer, int width, int height)
{
    if (!window || !window->window) {
        glFlush();
        return;
    }
    // A foreign window's drawable follows its real size, which SDL does not
    // know; ask X for it.
    int area_width = 0, area_height = 0;
    if (!window->foreign) {
        SDL_GL_GetDrawableSize(window->window, &area_width, &area_height);
    } else if (!sys_foreign_size(&area_width, &area_height)) {
        glFlush();
        return;
    }
    SysRect dest = {0, 0, area_width, area_height};
    if (window->fullscreen || window->foreign)
        dest = sys_letterbox(area_width, area_height, width, height);

    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glViewport(0, 0, area_width, area_height);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // Both framebuffers keep their bottom row first, so the copy needs no
    // flip; the destination's top edge is measured from the bottom.
    int bottom = area_height - dest.y - dest.height;
    glBlitFramebuffer(0, 0, width, height, dest.x, bottom, dest.x + dest.width,
                      bottom + dest.height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    SDL_GL_SwapWindow(window->window);
}

const GlContextOps* sys_gl_window_ops()
{
    static const GlContextOps OPS = {window_create, window_destroy, window_get_proc,
                                     window_present};
    return &OPS;
}
