// The foreign window as X sees it. SDL draws in another program's window but
// never selects its events, so it never learns that the window was resized
// or destroyed; this asks the server directly, on a connection of its own,
// once a frame.
//
// The window's owner may destroy it at any moment, also between that
// question and the frame's drawing (XScreenSaver sends SIGTERM and closes
// its window at once). Drawing then fails with an X error, and SDL's own
// handler, which calls back into Xlib from inside the error, hangs the
// program. So while a foreign window is in use, X errors come here: one
// about the window ends the run, the rest are reported and passed over.
#include <X11/Xlib.h>

#include <cstdio>

#include "platform/platform_internal.h"

static Display* s_display = nullptr;
static Window s_window = 0;
static bool s_failed = false;
static bool s_gone = false;
static XErrorHandler s_previous_handler = nullptr;
static bool s_catching = false;

// Any X error while a foreign window is in use. Xlib forbids calling it back
// from here; only flags and a message.
static int catch_error(Display*, XErrorEvent* error)
{
    if (error->resourceid == s_window) {
        s_gone = true;
        return 0;
    }
    std::fprintf(stderr, "storm: X error %d (request %d.%d) passed over\n", int(error->error_code),
                 int(error->request_code), int(error->minor_code));
    return 0;
}

static int note_error(Display*, XErrorEvent*)
{
    s_failed = true;
    return 0;
}

// One round trip for the window's size; false when X reports an error.
static bool query_size(int* width, int* height)
{
    XErrorHandler previous = XSetErrorHandler(note_error);
    s_failed = false;
    Window root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    Status status = XGetGeometry(s_display, s_window, &root, &x, &y, &w, &h, &border, &depth);
    XSetErrorHandler(previous);
    if (!status || s_failed)
        return false;
    *width = int(w);
    *height = int(h);
    return true;
}

bool x11_foreign_open(uint32_t id, uint32_t* found, char* why, int why_size)
{
    x11_foreign_close();
    s_display = XOpenDisplay(nullptr);
    if (!s_display) {
        std::snprintf(why, size_t(why_size), "cannot open the X display");
        return false;
    }
    s_window = id ? Window(id) : DefaultRootWindow(s_display);
    int width = 0, height = 0;
    if (!query_size(&width, &height)) {
        std::snprintf(why, size_t(why_size), "there is no window 0x%lx on this display",
                      static_cast<unsigned long>(s_window));
        x11_foreign_close();
        return false;
    }
    *found = uint32_t(s_window);
    s_gone = false;
    s_previous_handler = XSetErrorHandler(catch_error);
    s_catching = true;
    return true;
}

bool x11_foreign_size(int* width, int* height)
{
    return s_display && !s_gone && query_size(width, height);
}

void x11_foreign_close()
{
    // SDL may have put its own handler back already when it closed its
    // display; a handler is only taken back while it is still ours.
    if (s_catching) {
        XErrorHandler current = XSetErrorHandler(s_previous_handler);
        if (current != catch_error)
            XSetErrorHandler(current);
    }
    s_catching = false;
    if (s_display)
        XCloseDisplay(s_display);
    s_display = nullptr;
    s_window = 0;
}
