// The frame loop, its clock and the scene table.
#pragma once
#include <cstdint>

#include "base/clock.h"

// One scene's callbacks; an empty slot is skipped. The order is the table's layout.
struct SceneOps {
    void (*init)();
    void (*update)();
    void (*shutdown)();
    void (*draw_overlay)();
    void (*draw_world)();
};

extern SceneOps g_scenes[1];
extern int32_t g_scene_index;

extern uint32_t g_loop_start_ticks; // tick count when the loop began
extern uint32_t g_frame_ticks;      // tick count of the current iteration

// Run controls from the long options: stop after this many frames (0 = never);
// a fixed step in seconds replaces the tick counter (0 = use the counter).
extern int g_loop_max_frames;
extern double g_loop_fixed_step;
extern int64_t g_frame_count; // frames rendered so far

// Selects scene 0 and runs its init.
void scene_start();
// Runs frames until g_quit is set.
void run_main_loop();
// Advances the clock to `seconds` and runs the scene's update twice: through
// the table and directly.
void scene_tick(float seconds);
// Clear, 3D pass, 2D pass, present.
void render_frame();
// Runs the current scene's shutdown slot.
void scene_stop();
