// Recording and replay of runs. A recording holds what a frame took from the
// clock and the mouse; a replay feeds exactly that back, so with a fixed seed
// the same flight gives the same frames, pixel for pixel. The file is plain
// text so a flight can be written or edited by hand.
#include "app/recording.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

FILE* g_recording_file = nullptr;
std::vector<RecordedFrame> g_replay_frames;
bool g_replaying = false;
size_t g_replay_next = 0;

// A frame step above an hour is no frame step; it would only be a typo.
static constexpr double MAX_FLIGHT_DT = 3600.0;

static bool parse_int32(const char*& cursor, int32_t* value)
{
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(cursor, &end, 10);
    if (end == cursor || errno || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    *value = static_cast<int32_t>(parsed);
    cursor = end;
    return true;
}

static bool parse_line(const char* line, RecordedFrame* frame)
{
    errno = 0;
    char* end = nullptr;
    double dt = std::strtod(line, &end);
    if (end == line || errno || !std::isfinite(dt) || dt < 0.0 || dt > MAX_FLIGHT_DT)
        return false;
    const char* cursor = end;
    if (!parse_int32(cursor, &frame->dx) || !parse_int32(cursor, &frame->dy) ||
        !parse_int32(cursor, &frame->buttons))
        return false;
    while (*cursor == ' ' || *cursor == '\t' || *cursor == '\r' || *cursor == '\n')
        ++cursor;
    frame->dt = static_cast<float>(dt);
    return *cursor == '\0';
}

static bool blank_or_comment(const std::string& line)
{
    size_t first = line.find_first_not_of(" \t\r\n");
    return first == std::string::npos || line[first] == '#';
}

int recording_parse(const char* text, size_t size, const char* name,
                    std::vector<RecordedFrame>* frames, FILE* err)
{
    frames->clear();
    std::string line;
    int line_number = 0;
    size_t at = 0;
    while (at < size) {
        size_t end = at;
        while (end < size && text[end] != '\n')
            ++end;
        line.assign(text + at, end - at);
        at = end + 1;
        ++line_number;
        if (blank_or_comment(line))
            continue;
        RecordedFrame frame;
        if (line.find('\0') != std::string::npos || !parse_line(line.c_str(), &frame)) {
            std::fprintf(err,
                         "storm: %s:%d: expected 'dt dx dy buttons' (seconds >= 0, then three "
                         "whole numbers)\n",
                         name, line_number);
            return 0;
        }
        frames->push_back(frame);
    }
    return 1;
}

int recording_load(const char* path, std::vector<RecordedFrame>* frames, FILE* err)
{
    frames->clear();
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(err, "storm: cannot read flight '%s': %s\n", path, std::strerror(errno));
        return 0;
    }
    std::string text;
    char block[4096];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0)
        text.append(block, got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        std::fprintf(err, "storm: error reading flight '%s'\n", path);
        return 0;
    }
    return recording_parse(text.data(), text.size(), path, frames, err);
}

int recording_write_frame(FILE* file, const RecordedFrame& frame)
{
    // %.9g keeps every float exactly.
    if (std::fprintf(file, "%.9g %d %d %d\n", double(frame.dt), frame.dx, frame.dy, frame.buttons) <
        0)
        return 0;
    return std::fflush(file) == 0;
}
