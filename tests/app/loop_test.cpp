// The frame loop, its clock and the window procedure, driven headless.
#include <gtest/gtest.h>

#include <SDL.h>

#include <filesystem>
#include <fstream>

#include "app/cmdline.h"
#include "app/loop.h"
#include "app/recording.h"
#include "app/window.h"
#include "gfx/device.h"
#include "input/mouse.h"
#include "platform/sys.h"
#include "support/record_device.h"
#include "test_util.h"

namespace
{

int s_updates = 0;
void count_update()
{
    ++s_updates;
}

uint32_t dusk()
{
    return 0xFF123456u;
}

// A headless window and a software device (behind the recorder), as `storm
// --headless` has them, running a scene that only counts its updates.
class FrameLoop : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(sys_init(true), 1);
        g_width = 64;
        g_height = 48;
        g_fullscreen = 0;
        ASSERT_NE(create_main_window(g_width, g_height, nullptr, false), nullptr);
        record_install();
        ASSERT_EQ(_gfx_init(g_width, g_height, 0), 1);
        record_uninstall();
        scene_set_table(&scene_, 1);
        g_quit = 0;
        g_clock = g_time = g_frame_dt = 0.0f;
        g_frame_count = 0;
        g_loop_max_frames = 0;
        g_loop_fixed_step = 0.0;
        s_updates = 0;
    }

    void TearDown() override
    {
        scene_set_table(nullptr, 0);
        g_replaying = false;
        g_replay_frames.clear();
        g_replay_next = 0;
        _gfx_deinit();
        g_gfx_ready = 0;
        sys_shutdown();
    }

    SceneOps scene_{nullptr, count_update, 1, nullptr, nullptr, nullptr, nullptr};
};

TEST(FrameClock, UnsignedTickDifferenceSurvivesTheWrap)
{
    EXPECT_FLOAT_EQ(clock_seconds(1000, 3500), 2.5f);
    EXPECT_FLOAT_EQ(clock_seconds(0xFFFFFF00u, 0x00000100u), 0.512f);
    EXPECT_FLOAT_EQ(clock_seconds(0xFFFFFFFFu, 0xFFFFFFFFu), 0.0f);
    // The whole 32-bit range, not a negative or truncated value.
    EXPECT_FLOAT_EQ(clock_seconds(1, 0), 4294967.295f);
}

TEST_F(FrameLoop, SceneTickAdvancesClockAndRunsTheScenesUpdatesAndColour)
{
    // Empty slots are skipped; two updates a frame, as the storm has them.
    scene_.updates_per_frame = 2;
    scene_start();
    scene_tick(0.004f);
    EXPECT_FLOAT_EQ(g_frame_dt, 0.004f); // the first frame measures from the loop's start
    EXPECT_FLOAT_EQ(g_time, 0.004f);
    scene_tick(0.004f);
    EXPECT_EQ(g_frame_dt, 0.0f); // two frames in the same millisecond
    scene_tick(0.020f);
    EXPECT_FLOAT_EQ(g_frame_dt, 0.016f);
    EXPECT_FLOAT_EQ(g_clock, 0.020f);
    EXPECT_EQ(g_time, g_clock);
    EXPECT_EQ(s_updates, 6);
    render_frame(); // without a colour of the scene's: black
    scene_.clear_color = dusk;
    render_frame();
    RecordLog* rec = record_log(g_device);
    ASSERT_NE(rec, nullptr);
    ASSERT_EQ(rec->count(REC_CLEAR), 2u);
    EXPECT_EQ(rec->of(REC_CLEAR)[0]->value, 0xFF000000u);
    EXPECT_EQ(rec->of(REC_CLEAR)[1]->value, 0xFF123456u);
    scene_stop();
}

TEST_F(FrameLoop, FixedStepAndFrameLimitMakeRunsRepeatable)
{
    g_loop_fixed_step = 0.25;
    g_loop_max_frames = 6;
    run_main_loop();
    EXPECT_EQ(g_frame_count, 6);
    EXPECT_FLOAT_EQ(g_time, 1.5f);
    EXPECT_FLOAT_EQ(g_frame_dt, 0.25f);
    EXPECT_EQ(s_updates, 6);
}

TEST_F(FrameLoop, EscapeStillFinishesItsFrameAndMouseEventsNeverQueueAhead)
{
    // A flood of mouse motion first: it must not delay the key by a frame each.
    for (int i = 0; i < 500; ++i) {
        SDL_Event motion{};
        motion.type = SDL_MOUSEMOTION;
        motion.motion.xrel = 1;
        ASSERT_EQ(SDL_PushEvent(&motion), 1);
    }
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.keysym.sym = SDLK_ESCAPE;
    ASSERT_EQ(SDL_PushEvent(&key), 1);

    run_main_loop();
    EXPECT_EQ(g_quit, 1);
    EXPECT_EQ(g_frame_count, 1); // the iteration that saw Escape rendered
    EXPECT_EQ(s_updates, 1);
}

TEST_F(FrameLoop, WindowProcedureHandlesItsMessageTable)
{
    // Other keys and paints do not quit.
    EXPECT_EQ(main_wnd_proc(g_hwnd, WM_KEYDOWN, 'A', 0), 0);
    EXPECT_EQ(main_wnd_proc(g_hwnd, WM_PAINT, 0, 0), 1);
    EXPECT_EQ(g_quit, 0);

    // Size changes reach the aspect ratio: width in the low word, height in the high.
    main_wnd_proc(g_hwnd, WM_SIZE, 0, 1000 | (500 << 16));
    EXPECT_FLOAT_EQ(g_aspect, 2.0f);

    EXPECT_EQ(main_wnd_proc(g_hwnd, WM_CLOSE, 0, 0), 1);
    EXPECT_EQ(g_quit, 1);
    g_quit = 0;
    EXPECT_EQ(main_wnd_proc(g_hwnd, WM_KEYDOWN, VK_ESCAPE, 0), 1);
    EXPECT_EQ(g_quit, 1);
}

TEST_F(FrameLoop, FlightReplacesClockAndMouseAndEndsTheRun)
{
    g_replay_frames = {{0.25f, 5, -2, 2}, {0.5f, 0, 0, 2}, {0.125f, -7, 1, 0}};
    g_replaying = true;
    g_replay_next = 0;
    run_main_loop();
    EXPECT_EQ(g_frame_count, 3);
    EXPECT_FLOAT_EQ(g_time, 0.875f);
    EXPECT_FLOAT_EQ(g_frame_dt, 0.125f);
    EXPECT_EQ(g_mouse_dx, -7);
    EXPECT_EQ(g_mouse_dy, 1);
    EXPECT_EQ(g_mouse_buttons, 0);
}

TEST_F(FrameLoop, F12WritesNumberedScreenshotsWithoutReplacingFiles)
{
    ScratchDir scratch;
    std::ofstream("storm-0001.png") << "not a picture, and it must survive";
    main_wnd_proc(g_hwnd, WM_KEYDOWN, VK_F12, 0);
    g_loop_max_frames = 1;
    run_main_loop();
    EXPECT_TRUE(std::filesystem::exists("storm-0002.png"));
    std::ifstream kept("storm-0001.png");
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "not a picture, and it must survive");
    EXPECT_EQ(g_screenshot_requested, 0);
}

} // namespace
