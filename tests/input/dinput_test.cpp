// The mouse device's buffer, acquisition and focus rules, fed the way the
// platform layer feeds it, and read through the frame's poll.
#include <gtest/gtest.h>

#include <utility>

#include "input/dinput.h"
#include "input/mouse.h"

namespace
{

class Mouse : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        di_attach_mouse(true);
        ASSERT_EQ(in_init(nullptr, window_), 1);
    }
    void TearDown() override
    {
        in_shutdown();
        di_attach_mouse(false);
    }
    void poll(int dx, int dy, int buttons)
    {
        in_poll();
        EXPECT_EQ(g_mouse_dx, dx);
        EXPECT_EQ(g_mouse_dy, dy);
        EXPECT_EQ(g_mouse_buttons, buttons);
    }
    // What the platform reports; the poll and the device ignore the times.
    void move(int dx, int dy) { di_mouse_motion(dx, dy, 0); }
    void press(int button, bool down = true) { di_mouse_button(button, down, 0); }
    HRESULT read(DIDEVICEOBJECTDATA* e, DWORD* count)
    {
        return g_mouse->GetDeviceData(sizeof *e, e, count, 0);
    }
    int window_stand_in_ = 0;
    HWND window_ = reinterpret_cast<HWND>(&window_stand_in_);
};

TEST_F(Mouse, MovementIsSummedPerPollAndButtonBitsPersist)
{
    move(2, 0);
    move(3, 5);
    move(-1, 1);
    poll(4, 6, 0);
    poll(0, 0, 0);
    // Far more reports than the 16-event buffer has room for: nothing is lost.
    for (int i = 0; i < 4000; ++i)
        move(1, -2);
    press(0);
    for (int i = 0; i < 4000; ++i)
        move(-3, 1);
    poll(4000 - 12000, -8000 + 4000, 1);
    poll(0, 0, 1);
    // Only the left and right buttons steer.
    press(1);
    press(2);
    press(3);
    poll(0, 0, 3);
    press(0, false);
    poll(0, 0, 2);
    // A click within one frame: the frame ends with the last state.
    press(0);
    press(0, false);
    poll(0, 0, 2);
}

TEST_F(Mouse, TheBufferKeepsOrderAndDropsWhatDoesNotFit)
{
    move(5, 0);
    move(5, 7);
    press(0);
    move(1, 0);
    press(2);
    for (int i = 0; i < 10; ++i)
        press(1, i % 2 == 0);
    move(2, 0); // the sixteenth element
    for (int i = 0; i < 4; ++i)
        press(1, i % 2 == 0); // no room
    move(0, 9);               // needs a new element: no room
    move(4, 0);               // sums into the waiting X element

    DIDEVICEOBJECTDATA events[32]{};
    DWORD count = 32;
    ASSERT_EQ(read(events, &count), DI_BUFFEROVERFLOW);
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
    EXPECT_EQ(read(events, &count), DI_OK);
    EXPECT_EQ(count, 0u); // taken out by the read; the overflow is reported once
}

TEST_F(Mouse, TheFocusTakesTheMouseAwayUntilActivationTakesItBack)
{
    press(1);
    move(3, 3);
    poll(3, 3, 2);
    // What was buffered goes with the focus, and nothing is taken while the
    // window stays behind; the buttons keep their last state.
    move(100, 0);
    di_window_focus(false);
    move(50, 50);
    press(1, false);
    poll(0, 0, 2);
    in_acquire(); // refused: still in the background
    move(5, 0);
    poll(0, 0, 2);
    di_window_focus(true);
    in_acquire(); // what activation does
    move(7, -2);
    poll(7, -2, 2);
    // Focus goes and comes back between two reads: the loss is reported once.
    di_window_focus(false);
    di_window_focus(true);
    DIDEVICEOBJECTDATA event{};
    DWORD count = 1;
    EXPECT_EQ(read(&event, &count), DIERR_INPUTLOST);
    EXPECT_EQ(read(&event, &count), DIERR_NOTACQUIRED);
    // The poll meets such a loss, acquires again and reads on.
    in_acquire();
    di_window_focus(false);
    di_window_focus(true);
    poll(0, 0, 2);
    move(4, 4);
    poll(4, 4, 2);
}

} // namespace
