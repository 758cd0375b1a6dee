// The system mouse, fed synthetic SDL events through the window's own event
// pump into the mouse device, the way a frame of the program sees them.
#include <gtest/gtest.h>

#include <SDL.h>

#include <utility>

#include "app/window.h"
#include "input/dinput.h"
#include "input/mouse.h"
#include "platform/sys.h"

namespace
{

// Queues an event of `type` whose fields `fill` sets.
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
void wheel(int y)
{
    push(SDL_MOUSEWHEEL, [&](SDL_Event& e) { e.wheel.y = y; });
}
void focus(bool gained)
{
    push(SDL_WINDOWEVENT, [&](SDL_Event& e) {
        e.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
    });
}

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
    // Hands the queued mouse events to the device, as any message peek does.
    void pump()
    {
        MSG msg;
        sys_peek_message(window_, &msg);
    }
    // One frame: the window messages to the window procedure, then the poll.
    void frame()
    {
        MSG msg;
        while (sys_peek_message(window_, &msg))
            main_wnd_proc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
        in_poll();
    }
    void expect(int dx, int dy, int buttons)
    {
        EXPECT_EQ(g_mouse_dx, dx);
        EXPECT_EQ(g_mouse_dy, dy);
        EXPECT_EQ(g_mouse_buttons, buttons);
    }
    // The events are synthetic, so the window is only a handle passed along.
    int window_stand_in_ = 0;
    HWND window_ = reinterpret_cast<HWND>(&window_stand_in_);
};

TEST_F(Mouse, MovementIsSummedPerPollAndNothingIsLost)
{
    motion(2, 0);
    motion(3, 5);
    motion(-1, 1);
    frame();
    expect(4, 6, 0);
    frame();
    expect(0, 0, 0);
    // Far more reports than the 16-event buffer has room for.
    for (int i = 0; i < 4000; ++i)
        motion(1, -2);
    button(SDL_BUTTON_LEFT, true);
    for (int i = 0; i < 4000; ++i)
        motion(-3, 1);
    frame();
    expect(4000 - 12000, -8000 + 4000, 1);
}

TEST_F(Mouse, ButtonBitsPersistUntilTheirReleaseArrives)
{
    button(SDL_BUTTON_LEFT, true);
    frame();
    frame();
    expect(0, 0, 1);
    // SDL's right button is 3, DirectInput's 1; the others and the wheel steer nothing.
    button(SDL_BUTTON_RIGHT, true);
    wheel(2);
    button(SDL_BUTTON_MIDDLE, true);
    button(SDL_BUTTON_X1, true);
    button(SDL_BUTTON_X2, true);
    frame();
    expect(0, 0, 3);
    button(SDL_BUTTON_LEFT, false);
    frame();
    expect(0, 0, 2);
    // A click within one frame: the frame ends with the last state.
    button(SDL_BUTTON_LEFT, true);
    button(SDL_BUTTON_LEFT, false);
    frame();
    expect(0, 0, 2);
}

TEST_F(Mouse, TheBufferKeepsOrderAndDropsWhatDoesNotFit)
{
    motion(5, 0);
    motion(5, 7);
    button(SDL_BUTTON_LEFT, true);
    motion(1, 0);
    button(SDL_BUTTON_MIDDLE, true);
    wheel(-1); // no element at all
    for (int i = 0; i < 10; ++i)
        button(SDL_BUTTON_RIGHT, i % 2 == 0);
    motion(2, 0); // the sixteenth element
    for (int i = 0; i < 4; ++i)
        button(SDL_BUTTON_RIGHT, i % 2 == 0); // no room
    motion(0, 9);                             // needs a new element: no room
    motion(4, 0);                             // sums into the waiting X element
    pump();

    DIDEVICEOBJECTDATA events[32]{};
    DWORD count = 32;
    ASSERT_EQ(g_mouse->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), events, &count, 0),
              DI_BUFFEROVERFLOW);
    ASSERT_EQ(count, 16u);
    const std::pair<DWORD, int32_t> expected[] = {{DIMOFS_X, 10},
                                                  {DIMOFS_Y, 7},
                                                  {DIMOFS_BUTTON0, 0x80},
                                                  {DIMOFS_X, 1},
                                                  {DIMOFS_BUTTON2, 0x80}};
    for (int i = 0; i < 16; ++i) {
        auto [offset, data] = i < 5    ? expected[i]
                              : i < 15 ? std::pair{DIMOFS_BUTTON1, i % 2 ? 0x80 : 0}
                                       : std::pair{DIMOFS_X, 6};
        EXPECT_EQ(events[i].dwOfs, offset) << i;
        EXPECT_EQ(int32_t(events[i].dwData), data) << i;
    }
    EXPECT_EQ(events[1].dwSequence, events[0].dwSequence + 1); // the second report's Y
    count = 32;
    EXPECT_EQ(g_mouse->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), events, &count, 0), DI_OK);
    EXPECT_EQ(count, 0u); // taken out by the read; the overflow is reported once
}

TEST_F(Mouse, NothingIsReadWhileTheWindowIsInTheBackground)
{
    button(SDL_BUTTON_RIGHT, true);
    motion(3, 3);
    frame();
    expect(3, 3, 2);
    // Movement queued with the loss of focus is not delivered, nor anything
    // while the window stays behind; the buttons keep their last state.
    motion(100, 0);
    focus(false);
    motion(50, 50);
    button(SDL_BUTTON_RIGHT, false);
    frame();
    expect(0, 0, 2);
    in_acquire(); // refused: still in the background
    motion(5, 0);
    frame();
    expect(0, 0, 2);
    // Activation takes the mouse back; movement is read from the next poll on.
    focus(true);
    frame();
    motion(7, -2);
    frame();
    expect(7, -2, 2);
}

TEST_F(Mouse, ALostDeviceIsTakenBackInsideThePoll)
{
    focus(false);
    focus(true);
    DIDEVICEOBJECTDATA event{};
    DWORD count = 1;
    EXPECT_EQ(g_mouse->GetDeviceData(sizeof event, &event, &count, 0), DIERR_INPUTLOST);
    EXPECT_EQ(g_mouse->GetDeviceData(sizeof event, &event, &count, 0), DIERR_NOTACQUIRED);
    in_acquire();
    // Focus goes and comes back before the frame reads: the poll meets the
    // loss, acquires again and reads on.
    focus(false);
    focus(true);
    in_poll();
    motion(4, 4);
    pump();
    in_poll();
    EXPECT_EQ(g_mouse_dx, 4);
    // A loss that is not followed by the focus ends the poll; it never spins.
    focus(false);
    in_poll();
    EXPECT_EQ(g_mouse->GetDeviceData(sizeof event, &event, &count, 0), DIERR_NOTACQUIRED);
}

TEST_F(Mouse, AMessageBacklogNeverHoldsTheMouseBack)
{
    for (int i = 0; i < 10; ++i)
        push(SDL_KEYDOWN, [](SDL_Event& e) { e.key.keysym.sym = SDLK_a; });
    motion(6, 1);
    pump(); // one message a frame, as the frame loop takes them
    in_poll();
    EXPECT_EQ(g_mouse_dx, 6);
}

TEST(MouseHeadless, WithoutADisplayThereIsNoMouse)
{
    ASSERT_EQ(sys_init(true), 1);
    EXPECT_EQ(in_init(nullptr, sys_create_window("headless", 64, 48, false)), 0);
    EXPECT_EQ(g_mouse, nullptr);
    g_mouse_dx = 7;
    in_acquire();
    in_poll();
    EXPECT_EQ(g_mouse_dx, 0);
    in_shutdown();
    sys_shutdown();
}

} // namespace
