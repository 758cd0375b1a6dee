// Frame loop. Owns the scene table it runs and the run controls; it is the
// only writer of the frame clock (base/clock.cpp owns those globals). One
// thread, no sleeping. The loop is a step per frame, so a platform that
// hands out frames itself (a browser's animation frames) runs the same
// iterations the native loop does: each takes at most one window message,
// polls the mouse, looks after the audio device (ds_watch_output: a lost one
// is tried again on the tick counter, never waited for), advances the clock,
// updates the scene and renders a frame; the only wait is the device's own
// presentation. Everything below
// reads time from g_time and g_frame_dt, never from a clock of its own, so a
// fixed step makes a run exactly repeatable.
#include "app/loop.h"

#include <cstdio>

#include "app/cmdline.h"
#include "app/recording.h"
#include "app/run_options.h"
#include "app/saver.h"
#include "app/screenshot.h"
#include "app/window.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "input/mouse.h"
#include "platform/sys.h"
#include "scene/scene.h"
#include "snd/dsound.h"

static const SceneOps* s_scenes = nullptr;
static int s_scene_count = 0;
static int s_scene_index = 0;

static uint32_t s_loop_start_ticks = 0;
static uint32_t s_frame_ticks = 0;
static double s_replay_clock = 0.0; // the replayed flight's clock

int g_loop_max_frames = 0;
double g_loop_fixed_step = 0.0;
int64_t g_frame_count = 0;
int g_device_lost = 0;

void scene_set_table(const SceneOps* table, int count)
{
    s_scenes = count > 0 ? table : nullptr;
    s_scene_count = count > 0 ? count : 0;
    s_scene_index = 0;
}

// The scene the loop runs; an entry with every slot empty without a table.
static const SceneOps& current_scene()
{
    static const SceneOps NONE = {};
    return s_scenes && s_scene_index < s_scene_count ? s_scenes[s_scene_index] : NONE;
}

void scene_start()
{
    s_scene_index = 0;
    if (current_scene().init)
        current_scene().init();
}

void scene_tick(float seconds)
{
    clock_advance(seconds);
    const SceneOps& scene = current_scene();
    if (!scene.update)
        return;
    int updates = scene.updates_per_frame > 1 ? scene.updates_per_frame : 1;
    for (int i = 0; i < updates; ++i)
        scene.update();
}

void render_frame()
{
    const SceneOps& scene = current_scene();
    if (!g_device)
        return;
    D3DCOLOR clear = scene.clear_color ? scene.clear_color() : 0xFF000000u;
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
    g_device->BeginScene();
    r_set_camera();
    if (scene.draw_world)
        scene.draw_world();
    r_set_ortho(static_cast<float>(g_width), static_cast<float>(g_height));
    if (scene.draw_overlay)
        scene.draw_overlay();
    g_device->EndScene();
    if (g_device->Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST)
        g_device_lost = 1;
}

// The frame's time in seconds: from the tick counter, or frame by frame when
// a fixed step was asked for (computed from the frame number, so no error
// accumulates over a long run).
static float next_frame_seconds()
{
    if (g_loop_fixed_step > 0.0)
        return static_cast<float>(static_cast<double>(g_frame_count + 1) * g_loop_fixed_step);
    return clock_seconds(s_loop_start_ticks, s_frame_ticks);
}

// A replayed frame replaces the clock and the mouse with the flight's line.
static void replay_frame(double* replay_clock, float* seconds)
{
    const RecordedFrame& frame = g_replay_frames[g_replay_next++];
    g_mouse_dx = frame.dx;
    g_mouse_dy = frame.dy;
    g_mouse_buttons = frame.buttons;
    *replay_clock += frame.dt;
    *seconds = static_cast<float>(*replay_clock);
}

// The autopilot stands in for the mouse, by the time the frame's clock moved.
static void autopilot_frame(float seconds)
{
    RecordedFrame input = autopilot_take(&g_autopilot, double(seconds) - double(g_clock));
    g_mouse_dx = input.dx;
    g_mouse_dy = input.dy;
    g_mouse_buttons = input.buttons;
}

static void after_frame()
{
    if (g_screenshot_requested) {
        g_screenshot_requested = 0;
        char path[64];
        if (screenshot_write_next(g_device, path, sizeof path))
            std::printf("storm: screenshot written to %s\n", path);
        else
            std::fprintf(stderr, "storm: could not write a screenshot\n");
    }
    run_options_after_frame(g_frame_count);
}

void loop_begin()
{
    s_replay_clock = 0.0;
    s_loop_start_ticks = sys_ticks();
    s_frame_ticks = s_loop_start_ticks;
}

bool loop_step()
{
    // A screensaver is told to stop by a signal, which the platform notes.
    if (sys_stop_requested())
        g_quit = 1;
    if (g_quit)
        return false;
    MSG msg;
    if (sys_peek_message(g_hwnd, &msg))
        main_wnd_proc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    if (g_replaying && g_replay_next >= g_replay_frames.size()) {
        g_quit = 1; // the flight is over, and so is the run
        return false;
    }
    double frame_start = sys_seconds();
    s_frame_ticks = sys_ticks();
    in_poll();
    ds_watch_output(s_frame_ticks);
    float seconds;
    if (g_replaying) {
        replay_frame(&s_replay_clock, &seconds);
    } else {
        seconds = next_frame_seconds();
        if (g_autopiloting)
            autopilot_frame(seconds);
    }
    if (g_recording_file) {
        RecordedFrame frame = {seconds - g_clock, g_mouse_dx, g_mouse_dy, g_mouse_buttons};
        recording_write_frame(g_recording_file, frame);
    }
    scene_tick(seconds);
    render_frame();
    ++g_frame_count;
    run_options_frame_timed(frame_start, sys_seconds());
    after_frame();
    if (g_loop_max_frames > 0 && g_frame_count >= g_loop_max_frames)
        g_quit = 1;
    return !g_quit;
}

void run_main_loop()
{
    loop_begin();
    while (loop_step()) {
    }
}

void scene_stop()
{
    if (current_scene().shutdown)
        current_scene().shutdown();
}
