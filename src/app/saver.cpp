// Screensaver mode's own pieces. A screensaver is started by a daemon in a
// folder that is not its own (often the home folder), so its trace goes
// where the XDG base directories keep state. Nobody holds the mouse, so a
// recorded person flies: the committed flight, looped, played by the clock.
#include "app/saver.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/log.h"
#include "res/files.h"

Autopilot g_autopilot;
bool g_autopiloting = false;

std::string saver_state_dir(const char* xdg_state_home, const char* home)
{
    // The base directory rules: a relative path in the variable is invalid
    // and ignored.
    if (xdg_state_home && xdg_state_home[0] == '/')
        return std::string(xdg_state_home) + "/storm";
    if (home && home[0] == '/')
        return std::string(home) + "/.local/state/storm";
    return "";
}

int saver_open_log(const std::string& dir)
{
    if (dir.empty())
        return 0;
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error)
        return 0;
    log_open_file((dir + "/debug.log").c_str());
    return g_log_file != nullptr;
}

void autopilot_start(Autopilot* pilot, std::vector<RecordedFrame> frames)
{
    *pilot = Autopilot{};
    pilot->frames = std::move(frames);
    for (const RecordedFrame& frame : pilot->frames)
        pilot->length += frame.dt;
    if (!pilot->frames.empty())
        pilot->left = pilot->frames[0].dt;
}

// Hands frame `next` over to `out` and moves on, round the loop.
static void arrive(Autopilot* pilot, RecordedFrame* out)
{
    const RecordedFrame& frame = pilot->frames[pilot->next];
    out->dx += frame.dx;
    out->dy += frame.dy;
    pilot->buttons = frame.buttons;
    pilot->next = (pilot->next + 1) % pilot->frames.size();
    pilot->left += pilot->frames[pilot->next].dt;
}

RecordedFrame autopilot_take(Autopilot* pilot, double seconds)
{
    RecordedFrame out = {0.0f, 0, 0, pilot->buttons};
    if (pilot->frames.empty())
        return out;
    if (pilot->length <= 0.0) {
        arrive(pilot, &out);
        out.buttons = pilot->buttons;
        return out;
    }
    double step =
        seconds < 0.0 ? 0.0 : (seconds > AUTOPILOT_MAX_STEP ? AUTOPILOT_MAX_STEP : seconds);
    pilot->left -= step;
    // At most one lap a call: the step is far shorter than any real flight.
    for (size_t arrived = 0; pilot->left <= 0.0 && arrived < pilot->frames.size(); ++arrived)
        arrive(pilot, &out);
    if (pilot->left < 0.0)
        pilot->left = 0.0;
    out.dt = static_cast<float>(step);
    out.buttons = pilot->buttons;
    return out;
}

int saver_load_flight(std::vector<RecordedFrame>* frames, FILE* err)
{
    frames->clear();
    MemFile* file = mf_open(SAVER_FLIGHT);
    if (!file) {
        std::fprintf(err, "storm: no %s beside the data: the camera stays where it starts\n",
                     SAVER_FLIGHT);
        return 0;
    }
    int ok = recording_parse(reinterpret_cast<const char*>(file->data), size_t(file->size),
                             SAVER_FLIGHT, frames, err);
    mf_close(file);
    return ok && !frames->empty();
}
