// The frame clock: scene time as the frame loop hands it out. Everything
// below the loop reads time from here and never from a clock of its own, so a
// fixed step makes a run exactly repeatable.
#pragma once
#include <cstdint>

extern float g_clock;    // seconds from the loop's start to this frame
extern float g_frame_dt; // seconds since the previous frame
extern float g_time;     // the scene's time; equal to g_clock

// Seconds between two millisecond tick readings; the unsigned difference
// keeps the clock continuous when the counter wraps.
float clock_seconds(uint32_t start_ticks, uint32_t now_ticks);

// Moves the clock to `seconds`: the step since the previous frame, then the
// time itself.
void clock_advance(float seconds);
