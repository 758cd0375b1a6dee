// Mouse input: relative movement and buttons, read once per frame.
#pragma once
#include <cstdint>

#include "app/sys.h"

extern int32_t g_mouse_dx;      // movement summed over the latest poll
extern int32_t g_mouse_dy;
extern int32_t g_mouse_buttons; // bit 0 left, bit 1 right; kept between polls

// 1 when the mouse is ready, 0 when the program runs without it.
int in_init(HINSTANCE instance, HWND window);
// (Re)takes the mouse when the window comes to the foreground.
void in_acquire();
// Collects the frame's movement and the button state.
void in_poll();
