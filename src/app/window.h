// The main window and its window procedure: the messages that end the run,
// follow the window's size and take the mouse back on activation.
#pragma once
#include <cstdint>

#include "platform/sys.h"

extern int32_t g_quit;                 // set once by the window procedure; ends the frame loop
extern int32_t g_screenshot_requested; // set by F12; the frame loop writes one after the frame

constexpr char WINDOW_TITLE[] = "Direct 3D 8 Framework App";

// Creates the main window (hidden) and stores it in g_hwnd; null on failure.
HWND create_main_window(int width, int height, HINSTANCE instance, bool fullscreen);

// Handles one window message: Escape and close set g_quit, size changes reach
// the device's aspect ratio, activation re-acquires the mouse.
intptr_t main_wnd_proc(HWND window, uint32_t message, uintptr_t wparam, intptr_t lparam);
