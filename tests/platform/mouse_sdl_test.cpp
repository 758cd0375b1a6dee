// The system mouse, fed synthetic SDL events through the window's own event
// pump into the mouse device, the way a frame of the program sees them.
#include <gtest/gtest.h>

#include <SDL.h>

#include "app/window.h"
#include "input/mouse.h"
#include "platform/sys.h"

namespace
{

template <typename Fill> void push(Uint32 type, Fill fill)
{
    SDL_Event event{};
    event.type = type;
    fill(event);
    ASSERT_EQ(SDL_PushEvent(&event), 1);
}
void motion(int x, int y)
{
    push(SDL_MOUSEMOTION, [&](SDL_Event& e) { e.motion.xrel = x, e.motion.yrel = y; });
}
void button(int which, bool down)
{
    push(down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP, [&](SDL_Event& e) {
        e.button.button = Uint8(which), e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    });
}
void focus(bool gained)
{
    push(SDL_WINDOWEVENT, [&](SDL_Event& e) {
        e.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
    });
}

TEST(MouseSdl, EventsReachTheDeviceThroughTheEventPump)
{
    if (sys_init(false) != 1)
        GTEST_SKIP() << "no video driver (set SDL_VIDEODRIVER=offscreen)";
    // The events are synthetic, so the window is only a handle passed along.
    int window_stand_in = 0;
    HWND window = reinterpret_cast<HWND>(&window_stand_in);
    ASSERT_EQ(in_init(nullptr, window), 1);
    MSG msg;
    // One frame: the window messages to the window procedure, then the poll.
    auto dispatch = [&] {
        while (sys_peek_message(window, &msg))
            main_wnd_proc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    };
    auto frame = [&](int dx, int dy, int buttons) {
        dispatch();
        in_poll();
        EXPECT_EQ(g_mouse_dx, dx);
        EXPECT_EQ(g_mouse_dy, dy);
        EXPECT_EQ(g_mouse_buttons, buttons);
    };
    dispatch(); // whatever showing the window queued

    // Mouse events never count as window messages, and any peek hands them
    // all to the device: a message backlog never holds the mouse back.
    motion(2, 0);
    motion(3, 5);
    EXPECT_EQ(sys_peek_message(window, &msg), 0);
    for (int i = 0; i < 10; ++i)
        push(SDL_KEYDOWN, [](SDL_Event& e) { e.key.keysym.sym = SDLK_a; });
    motion(1, 1);
    EXPECT_EQ(sys_peek_message(window, &msg), 1);
    in_poll();
    EXPECT_EQ(g_mouse_dx, 6);
    EXPECT_EQ(g_mouse_dy, 6);
    // SDL's right button is 3, DirectInput's 1; the middle one steers nothing.
    button(SDL_BUTTON_MIDDLE, true);
    frame(0, 0, 0);
    button(SDL_BUTTON_RIGHT, true);
    frame(0, 0, 2);
    button(SDL_BUTTON_LEFT, true);
    frame(0, 0, 3);
    // Movement queued with the loss of focus is dropped; activation takes the
    // mouse back.
    motion(100, 0);
    focus(false);
    motion(50, 50);
    frame(0, 0, 3);
    focus(true);
    frame(0, 0, 3);
    motion(7, -2);
    frame(7, -2, 3);

    in_shutdown();
    sys_shutdown();
}

TEST(MouseSdl, WithoutADisplayThereIsNoMouse)
{
    ASSERT_EQ(sys_init(true), 1);
    EXPECT_EQ(in_init(nullptr, sys_create_window("headless", 64, 48, false)), 0);
    in_shutdown();
    sys_shutdown();
}

} // namespace
