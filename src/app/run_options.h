// What the long options add around the frame loop: recording and replaying
// flights, writing chosen frames as PNG, and the --bench statistics.
#pragma once
#include <cstdint>
#include <cstdio>

#include "app/cmdline.h"

// Loads the replay, opens the recording and prepares the frame list; on a
// problem writes a message to `err` and returns 0 (nothing is left open).
int run_options_begin(const LaunchOptions& options, FILE* err);
// Called with every frame's wall-clock start and end (seconds).
void run_options_frame_timed(double start, double end);
// Called after frame `frame_number` (from 1) was presented.
void run_options_after_frame(int64_t frame_number);
// Closes the recording and prints what the run should report.
void run_options_end(int width, int height);
