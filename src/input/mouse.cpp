// Mouse input. Until the buffered mouse device exists the program runs as it
// does without a mouse: no movement, no buttons.
#include "input/mouse.h"

int32_t g_mouse_dx = 0;
int32_t g_mouse_dy = 0;
int32_t g_mouse_buttons = 0;

int in_init(HINSTANCE, HWND)
{
    return 0;
}

void in_acquire()
{
}

void in_poll()
{
    g_mouse_dx = 0;
    g_mouse_dy = 0;
}
