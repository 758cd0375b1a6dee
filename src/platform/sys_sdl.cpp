// SDL2 platform layer. Owns the SDL window, its renderer and the streaming
// texture frames are shown through, and translates SDL's events into the
// window messages the rest of the shell understands. Headless runs keep a
// SysWindow without an SDL window: every call here then quietly does nothing
// visible, so the shell above needs no special cases.
//
// Full screen stands in for the classic display-mode change: the window
// covers the whole desktop, the frame is shown letterboxed with its own
// proportions, and the window's size never reaches the program as a size
// change (the picture a person sees keeps the back buffer's shape). The
// pointer is hidden and held in relative mode, so the camera turns without
// bounds. A window keeps its pointer visible and free: the camera turns by
// the motion made over it.
//
// A screensaver draws in a window another program owns (a foreign window):
// it takes no input from it, leaves the pointer as it is, shows the frame
// letterboxed at the window's current size, and ends on SIGTERM or SIGINT,
// which XScreenSaver sends, through a flag the frame loop reads.
#include "platform/sys.h"

#include <SDL.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "gfx/backend.h"
#include "gfx/gl/gl_context.h"
#include "input/dinput.h"
#include "platform/platform_internal.h"
#include "snd/snd_output.h"

static bool s_headless = true;
static bool s_initialised = false;
static SysWindow s_headless_window;
static bool s_present_wait = true;
static bool s_gl_window = false;

static bool s_foreign = false;
static uint32_t s_foreign_id = 0;   // the X window found for it
static bool s_foreign_gone = false; // it went away: the run is over
static volatile std::sig_atomic_t s_stop_signal = 0;
static struct sigaction s_old_term, s_old_int;

static void on_stop_signal(int)
{
    s_stop_signal = 1;
}

static void catch_stop_signals(bool catching)
{
    if (!catching) {
        sigaction(SIGTERM, &s_old_term, nullptr);
        sigaction(SIGINT, &s_old_int, nullptr);
        return;
    }
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // Interrupted calls carry on: the flag is read once a frame.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &s_old_term);
    sigaction(SIGINT, &action, &s_old_int);
}

// The relative mode follows the focus of a full-screen window; a window
// never takes the pointer.
static void follow_focus(SysWindow* window, bool active)
{
    if (window && window->fullscreen)
        SDL_SetRelativeMouseMode(active ? SDL_TRUE : SDL_FALSE);
    else if (!active)
        SDL_SetRelativeMouseMode(SDL_FALSE);
}

static void sys_present_pixels(HWND window, const uint32_t* pixels, int width, int height,
                               int pitch_bytes);

int sys_run(const SysProgram& program, int argc, const char* const* argv)
{
    int started = program.start(argc, argv);
    if (started != SYS_RUNNING)
        return started;
    while (program.frame()) {
    }
    return program.finish();
}

int sys_init(bool headless)
{
    // Relative motion in the device's own units, however the frame is scaled
    // on the screen.
    SDL_SetHint(SDL_HINT_MOUSE_RELATIVE_SCALING, "0");
    // A screensaver's signals are its own: SDL would turn them into a quit
    // event, one among the messages the loop takes one a frame.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, s_foreign ? "1" : "0");
    Uint32 systems = SDL_INIT_EVENTS | SDL_INIT_TIMER;
    if (!headless)
        systems |= SDL_INIT_VIDEO;
    if (SDL_Init(systems) != 0) {
        std::fprintf(stderr, "storm: cannot open a display (%s); try --headless\n", SDL_GetError());
        return 0;
    }
    s_headless = headless;
    s_initialised = true;
    gl_set_context_ops(headless ? sys_gl_headless_ops() : sys_gl_window_ops());
    if (!headless) {
        gfx_set_present_target(sys_present_pixels);
        snd_set_output(sys_audio_output());
        if (!s_foreign)
            sys_mouse_attach(true);
    }
    s_foreign_gone = false;
    return 1;
}

void sys_set_foreign_window(bool foreign)
{
    // From here on, so that a signal during the start-up is not lost but
    // ends the run at its first frame.
    if (foreign && !s_foreign) {
        s_stop_signal = 0;
        catch_stop_signals(true);
    } else if (!foreign && s_foreign) {
        catch_stop_signals(false);
    }
    s_foreign = foreign;
}

int sys_find_foreign_window(uint32_t native_id)
{
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::string(driver) != "x11") {
        std::fprintf(stderr, "storm: drawing in another program's window needs an X display "
                             "(SDL_VIDEODRIVER=x11)\n");
        return 0;
    }
    char why[128];
    if (!x11_foreign_open(native_id, &s_foreign_id, why, sizeof why)) {
        std::fprintf(stderr, "storm: %s\n", why);
        return 0;
    }
    return 1;
}

bool sys_stop_requested()
{
    return s_stop_signal != 0 || s_foreign_gone;
}

void sys_shutdown()
{
    if (!s_initialised)
        return;
    if (!s_headless) {
        if (!s_foreign)
            sys_mouse_attach(false);
        snd_set_output(nullptr);
        gfx_set_present_target(nullptr);
    }
    gl_set_context_ops(nullptr);
    // SDL lets go of the foreign window while X errors about it, now gone
    // perhaps, are still caught.
    SDL_Quit();
    if (s_foreign)
        x11_foreign_close();
    s_initialised = false;
    s_headless = true;
}

uint32_t sys_ticks()
{
    // Wraps after 49.7 days exactly like the classic counter; callers take
    // unsigned differences.
    return static_cast<uint32_t>(SDL_GetTicks64());
}

double sys_seconds()
{
    static const double period = 1.0 / double(SDL_GetPerformanceFrequency());
    return double(SDL_GetPerformanceCounter()) * period;
}

static void set_window_icon(SDL_Window* window)
{
    static uint32_t pixels[ICON_SIZE * ICON_SIZE];
    if (!sys_draw_icon(ICON_MAIN, pixels))
        return;
    SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(pixels, ICON_SIZE, ICON_SIZE, 32,
                                                           ICON_SIZE * 4, SDL_PIXELFORMAT_ARGB8888);
    if (!icon)
        return;
    SDL_SetWindowIcon(window, icon);
    SDL_FreeSurface(icon);
}

// Wraps the foreign window found by sys_find_foreign_window; made for
// OpenGL when the GL backend may draw in it, and without where that fails.
static SDL_Window* wrap_foreign_window()
{
    const void* native = reinterpret_cast<const void*>(uintptr_t(s_foreign_id));
    SDL_Window* window = nullptr;
    if (s_gl_window) {
        sys_gl_window_attributes(GlProfile::desktop);
        SDL_SetHint(SDL_HINT_VIDEO_FOREIGN_WINDOW_OPENGL, "1");
        window = SDL_CreateWindowFrom(native);
    }
    if (!window) {
        SDL_SetHint(SDL_HINT_VIDEO_FOREIGN_WINDOW_OPENGL, "0");
        window = SDL_CreateWindowFrom(native);
    }
    return window;
}

static HWND create_foreign_window(int width, int height)
{
    SDL_Window* window = s_foreign_id ? wrap_foreign_window() : nullptr;
    if (!window) {
        std::fprintf(stderr, "storm: cannot draw in window 0x%lx: %s\n",
                     static_cast<unsigned long>(s_foreign_id), SDL_GetError());
        return nullptr;
    }
    SysWindow* result = new SysWindow;
    result->window = window;
    result->foreign = true;
    result->outer_width = width;
    result->outer_height = height;
    return result;
}

HWND sys_create_window(const char* title, int width, int height, bool fullscreen)
{
    if (s_foreign && !s_headless)
        return create_foreign_window(width, height);
    if (s_headless) {
        s_headless_window = SysWindow{};
        s_headless_window.fullscreen = fullscreen;
        s_headless_window.outer_width = width;
        s_headless_window.outer_height = height;
        return &s_headless_window;
    }

    // Created at the desktop's own size in full screen: a window manager
    // makes it full screen, and where there is none (a kiosk, a bare X
    // server) it already covers the screen.
    SDL_Rect place = {0, 0, width, height};
    Uint32 flags = SDL_WINDOW_HIDDEN;
    if (fullscreen) {
        SDL_GetDisplayBounds(0, &place);
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    } else {
        flags |= SDL_WINDOW_RESIZABLE;
    }
    SDL_Window* window = nullptr;
    if (s_gl_window) {
        sys_gl_window_attributes(GlProfile::desktop);
        window =
            SDL_CreateWindow(title, place.x, place.y, place.w, place.h, flags | SDL_WINDOW_OPENGL);
    }
    // Without OpenGL the window is still good for the software backend.
    if (!window)
        window = SDL_CreateWindow(title, place.x, place.y, place.w, place.h, flags);
    if (!window) {
        std::fprintf(stderr, "storm: cannot create the window: %s\n", SDL_GetError());
        return nullptr;
    }
    set_window_icon(window);
    if (fullscreen)
        SDL_ShowCursor(SDL_DISABLE);
    // Typing never feeds text anywhere; without this every key press would
    // also queue a text event.
    SDL_StopTextInput();

    SysWindow* result = new SysWindow;
    result->window = window;
    result->fullscreen = fullscreen;
    result->outer_width = width;
    result->outer_height = height;
    return result;
}

// The requested size is the outer size, frame and caption included, as the
// classic window had it; the frame is only known once the window is mapped.
static void fit_outer_size(SysWindow* window)
{
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(window->window, &top, &left, &bottom, &right) != 0)
        return;
    int client_width = window->outer_width - left - right;
    int client_height = window->outer_height - top - bottom;
    if (client_width < 1 || client_height < 1)
        return;
    SDL_SetWindowSize(window->window, client_width, client_height);
    SDL_SetWindowPosition(window->window, left, top);
}

void sys_show_window(HWND window)
{
    // A foreign window is shown or hidden by its owner.
    if (!window || !window->window || window->foreign)
        return;
    SDL_ShowWindow(window->window);
    if (window->fullscreen)
        follow_focus(window, true);
    else
        fit_outer_size(window);
}

// Mouse and touch input is raw input: it bypasses the message queue and goes
// straight to the mouse device.
static void drain_pointer_events()
{
    SDL_Event events[64];
    for (;;) {
        int count = SDL_PeepEvents(events, 64, SDL_GETEVENT, SDL_MOUSEMOTION, SDL_MOUSEWHEEL);
        if (count <= 0)
            break;
        for (int i = 0; i < count; ++i)
            sys_mouse_event(&events[i]);
    }
    SDL_FlushEvents(SDL_FINGERDOWN, SDL_FINGERMOTION);
}

static uintptr_t virtual_key(SDL_Keycode key)
{
    if (key == SDLK_ESCAPE)
        return VK_ESCAPE;
    if (key == SDLK_F12)
        return VK_F12;
    if (key >= SDLK_a && key <= SDLK_z)
        return static_cast<uintptr_t>('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9)
        return static_cast<uintptr_t>(key);
    return 0;
}

static intptr_t pack_size(int width, int height)
{
    auto word = [](int v) { return static_cast<intptr_t>(v < 0 ? 0 : (v > 0xFFFF ? 0xFFFF : v)); };
    return word(width) | (word(height) << 16);
}

static void translate_window_event(const SDL_WindowEvent& event, HWND window, MSG* msg)
{
    switch (event.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        // Full screen shows the frame with its own proportions whatever the
        // window's size: there is no size change to report.
        if (window && window->fullscreen)
            break;
        msg->message = WM_SIZE;
        msg->lParam = pack_size(event.data1, event.data2);
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        follow_focus(window, true);
        msg->message = WM_ACTIVATE;
        msg->wParam = WA_ACTIVE;
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        // Give the pointer back to the desktop at once.
        follow_focus(window, false);
        msg->message = WM_ACTIVATE;
        msg->wParam = WA_INACTIVE;
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        msg->message = WM_PAINT;
        break;
    case SDL_WINDOWEVENT_CLOSE:
        msg->message = WM_CLOSE;
        break;
    default:
        break;
    }
}

// Turns one SDL event into a window message. Events with no counterpart
// still count as the iteration's one message, with message number 0.
static void translate_event(const SDL_Event& event, HWND window, MSG* msg)
{
    *msg = MSG{window, 0, 0, 0};
    switch (event.type) {
    case SDL_QUIT:
        msg->message = WM_CLOSE;
        break;
    case SDL_KEYDOWN:
        msg->message = WM_KEYDOWN;
        msg->wParam = virtual_key(event.key.keysym.sym);
        break;
    case SDL_KEYUP:
        msg->message = WM_KEYUP;
        msg->wParam = virtual_key(event.key.keysym.sym);
        break;
    case SDL_WINDOWEVENT:
        translate_window_event(event.window, window, msg);
        break;
    case SDL_AUDIODEVICEREMOVED:
        if (!event.adevice.iscapture)
            sys_audio_device_removed(event.adevice.which);
        break;
    default:
        break;
    }
}

int sys_peek_message(HWND window, MSG* msg)
{
    if (!s_initialised)
        return 0;
    SDL_PumpEvents();
    if (s_foreign) {
        // No input: whatever reaches SDL is dropped unread.
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        return 0;
    }
    drain_pointer_events();
    SDL_Event event;
    if (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) != 1)
        return 0;
    translate_event(event, window, msg);
    return 1;
}

void sys_set_present_wait(bool wait)
{
    s_present_wait = wait;
}

void sys_set_gl_window(bool gl)
{
    s_gl_window = gl;
}

SysRect sys_letterbox(int area_width, int area_height, int width, int height)
{
    if (area_width <= 0 || area_height <= 0 || width <= 0 || height <= 0)
        return SysRect{0, 0, 0, 0};
    // Whichever side fills the area first sets the scale; the other is
    // rounded to whole pixels and centred.
    SysRect rect{0, 0, area_width, area_height};
    if (int64_t(area_width) * height > int64_t(area_height) * width) {
        rect.width = int((int64_t(area_height) * width * 2 + height) / (2 * int64_t(height)));
        rect.x = (area_width - rect.width) / 2;
    } else {
        rect.height = int((int64_t(area_width) * height * 2 + width) / (2 * int64_t(width)));
        rect.y = (area_height - rect.height) / 2;
    }
    return rect;
}

static bool ensure_texture(SysWindow* window, int width, int height)
{
    if (!window->renderer) {
        Uint32 flags = s_present_wait ? SDL_RENDERER_PRESENTVSYNC : 0;
        window->renderer = SDL_CreateRenderer(window->window, -1, flags);
        // A foreign window's visual may suit no accelerated renderer.
        if (!window->renderer && window->foreign)
            window->renderer = SDL_CreateRenderer(window->window, -1, SDL_RENDERER_SOFTWARE);
        if (!window->renderer)
            return false;
    }
    if (window->texture && window->texture_width == width && window->texture_height == height)
        return true;
    if (window->texture)
        SDL_DestroyTexture(window->texture);
    window->texture = SDL_CreateTexture(window->renderer, SDL_PIXELFORMAT_ARGB8888,
                                        SDL_TEXTUREACCESS_STREAMING, width, height);
    window->texture_width = width;
    window->texture_height = height;
    return window->texture != nullptr;
}

bool sys_foreign_size(int* width, int* height)
{
    if (!x11_foreign_size(width, height)) {
        s_foreign_gone = true;
        return false;
    }
    return true;
}

// SDL keeps the size a foreign window had when it was wrapped, and its
// renderer draws to that size; after a resize the window is wrapped afresh
// (which leaves the window itself alone) with a renderer of the new size.
static bool follow_foreign_size(SysWindow* window, int width, int height)
{
    int known_width = 0, known_height = 0;
    SDL_GetWindowSize(window->window, &known_width, &known_height);
    if (known_width == width && known_height == height)
        return true;
    if (window->texture)
        SDL_DestroyTexture(window->texture);
    if (window->renderer)
        SDL_DestroyRenderer(window->renderer);
    window->texture = nullptr;
    window->renderer = nullptr;
    SDL_DestroyWindow(window->window);
    window->window = wrap_foreign_window();
    if (!window->window)
        s_foreign_gone = true;
    return window->window != nullptr;
}

// Shows a finished X8R8G8B8 frame in the window: stretched over the client
// area when windowed, scaled with its aspect kept (black bars) in full screen
// and in a foreign window. Does nothing for a headless window. sys_init makes
// it the device's presentation target.
static void sys_present_pixels(HWND window, const uint32_t* pixels, int width, int height,
                               int pitch_bytes)
{
    if (!window || !window->window || !pixels || width <= 0 || height <= 0)
        return;
    int area_width = 0, area_height = 0;
    if (window->foreign) {
        if (!sys_foreign_size(&area_width, &area_height) ||
            !follow_foreign_size(window, area_width, area_height))
            return;
    }
    if (!ensure_texture(window, width, height))
        return;
    SDL_UpdateTexture(window->texture, nullptr, pixels, pitch_bytes);
    SDL_SetRenderDrawColor(window->renderer, 0, 0, 0, 255);
    SDL_RenderClear(window->renderer);
    // A window shows the whole frame over its client area, as the classic
    // windowed present did; full screen keeps the frame's shape.
    if (!window->foreign)
        SDL_GetRendererOutputSize(window->renderer, &area_width, &area_height);
    SDL_Rect dest = {0, 0, area_width, area_height};
    if (window->fullscreen || window->foreign) {
        SysRect box = sys_letterbox(area_width, area_height, width, height);
        dest = SDL_Rect{box.x, box.y, box.width, box.height};
    }
    SDL_RenderCopy(window->renderer, window->texture, nullptr, &dest);
    SDL_RenderPresent(window->renderer);
}

const char* sys_executable_dir()
{
    static std::string dir;
    static bool looked = false;
    if (!looked) {
        looked = true;
        if (char* base = SDL_GetBasePath()) {
            dir = base;
            SDL_free(base);
        }
    }
    return dir.c_str();
}
