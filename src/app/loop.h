// The frame loop and the scene table it runs.
#pragma once
#include <cstdint>

#include "base/clock.h"
#include "scene/scene.h"

// Installs the scenes the loop can run (kept by pointer: the table must
// outlive the loop) and selects the first.
void scene_set_table(const SceneOps* table, int count);

// Run controls from the long options: stop after this many frames (0 = never);
// a fixed step in seconds replaces the tick counter (0 = use the counter).
extern int g_loop_max_frames;
extern double g_loop_fixed_step;
extern int64_t g_frame_count; // frames rendered so far
// Set when the device's Present says it is lost for good; whoever runs the
// loop moves the program to another device and clears it.
extern int g_device_lost;

// Selects scene 0 and runs its init.
void scene_start();
// Starts the frame clock; once before the first step.
void loop_begin();
// One iteration: a window message, the mouse, the clock, the scene, a frame.
// False once the run is over (g_quit is set).
bool loop_step();
// Runs steps until g_quit is set.
void run_main_loop();
// Advances the clock to `seconds` and runs the scene's update as many times
// as its entry asks.
void scene_tick(float seconds);
// Clear, 3D pass, 2D pass, present.
void render_frame();
// Runs the current scene's shutdown slot.
void scene_stop();
