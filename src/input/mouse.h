// Mouse input: relative movement and buttons, read once per frame.
#pragma once
#include <cstdint>

#include "base/types.h"

struct IDirectInput8;
struct IDirectInputDevice8;

constexpr int MOUSE_BUFFER_SIZE = 16; // events buffered between two polls

extern IDirectInput8* g_dinput;
extern IDirectInputDevice8* g_mouse; // null while the program runs without a mouse

extern int32_t g_mouse_dx; // movement summed over the latest poll; y grows towards the user
extern int32_t g_mouse_dy;
extern int32_t g_mouse_buttons; // bit 0 left, bit 1 right; kept between polls

// 1 when the mouse is ready, 0 when the program runs without it (headless,
// no display). Call once, after the window exists.
int in_init(HINSTANCE instance, HWND window);
// (Re)takes the mouse when the window comes to the foreground; harmless when
// there is no mouse or the window is in the background.
void in_acquire();
// Collects the frame's movement and the button state. Once per frame, before
// the scene's update.
void in_poll();
// Releases the device and the input object. The program keeps its mouse to
// the end and never calls it; tests do, to start afresh.
void in_shutdown();
