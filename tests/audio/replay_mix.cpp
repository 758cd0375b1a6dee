// storm_replay_mix: the mix a run of the program holds at given frames, as the
// browser page's tests read it there. The program runs headless over an audio
// device that opens at the page's rate and never pulls (a browser's context
// stays suspended until a click), so nothing is mixed while frames go by;
// after each stop's frame the mix is drained by hand, in blocks of 1024
// frames as the page's test drains it.
//
//     storm_replay_mix RATE OUT.f32 FRAME:FRAMES [FRAME:FRAMES...] -- STORM-ARGS...
//
// OUT.f32 gets every stop's frames in turn: float stereo, interleaved, in
// the machine's byte order.
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "app/shell.h"
#include "platform/sys.h"
#include "snd/dsound.h"
#include "snd/snd_output.h"

namespace
{

int s_rate = 0;

const SndOutput HELD = {
    []() { return s_rate; },
    []() {},
    []() { return 1; },
};

struct Stop {
    long frame;
    long frames;
};

int usage()
{
    std::fprintf(stderr, "usage: storm_replay_mix RATE OUT.f32 FRAME:FRAMES [FRAME:FRAMES...]"
                         " -- STORM-ARGS...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5)
        return usage();
    s_rate = std::atoi(argv[1]);
    const char* out_path = argv[2];
    std::vector<Stop> stops;
    int at = 3;
    for (; at < argc && std::string_view(argv[at]) != "--"; ++at) {
        Stop stop{};
        if (std::sscanf(argv[at], "%ld:%ld", &stop.frame, &stop.frames) != 2 || stop.frame < 1 ||
            stop.frames < 1 || (!stops.empty() && stop.frame <= stops.back().frame))
            return usage();
        stops.push_back(stop);
    }
    if (s_rate < 8000 || stops.empty() || at == argc)
        return usage();

    // The program's own arguments, its name first.
    std::vector<const char*> args{"storm"};
    for (int i = at + 1; i < argc; ++i)
        args.push_back(argv[i]);
    snd_set_output(&HELD);
    if (storm_start(int(args.size()), args.data()) != SYS_RUNNING) {
        std::fprintf(stderr, "storm_replay_mix: the program did not start\n");
        return 1;
    }
    if (ds_output_rate() != s_rate) {
        std::fprintf(stderr, "storm_replay_mix: the program runs silent\n");
        return 1;
    }

    std::vector<float> mixed;
    std::vector<float> block(2 * 1024);
    long frame = 0;
    for (const Stop& stop : stops) {
        for (; frame < stop.frame; ++frame) {
            if (!storm_frame()) {
                std::fprintf(stderr, "storm_replay_mix: the run ended at frame %ld\n", frame + 1);
                return 1;
            }
        }
        for (long done = 0; done < stop.frames; done += 1024) {
            int count = int(stop.frames - done < 1024 ? stop.frames - done : 1024);
            ds_render(block.data(), count);
            mixed.insert(mixed.end(), block.begin(), block.begin() + 2 * count);
        }
    }
    storm_finish();

    FILE* file = std::fopen(out_path, "wb");
    bool written =
        file && std::fwrite(mixed.data(), sizeof(float), mixed.size(), file) == mixed.size();
    if (file && std::fclose(file) != 0)
        written = false;
    if (!written) {
        std::fprintf(stderr, "storm_replay_mix: cannot write %s\n", out_path);
        return 1;
    }
    return 0;
}
