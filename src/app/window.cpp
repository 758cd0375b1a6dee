// The main window and its procedure. Owns g_quit and g_screenshot_requested:
// the two things a message can ask of the frame loop.
#include "app/window.h"

#include "gfx/device.h"
#include "input/mouse.h"

int32_t g_screenshot_requested = 0;
int32_t g_quit = 0;

HWND create_main_window(int width, int height, HINSTANCE, bool fullscreen)
{
    g_hwnd = sys_create_window(WINDOW_TITLE, width, height, fullscreen);
    return g_hwnd;
}

intptr_t main_wnd_proc(HWND, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    switch (message) {
    case WM_SIZE:
        _gfx_resize(static_cast<int>(lparam & 0xFFFF), static_cast<int>((lparam >> 16) & 0xFFFF),
                    0);
        return 0;
    case WM_ACTIVATE:
        if ((wparam & 0xFFFF) != WA_INACTIVE)
            in_acquire();
        return 0;
    case WM_PAINT:
        return 1; // every frame is drawn anyway
    case WM_CLOSE:
        g_quit = 1; // the window stays until the process ends
        return 1;
    case WM_KEYDOWN:
        if (wparam == VK_ESCAPE) {
            g_quit = 1;
            return 1;
        }
        if (wparam == VK_F12)
            g_screenshot_requested = 1;
        return 0;
    default:
        return 0;
    }
}
