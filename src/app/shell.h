// Process entry: start-up and shutdown order, the main window and its
// window procedure.
#pragma once
#include <cstdint>

#include "app/sys.h"

extern HWND g_hwnd;
extern int32_t g_quit; // set once by the window procedure; ends the frame loop

constexpr char WINDOW_TITLE[] = "Direct 3D 8 Framework App";

// Creates the main window (hidden) and stores it in g_hwnd; null on failure.
HWND create_main_window(int width, int height, HINSTANCE instance, bool fullscreen);

// Handles one window message: Escape and close set g_quit, size changes reach
// the device's aspect ratio, activation re-acquires the mouse.
intptr_t main_wnd_proc(HWND window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// The whole program; returns the process exit code.
int storm_main(int argc, const char* const* argv);
