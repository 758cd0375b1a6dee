// The platform layer: the one window, its message queue, the millisecond tick
// counter, presentation of finished frames, the audio device and the system
// mouse. Written against SDL2; nothing outside src/platform/ includes SDL.
// sys_init plugs the platform into the layers below it (the device's
// presentation, the GL backend's context operations, the sound object's
// output, the mouse device's events), so they never call up into it.
#pragma once
#include <cstdint>

#include "base/types.h"

// A window message: what the window procedure is handed.
struct MSG {
    HWND hwnd;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

constexpr uint32_t WM_SIZE = 0x0005;
constexpr uint32_t WM_ACTIVATE = 0x0006;
constexpr uint32_t WM_PAINT = 0x000F;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uintptr_t VK_ESCAPE = 0x1B;
constexpr uintptr_t VK_F12 = 0x7B;
constexpr uintptr_t WA_INACTIVE = 0;
constexpr uintptr_t WA_ACTIVE = 1;

constexpr int ICON_MAIN = 101;
constexpr int ICON_SIZE = 32;

// A program in three parts: start (an exit code, or SYS_RUNNING to go on to
// frames), one frame (false once the run is over) and finish (the exit code).
constexpr int SYS_RUNNING = -1;
struct SysProgram {
    int (*start)(int argc, const char* const* argv);
    bool (*frame)();
    int (*finish)();
};

// Runs the program: natively frame after frame until one returns false, then
// its finish, whose code is returned. In a browser the frames come with the
// page's animation frames and this returns as soon as they are scheduled.
int sys_run(const SysProgram& program, int argc, const char* const* argv);

// Brings up the platform: events and timer always, video unless headless.
// Returns 0 with a message on stderr when a window was wanted but no display
// can be opened.
int sys_init(bool headless);
void sys_shutdown();

// Milliseconds since an arbitrary start, wrapping modulo 2^32.
uint32_t sys_ticks();
// Seconds from a high-resolution counter, for measuring (never for the scene).
double sys_seconds();

// Creates the window hidden; null on failure. Windowed: at the desktop's
// top-left with the given outer size. Full screen: the desktop's full screen
// with the cursor hidden.
HWND sys_create_window(const char* title, int width, int height, bool fullscreen);
void sys_show_window(HWND window);

// Takes at most one message of the window out of the queue. Mouse input never
// counts as a message: it goes straight to the mouse device (or is dropped)
// so that it can never pile up behind the one-message-per-frame rule.
int sys_peek_message(HWND window, MSG* msg);

// Whether presenting waits for the display's refresh (the default, as the
// classic device's default presentation interval did); --bench turns it off.
void sys_set_present_wait(bool wait);

// Whether the window is made for OpenGL (before sys_create_window): the GL
// backend draws into it directly. The software backend can still use such a
// window, and one is made without OpenGL where that fails.
void sys_set_gl_window(bool gl);

// Screensaver mode, chosen before sys_init: the window is one another program
// made and owns. The platform then takes no input, leaves the pointer alone,
// shows the frames letterboxed in whatever size that window has from frame
// to frame, and SIGTERM and SIGINT, from this call on, end the run
// (sys_stop_requested) instead of the process or SDL's event queue.
void sys_set_foreign_window(bool foreign);
// After sys_init in screensaver mode: finds the window to draw in by its X
// id, 0 standing for the screen's root window. 0 with a message on stderr
// when there is no such window or the display cannot lend its windows.
int sys_find_foreign_window(uint32_t native_id);
// Whether a signal asked a screensaver run to end, or its window went away.
bool sys_stop_requested();

struct SysRect {
    int x, y, width, height;
};

// Where a width x height picture goes in an area when it is scaled as large
// as it fits with its proportions kept, centred, bars around it. Empty when
// either size is not positive.
SysRect sys_letterbox(int area_width, int area_height, int width, int height);

// The program's icons, drawn rather than shipped: fills ICON_SIZE x ICON_SIZE
// pixels (0xAARRGGBB) and returns 1 for a known id, else 0.
int sys_draw_icon(int id, uint32_t* pixels);

// The directory of the running executable with a trailing separator, or "".
const char* sys_executable_dir();
