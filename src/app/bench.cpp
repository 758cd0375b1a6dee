// Frame-time statistics. Percentiles are nearest-rank over the counted
// frames; the mean rate is frames over the summed frame times, so pauses
// between frames (there are none in the loop) would not count.
#include "app/bench.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

static double percentile(std::vector<double> sorted, double p)
{
    if (sorted.empty())
        return 0.0;
    std::sort(sorted.begin(), sorted.end());
    size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * double(sorted.size())));
    rank = std::clamp<size_t>(rank, 1, sorted.size());
    return sorted[rank - 1];
}

BenchSummary bench_summarise(const std::vector<double>& starts,
                             const std::vector<double>& durations, double warmup)
{
    BenchSummary summary = {};
    size_t count = std::min(starts.size(), durations.size());
    size_t first = 0;
    if (count > 0) {
        while (first < count && starts[first] - starts[0] < warmup)
            ++first;
        if (first == count)
            first = 0; // a run shorter than the warm-up: count all of it
    }
    std::vector<double> counted(durations.begin() + long(first), durations.begin() + long(count));
    summary.frames = int(counted.size());
    summary.warmup_frames = int(first);
    for (double d : counted)
        summary.seconds += d;
    summary.mean_fps = summary.seconds > 0.0 ? double(summary.frames) / summary.seconds : 0.0;
    summary.p50_ms = percentile(counted, 50.0) * 1000.0;
    summary.p99_ms = percentile(counted, 99.0) * 1000.0;
    return summary;
}

std::string bench_format(const BenchSummary& summary, const char* renderer, int width, int height)
{
    char line[256];
    std::snprintf(
        line, sizeof line,
        "bench: renderer %s, %dx%d, %d frames, %.2f s, %.1f fps, p50 %.2f ms, p99 %.2f ms "
        "(%d warm-up frames left out)",
        renderer, width, height, summary.frames, summary.seconds, summary.mean_fps, summary.p50_ms,
        summary.p99_ms, summary.warmup_frames);
    return line;
}
