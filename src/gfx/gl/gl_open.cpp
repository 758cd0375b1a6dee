// Opening the backend: the platform makes the context, this checks that the
// backend can live on it before any device is promised. A context is kept
// from gl_open to gl_close; devices draw in it and never own it.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "gfx/gl/gl_context.h"
#include "gfx/gl/gl_device.h"
#include "gfx/gl/gl_internal.h"

static bool s_open = false;
static GlProfile s_profile = GlProfile::desktop;
static char s_renderer[128] = "";

static void say(char* why, int why_size, const char* text)
{
    if (why && why_size > 0)
        std::snprintf(why, size_t(why_size), "%s", text);
}

bool gl_renderer_is_software(const char* renderer)
{
    static const char* const SOFTWARE[] = {"llvmpipe", "softpipe", "swrast", "software"};
    char lower[128];
    size_t n = 0;
    for (; renderer[n] && n + 1 < sizeof lower; ++n)
        lower[n] = char(std::tolower(static_cast<unsigned char>(renderer[n])));
    lower[n] = '\0';
    for (const char* name : SOFTWARE) {
        if (std::strstr(lower, name))
            return true;
    }
    return false;
}

// Whether the current context is of `profile`, at the version it needs.
static bool context_fits(GlProfile profile)
{
    if (profile == GlProfile::es)
        return !gl_api_is_desktop() && gl_api_version() >= 30;
    return gl_api_is_desktop() && gl_api_version() >= 33;
}

static const char* profile_name(GlProfile profile)
{
    return profile == GlProfile::es ? "OpenGL ES 3.0" : "OpenGL 3.3";
}

int gl_open(HWND window, bool vsync, bool hardware_only, GlProfile profile, char* why, int why_size)
{
    if (s_open)
        return 1;
    const GlContextOps* ops = gl_context_ops();
    if (!ops) {
        say(why, why_size, "this platform makes no OpenGL contexts");
        return 0;
    }
    char reason[200] = "unknown reason";
    if (!ops->create(window, vsync, profile, reason, sizeof reason)) {
        char text[256];
        std::snprintf(text, sizeof text, "no %s context: %s", profile_name(profile), reason);
        say(why, why_size, text);
        return 0;
    }
    if (!context_fits(profile)) {
        char text[256];
        std::snprintf(text, sizeof text, "the context is %s %d.%d, not %s",
                      gl_api_is_desktop() ? "OpenGL" : "OpenGL ES", gl_api_version() / 10,
                      gl_api_version() % 10, profile_name(profile));
        say(why, why_size, text);
        ops->destroy();
        return 0;
    }
    s_profile = profile;
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    std::snprintf(s_renderer, sizeof s_renderer, "%s", renderer ? renderer : "unknown");
    if (hardware_only && gl_renderer_is_software(s_renderer)) {
        char text[256];
        std::snprintf(text, sizeof text, "the OpenGL renderer (%s) is a software one", s_renderer);
        say(why, why_size, text);
        s_renderer[0] = '\0';
        s_profile = GlProfile::desktop;
        ops->destroy();
        return 0;
    }
    if (!gl_programs_check(why, why_size)) {
        gl_programs_release();
        s_renderer[0] = '\0';
        s_profile = GlProfile::desktop;
        ops->destroy();
        return 0;
    }
    s_open = true;
    gl_context_set_gone(false);
    return 1;
}

void gl_close()
{
    if (!s_open)
        return;
    gl_programs_release();
    if (const GlContextOps* ops = gl_context_ops())
        ops->destroy();
    s_renderer[0] = '\0';
    s_open = false;
    s_profile = GlProfile::desktop;
}

GlProfile gl_profile()
{
    return s_profile;
}

const char* gl_renderer_name()
{
    return s_renderer;
}
