// The mouse, fed synthetic SDL events through the window's own event pump,
// the way a frame of the program sees them.
#include <gtest/gtest.h>

#include <SDL.h>

#include "app/shell.h"
#include "app/sys.h"
#include "input/dinput.h"
#include "input/mouse.h"

namespace
{

class Mouse : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (sys_init(false) != 1)
            GTEST_SKIP() << "no video driver (set SDL_VIDEODRIVER=offscreen)";
        ASSERT_EQ(in_init(nullptr, window_), 1);
        frame(); // whatever showing the window queued
    }
    void TearDown() override
    {
        in_shutdown();
        sys_shutdown();
    }

    void push(SDL_Event event) { ASSERT_EQ(SDL_PushEvent(&event), 1); }

    void motion(int x, int y)
    {
        SDL_Event event{};
        event.type = SDL_MOUSEMOTION;
        event.motion.xrel = x;
        event.motion.yrel = y;
        push(event);
    }

    void button(int which, bool down)
    {
        SDL_Event event{};
        event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        event.button.button = Uint8(which);
        event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        push(event);
    }

    void wheel(int y)
    {
        SDL_Event event{};
        event.type = SDL_MOUSEWHEEL;
        event.wheel.y = y;
        push(event);
    }

    void focus(bool gained)
    {
        SDL_Event event{};
        event.type = SDL_WINDOWEVENT;
        event.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
        push(event);
    }

    // One frame: the queue's window messages to the window procedure, then
    // the poll.
    void frame()
    {
        MSG msg;
        while (sys_peek_message(window_, &msg))
            main_wnd_proc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
        in_poll();
    }

    // The mouse and the event pump only pass the window handle along; the
    // events are synthetic, so no window has to exist (and none is left over).
    int window_stand_in_ = 0;
    HWND window_ = reinterpret_cast<HWND>(&window_stand_in_);
};

TEST_F(Mouse, MovementIsSummedPerPollAndYGrowsTowardsTheUser)
{
    frame();
    EXPECT_EQ(g_mouse_dx, 0);
    EXPECT_EQ(g_mouse_dy, 0);

    motion(2, 0);
    motion(3, 5);
    motion(-1, 1);
    frame();
    EXPECT_EQ(g_mouse_dx, 4);
    EXPECT_EQ(g_mouse_dy, 6);
    frame();
    EXPECT_EQ(g_mouse_dx, 0);
    EXPECT_EQ(g_mouse_dy, 0);
}

TEST_F(Mouse, AFastMouseLosesNothingBetweenTwoFrames)
{
    // Far more reports than the 16-event buffer has room for.
    for (int i = 0; i < 4000; ++i)
        motion(1, -2);
    button(SDL_BUTTON_LEFT, true);
    for (int i = 0; i < 4000; ++i)
        motion(-3, 1);
    frame();
    EXPECT_EQ(g_mouse_dx, 4000 - 12000);
    EXPECT_EQ(g_mouse_dy, -8000 + 4000);
    EXPECT_EQ(g_mouse_buttons, 1);
}

TEST_F(Mouse, ButtonBitsPersistUntilTheirReleaseArrives)
{
    button(SDL_BUTTON_LEFT, true);
    frame();
    EXPECT_EQ(g_mouse_buttons, 1);
    frame();
    frame();
    EXPECT_EQ(g_mouse_buttons, 1);

    // SDL's right button is 3, DirectInput's 1.
    button(SDL_BUTTON_RIGHT, true);
    frame();
    EXPECT_EQ(g_mouse_buttons, 3);
    wheel(2);
    button(SDL_BUTTON_MIDDLE, true);
    button(SDL_BUTTON_X1, true);
    button(SDL_BUTTON_X2, true);
    frame();
    EXPECT_EQ(g_mouse_buttons, 3);
    EXPECT_EQ(g_mouse_dx, 0);
    EXPECT_EQ(g_mouse_dy, 0);

    button(SDL_BUTTON_LEFT, false);
    frame();
    EXPECT_EQ(g_mouse_buttons, 2);
    button(SDL_BUTTON_RIGHT, false);
    frame();
    EXPECT_EQ(g_mouse_buttons, 0);

    // A click within one frame: the frame ends with the last state.
    button(SDL_BUTTON_RIGHT, true);
    button(SDL_BUTTON_RIGHT, false);
    frame();
    EXPECT_EQ(g_mouse_buttons, 0);
}

TEST_F(Mouse, TheBufferKeepsOrderAndDropsWhatDoesNotFit)
{
    motion(5, 0);
    motion(5, 7);
    button(SDL_BUTTON_LEFT, true);
    motion(1, 0);
    wheel(-1);
    for (int i = 0; i < 10; ++i)
        button(SDL_BUTTON_RIGHT, i % 2 == 0);
    motion(2, 0); // the sixteenth element
    for (int i = 0; i < 4; ++i)
        button(SDL_BUTTON_RIGHT, i % 2 == 0); // no room
    motion(0, 9);                             // needs a new element: no room
    motion(4, 0);                             // sums into the waiting X element
    MSG msg;
    sys_peek_message(window_, &msg); // hands the mouse events over

    DIDEVICEOBJECTDATA events[32]{};
    DWORD count = 32;
    ASSERT_EQ(g_mouse->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), events, &count, DIGDD_PEEK),
              DI_BUFFEROVERFLOW);
    ASSERT_EQ(count, 16u);
    EXPECT_EQ(events[0].dwOfs, DIMOFS_X);
    EXPECT_EQ(int32_t(events[0].dwData), 10);
    EXPECT_EQ(events[1].dwOfs, DIMOFS_Y);
    EXPECT_EQ(int32_t(events[1].dwData), 7);
    EXPECT_EQ(events[1].dwSequence, events[0].dwSequence + 1); // the second report's Y
    EXPECT_EQ(events[2].dwOfs, DIMOFS_BUTTON0);
    EXPECT_EQ(events[2].dwData, 0x80u);
    EXPECT_EQ(events[3].dwOfs, DIMOFS_X);
    EXPECT_EQ(int32_t(events[3].dwData), 1);
    EXPECT_EQ(events[4].dwOfs, DIMOFS_Z);
    EXPECT_EQ(int32_t(events[4].dwData), -WHEEL_DELTA);
    for (int i = 5; i < 15; ++i) {
        EXPECT_EQ(events[i].dwOfs, DIMOFS_BUTTON1);
        EXPECT_EQ(events[i].dwData, i % 2 == 1 ? 0x80u : 0u) << i;
    }
    EXPECT_EQ(events[15].dwOfs, DIMOFS_X);
    EXPECT_EQ(int32_t(events[15].dwData), 6);

    in_poll();
    EXPECT_EQ(g_mouse_dx, 17);
    EXPECT_EQ(g_mouse_dy, 7);
    EXPECT_EQ(g_mouse_buttons, 1); // the right button's presses after the last release were lost

    // The next frame is back to normal: no overflow left to report.
    motion(1, 1);
    sys_peek_message(window_, &msg);
    count = 32;
    EXPECT_EQ(g_mouse->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), events, &count, DIGDD_PEEK),
              DI_OK);
    EXPECT_EQ(count, 2u);
}

TEST_F(Mouse, NothingIsReadWhileTheWindowIsInTheBackground)
{
    button(SDL_BUTTON_RIGHT, true);
    motion(3, 3);
    frame();
    EXPECT_EQ(g_mouse_dx, 3);
    EXPECT_EQ(g_mouse_buttons, 2);

    // Movement queued with the loss of focus is not delivered, nor anything
    // while the window stays behind; the buttons keep their last state.
    motion(100, 0);
    focus(false);
    motion(50, 50);
    frame();
    EXPECT_EQ(g_mouse_dx, 0);
    EXPECT_EQ(g_mouse_buttons, 2);
    motion(50, 50);
    button(SDL_BUTTON_RIGHT, false);
    frame();
    EXPECT_EQ(g_mouse_dx, 0);
    EXPECT_EQ(g_mouse_buttons, 2);
    in_acquire(); // refused: still in the background
    motion(5, 0);
    frame();
    EXPECT_EQ(g_mouse_dx, 0);

    // Activation takes the mouse back; movement is read from the next poll on.
    focus(true);
    frame();
    motion(7, -2);
    frame();
    EXPECT_EQ(g_mouse_dx, 7);
    EXPECT_EQ(g_mouse_dy, -2);
}

TEST_F(Mouse, ALostDeviceIsTakenBackInsideThePoll)
{
    // Focus goes and comes back before the frame reads: the poll meets the
    // loss, acquires again and reads on.
    focus(false);
    focus(true);
    DIDEVICEOBJECTDATA event{};
    DWORD count = 1;
    EXPECT_EQ(g_mouse->GetDeviceData(sizeof event, &event, &count, DIGDD_PEEK), DIERR_INPUTLOST);
    EXPECT_EQ(g_mouse->GetDeviceData(sizeof event, &event, &count, DIGDD_PEEK), DIERR_NOTACQUIRED);
    in_acquire();

    focus(false);
    focus(true);
    in_poll();
    motion(4, 4);
    MSG msg;
    sys_peek_message(window_, &msg);
    in_poll();
    EXPECT_EQ(g_mouse_dx, 4);

    // A loss that is not followed by the focus ends the poll; it never spins.
    focus(false);
    in_poll();
    EXPECT_EQ(g_mouse->GetDeviceData(sizeof event, &event, &count, 0), DIERR_NOTACQUIRED);
}

TEST_F(Mouse, AMessageBacklogNeverHoldsTheMouseBack)
{
    for (int i = 0; i < 10; ++i) {
        SDL_Event key{};
        key.type = SDL_KEYDOWN;
        key.key.keysym.sym = SDLK_a;
        push(key);
    }
    motion(6, 1);
    // One message a frame, as the frame loop takes them.
    MSG msg;
    ASSERT_EQ(sys_peek_message(window_, &msg), 1);
    in_poll();
    EXPECT_EQ(g_mouse_dx, 6);
}

TEST(MouseHeadless, WithoutADisplayThereIsNoMouse)
{
    ASSERT_EQ(sys_init(true), 1);
    HWND window = sys_create_window("headless", 64, 48, false);
    EXPECT_EQ(in_init(nullptr, window), 0);
    EXPECT_EQ(g_mouse, nullptr);
    g_mouse_dx = 7;
    g_mouse_dy = -7;
    in_acquire();
    in_poll();
    EXPECT_EQ(g_mouse_dx, 0);
    EXPECT_EQ(g_mouse_dy, 0);
    in_shutdown();
    sys_shutdown();
}

} // namespace
