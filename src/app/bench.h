// Frame-time statistics for --bench.
#pragma once
#include <string>
#include <vector>

struct BenchSummary {
    int frames;        // frames counted (after the warm-up)
    int warmup_frames; // frames left out at the start
    double seconds;    // wall time of the counted frames
    double mean_fps;
    double p50_ms, p99_ms;
};

// Summarises frames given by their start times and durations (seconds, from
// any common origin). Frames that start within `warmup` seconds of the first
// are left out, unless that would leave nothing to count.
BenchSummary bench_summarise(const std::vector<double>& starts,
                             const std::vector<double>& durations, double warmup);

// The one line --bench prints at the end of a run.
std::string bench_format(const BenchSummary& summary, const char* renderer, int width, int height);
