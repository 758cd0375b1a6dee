// Owns the frame clock globals: every layer may read them, only the frame
// loop writes them.
#include "base/clock.h"

float g_clock = 0.0f;
float g_frame_dt = 0.0f;
float g_time = 0.0f;

float clock_seconds(uint32_t start_ticks, uint32_t now_ticks)
{
    uint32_t elapsed = now_ticks - start_ticks; // modulo 2^32 by definition
    return static_cast<float>(static_cast<int64_t>(elapsed)) / 1000.0f;
}

void clock_advance(float seconds)
{
    g_frame_dt = seconds - g_clock;
    g_clock = seconds;
    g_time = g_clock;
}
