// The system mouse on SDL2: SDL's mouse events become the movements and
// button changes the DirectInput stand-in buffers, and focus changes reach it
// through an event watch, at the moment SDL queues them, so that no movement
// is taken between the loss of the focus and the message that reports it.
// The watch runs on the program's thread: SDL queues window events on the
// thread that pumps.
#include <SDL.h>

#include "input/dinput.h"
#include "platform/platform_internal.h"

static int SDLCALL focus_watch(void*, SDL_Event* event)
{
    if (event->type != SDL_WINDOWEVENT)
        return 1;
    if (event->window.event == SDL_WINDOWEVENT_FOCUS_LOST)
        di_window_focus(false);
    else if (event->window.event == SDL_WINDOWEVENT_FOCUS_GAINED)
        di_window_focus(true);
    return 1;
}

void sys_mouse_attach(bool attached)
{
    di_attach_mouse(attached);
    if (attached)
        SDL_AddEventWatch(focus_watch, nullptr);
    else
        SDL_DelEventWatch(focus_watch, nullptr);
}

// SDL counts left, middle, right, back, forward from 1; DirectInput has left,
// right, middle, back as buttons 0 to 3. -1: no such button.
static int button_index(Uint8 sdl_button)
{
    switch (sdl_button) {
    case SDL_BUTTON_LEFT:
        return 0;
    case SDL_BUTTON_RIGHT:
        return 1;
    case SDL_BUTTON_MIDDLE:
        return 2;
    case SDL_BUTTON_X1:
        return 3;
    default:
        return -1;
    }
}

void sys_mouse_event(const void* sdl_event)
{
    const SDL_Event& event = *static_cast<const SDL_Event*>(sdl_event);
    switch (event.type) {
    case SDL_MOUSEMOTION:
        // In relative mode these are the device's own counts; over a window
        // they are the pointer's movement in screen pixels.
        di_mouse_motion(event.motion.xrel, event.motion.yrel, event.motion.timestamp);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        int index = button_index(event.button.button);
        if (index >= 0)
            di_mouse_button(index, event.type == SDL_MOUSEBUTTONDOWN, event.button.timestamp);
        break;
    }
    default:
        break; // the wheel steers nothing
    }
}
