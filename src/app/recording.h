// Recordings of a run: each frame's time step and mouse input, and their
// replay. One text line per frame: "dt dx dy buttons". Lines that start with
// '#' are comments.
#pragma once
#include <cstdint>
#include <cstdio>
#include <vector>

struct RecordedFrame {
    float dt;
    int32_t dx, dy, buttons;
};

// Reads a whole flight file. On a bad line or an unreadable file returns 0
// and writes a message naming the file and line to `err`.
int recording_load(const char* path, std::vector<RecordedFrame>* frames, FILE* err);
// The same for a flight already in memory (`size` bytes); `name` stands for
// the file in messages.
int recording_parse(const char* text, size_t size, const char* name,
                    std::vector<RecordedFrame>* frames, FILE* err);

// Appends one frame as a line and flushes it, so a recording is complete
// however the run ends.
int recording_write_frame(FILE* file, const RecordedFrame& frame);

// Run-time state of the frame loop's recording and replay; both are off
// unless the options asked for them.
extern FILE* g_recording_file;
extern std::vector<RecordedFrame> g_replay_frames;
extern bool g_replaying;
extern size_t g_replay_next;
