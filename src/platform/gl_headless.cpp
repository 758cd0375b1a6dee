// OpenGL (desktop or ES) without any display: an EGL context on Mesa's surfaceless platform
// (no X server, no window system at all), or on the default display with a
// small pbuffer where that platform is missing. The GL backend renders into
// its own framebuffer object, so the context needs no surface of its own;
// present only hands the queued work to the driver. EGL is loaded through
// libepoxy on first use, so a machine without it fails here, not at start.
#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <cstdio>

#include "platform/platform_internal.h"

#ifndef EGL_PLATFORM_SURFACELESS_MESA
#define EGL_PLATFORM_SURFACELESS_MESA 0x31DD
#endif

static EGLDisplay s_display = EGL_NO_DISPLAY;
static EGLContext s_context = EGL_NO_CONTEXT;
static EGLSurface s_surface = EGL_NO_SURFACE;

static EGLDisplay open_display()
{
    if (epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless") &&
        epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_EXT_platform_base")) {
        EGLDisplay display =
            eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
            return display;
    }
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr))
        return display;
    return EGL_NO_DISPLAY;
}

static void release()
{
    if (s_display == EGL_NO_DISPLAY)
        return;
    eglMakeCurrent(s_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (s_surface != EGL_NO_SURFACE)
        eglDestroySurface(s_display, s_surface);
    if (s_context != EGL_NO_CONTEXT)
        eglDestroyContext(s_display, s_context);
    eglTerminate(s_display);
    eglReleaseThread();
    s_display = EGL_NO_DISPLAY;
    s_context = EGL_NO_CONTEXT;
    s_surface = EGL_NO_SURFACE;
}

static int fail(char* why, int why_size, const char* text)
{
    std::snprintf(why, size_t(why_size), "%s (EGL error 0x%x)", text,
                  s_display != EGL_NO_DISPLAY ? unsigned(eglGetError()) : 0u);
    release();
    return 0;
}

static int headless_create(HWND, bool, GlProfile profile, char* why, int why_size)
{
    if (!epoxy_has_egl()) {
        std::snprintf(why, size_t(why_size), "no EGL library");
        return 0;
    }
    s_display = open_display();
    if (s_display == EGL_NO_DISPLAY)
        return fail(why, why_size, "no EGL display");
    bool es = profile == GlProfile::es;
    if (!eglBindAPI(es ? EGL_OPENGL_ES_API : EGL_OPENGL_API))
        return fail(why, why_size, es ? "EGL offers no OpenGL ES" : "EGL offers no desktop OpenGL");
    // Surfaceless configs carry no surface type; a pbuffer one is the
    // fallback's.
    EGLint renderable = es ? EGL_OPENGL_ES3_BIT : EGL_OPENGL_BIT;
    const EGLint config_attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                        renderable, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(s_display, config_attributes, &config, 1, &count) || count < 1) {
        const EGLint any_surface[] = {EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, renderable,
                                      EGL_NONE};
        if (!eglChooseConfig(s_display, any_surface, &config, 1, &count) || count < 1)
            return fail(why, why_size, "no EGL config for the context");
    }
    const EGLint desktop_attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                         3,
                                         EGL_CONTEXT_MINOR_VERSION,
                                         3,
                                         EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                         EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                         EGL_NONE};
    const EGLint es_attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0,
                                    EGL_NONE};
    s_context = eglCreateContext(s_display, config, EGL_NO_CONTEXT,
                                 es ? es_attributes : desktop_attributes);
    if (s_context == EGL_NO_CONTEXT)
        return fail(why, why_size, es ? "no OpenGL ES 3.0 context" : "no OpenGL 3.3 core context");
    if (!epoxy_has_egl_extension(s_display, "EGL_KHR_surfaceless_context")) {
        const EGLint pbuffer_attributes[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        s_surface = eglCreatePbufferSurface(s_display, config, pbuffer_attributes);
        if (s_surface == EGL_NO_SURFACE)
            return fail(why, why_size, "no pbuffer");
    }
    if (!eglMakeCurrent(s_display, s_surface, s_surface, s_context))
        return fail(why, why_size, "the context cannot be made current");
    return 1;
}

static void* headless_get_proc(const char* name)
{
    return reinterpret_cast<void*>(eglGetProcAddress(name));
}

static void headless_present(HWND, unsigned, int, int)
{
    // Nothing to show; let the driver start on the frame.
    glFlush();
}

const GlContextOps* sys_gl_headless_ops()
{
    static const GlContextOps OPS = {headless_create, release, headless_get_proc, headless_present};
    return &OPS;
}
