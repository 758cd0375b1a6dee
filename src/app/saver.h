// Screensaver mode: where its trace goes, and the autopilot that flies the
// camera as a person would, from a recorded flight's mouse input.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/recording.h"

// The name the flight is installed under, beside data.pak.
constexpr char SAVER_FLIGHT[] = "flight.rec";

// The folder a screensaver keeps its trace in: `xdg_state_home`/storm when
// that is an absolute path, else `home`/.local/state/storm; "" when neither
// is usable (both unset, empty or relative).
std::string saver_state_dir(const char* xdg_state_home, const char* home);

// Creates `dir` as needed and opens the log there as debug.log; 0 when the
// folder cannot be made (the run goes on without a log, as any run without
// write permission does).
int saver_open_log(const std::string& dir);

// A recorded flight played by the real clock: each recorded frame's mouse
// input arrives once the flight's own time has passed its end, so the camera
// turns and flies as fast as the person did whatever the frame rate. The
// flight loops; the buttons keep the state of the last frame that arrived.
struct Autopilot {
    std::vector<RecordedFrame> frames;
    double length = 0.0; // seconds of the whole flight
    size_t next = 0;     // the frame whose input arrives next
    double left = 0.0;   // flight seconds until it arrives
    int32_t buttons = 0;
};

// A step longer than this (a stalled or suspended machine) plays only this
// much of the flight, so the camera never spins through a burst of input.
constexpr double AUTOPILOT_MAX_STEP = 0.5;

// The frame loop's autopilot; it flies while g_autopiloting is set.
extern Autopilot g_autopilot;
extern bool g_autopiloting;

void autopilot_start(Autopilot* pilot, std::vector<RecordedFrame> frames);
// The input of the next `seconds` of flight: movement summed over the frames
// that arrived, the buttons as they now are, dt = the flight time played. A
// flight whose steps are all 0 plays one frame a call.
RecordedFrame autopilot_take(Autopilot* pilot, double seconds);

// Loads the installed flight (found as any resource: the data folders, then
// data.pak); 0 with a message on `err` when there is none or it is bad.
int saver_load_flight(std::vector<RecordedFrame>* frames, FILE* err);
