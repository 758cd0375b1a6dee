// The system mouse, fed synthetic SDL events through the window's own event
// pump into the mouse device, the way a frame of the program sees them.
#include <gtest/gtest.h>

#include <SDL.h>

#include "app/window.h"
#include "input/mouse.h"
#include "platform/sys.h"

namespace
{

// Queues an event of `type`; a and b fill the fields that type has.
void push(Uint32 type, int a = 0, int b = 0)
{
    SDL_Event e{type};
    if (type == SDL_MOUSEMOTION)
        e.motion.xrel = a, e.motion.yrel = b;
    else if (type == SDL_MOUSEBUTTONDOWN)
        e.button.button = Uint8(a), e.button.state = SDL_PRESSED;
    else if (type == SDL_WINDOWEVENT)
        e.window.event = Uint8(a);
    else
        e.key.keysym.sym = SDLK_a;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
}

TEST(MouseSdl, EventsReachTheDeviceThroughTheEventPump)
{
    if (sys_init(false) != 1)
        GTEST_SKIP() << "no video driver (set SDL_VIDEODRIVER=offscreen)";
    // A real (hidden) window: the event pump looks at what kind it is. Kept
    // in g_hwnd, as the program keeps its window, to the end of the process.
    HWND window = g_hwnd = sys_create_window("mouse", 64, 48, false);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(in_init(nullptr, window), 1);
    MSG msg;
    // One frame: the window messages to the window procedure, then the poll.
    auto frame = [&](int dx, int dy, int buttons) {
        while (sys_peek_message(window, &msg))
            main_wnd_proc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
        in_poll();
        EXPECT_EQ(g_mouse_dx, dx);
        EXPECT_EQ(g_mouse_dy, dy);
        EXPECT_EQ(g_mouse_buttons, buttons);
    };
    frame(0, 0, 0); // whatever showing the window queued

    // Mouse events never count as window messages, and any peek hands them
    // all to the device: a message backlog never holds the mouse back.
    push(SDL_MOUSEMOTION, 2, 0);
    push(SDL_MOUSEMOTION, 3, 5);
    EXPECT_EQ(sys_peek_message(window, &msg), 0);
    for (int i = 0; i < 10; ++i)
        push(SDL_KEYDOWN);
    push(SDL_MOUSEMOTION, 1, 1);
    EXPECT_EQ(sys_peek_message(window, &msg), 1);
    in_poll();
    EXPECT_EQ(g_mouse_dx, 6);
    EXPECT_EQ(g_mouse_dy, 6);
    // SDL's right button is 3, DirectInput's 1; the others steer nothing.
    for (int other : {SDL_BUTTON_MIDDLE, SDL_BUTTON_X1, SDL_BUTTON_X2})
        push(SDL_MOUSEBUTTONDOWN, other);
    frame(0, 0, 0);
    push(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT);
    frame(0, 0, 2);
    push(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    frame(0, 0, 3);
    // Movement queued with the loss of focus is dropped; activation takes the
    // mouse back.
    push(SDL_MOUSEMOTION, 100, 0);
    push(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_LOST);
    push(SDL_MOUSEMOTION, 50, 50);
    frame(0, 0, 3);
    push(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_GAINED);
    frame(0, 0, 3);
    push(SDL_MOUSEMOTION, 7, -2);
    frame(7, -2, 3);

    in_shutdown();
    sys_shutdown();
    // Without a display there is no mouse, and every poll is still.
    ASSERT_EQ(sys_init(true), 1);
    EXPECT_EQ(in_init(nullptr, sys_create_window("headless", 64, 48, false)), 0);
    g_mouse_dx = 7;
    in_acquire();
    in_poll();
    EXPECT_EQ(g_mouse_dx, 0);
    in_shutdown();
    sys_shutdown();
}

} // namespace
