// Run options around the frame loop. Owns the open recording, the loaded
// replay (through app/recording), the frames to photograph and the frame
// timings of --bench. Nothing here changes what the scene sees except the
// replay, which stands in for the clock and the mouse.
#include "app/run_options.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "app/bench.h"
#include "app/recording.h"
#include "app/screenshot.h"
#include "gfx/backend.h"
#include "gfx/device.h"

static bool s_bench = false;
static std::vector<double> s_frame_starts;
static std::vector<double> s_frame_times;
static std::vector<int> s_shot_frames;
static std::string s_shot_dir;
static std::vector<std::string> s_shots_written;

int run_options_begin(const LaunchOptions& options, FILE* err)
{
    g_replaying = false;
    g_replay_next = 0;
    g_replay_frames.clear();
    if (!options.replay_path.empty()) {
        if (!recording_load(options.replay_path.c_str(), &g_replay_frames, err))
            return 0;
        g_replaying = true;
    }
    if (!options.record_path.empty()) {
        g_recording_file = std::fopen(options.record_path.c_str(), "w");
        if (!g_recording_file) {
            std::fprintf(err, "storm: cannot write the recording '%s': %s\n",
                         options.record_path.c_str(), std::strerror(errno));
            return 0;
        }
        std::fputs("# storm flight: seconds of the frame step, mouse dx, dy, buttons\n",
                   g_recording_file);
    }
    s_bench = options.bench;
    s_frame_starts.clear();
    s_frame_times.clear();
    s_shot_frames = options.shot_frames;
    std::sort(s_shot_frames.begin(), s_shot_frames.end());
    s_shot_dir = options.shot_dir;
    s_shots_written.clear();
    return 1;
}

void run_options_frame_timed(double start, double end)
{
    if (!s_bench)
        return;
    s_frame_starts.push_back(start);
    s_frame_times.push_back(end - start);
}

void run_options_after_frame(int64_t frame_number)
{
    if (!std::binary_search(s_shot_frames.begin(), s_shot_frames.end(), int(frame_number)))
        return;
    char name[64];
    std::snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(frame_number));
    std::string path = s_shot_dir + "/" + name;
    if (screenshot_write(g_device, path.c_str(), false))
        s_shots_written.push_back(path);
    else
        std::fprintf(stderr, "storm: could not write %s\n", path.c_str());
}

void run_options_end(int width, int height)
{
    if (g_recording_file) {
        std::fclose(g_recording_file);
        g_recording_file = nullptr;
    }
    for (const std::string& path : s_shots_written)
        std::printf("storm: frame written to %s\n", path.c_str());
    if (s_bench) {
        BenchSummary summary = bench_summarise(s_frame_starts, s_frame_times, 1.0);
        std::printf("%s\n", bench_format(summary, gfx_backend_name(), width, height).c_str());
    }
    std::fflush(stdout);
}
