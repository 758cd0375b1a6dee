// Flights: recordings of a run's frame steps and mouse input, and their
// replay. One text line per frame: "dt dx dy buttons". Lines that start with
// '#' are comments.
#pragma once
#include <cstdint>
#include <cstdio>
#include <vector>

struct FlightFrame {
    float dt;
    int32_t dx, dy, buttons;
};

// Reads a whole flight file. On a bad line or an unreadable file returns 0
// and writes a message naming the file and line to `err`.
int flight_load(const char* path, std::vector<FlightFrame>* frames, FILE* err);

// Appends one frame as a line and flushes it, so a recording is complete
// however the run ends.
int flight_write_frame(FILE* file, const FlightFrame& frame);

// Run-time state of the frame loop's recording and replay; both are off
// unless the options asked for them.
extern FILE* g_flight_record;
extern std::vector<FlightFrame> g_flight_replay;
extern bool g_flight_replaying;
extern size_t g_flight_next;
