// Debug log: the program's trace of start-up, texture loads and shutdown.
#pragma once
#include <cstdio>

// The formatting buffer holds at most LOG_LINE_MAX - 1 characters of message.
constexpr int LOG_LINE_MAX = 1024;

extern FILE* g_log_file;

// Creates (or empties) "debug.log" in the current directory. Without write
// permission the program runs on with no log.
void log_open();
// The same at `path`, for runs whose current directory is not theirs to
// write in (a screensaver's).
void log_open_file(const char* path);
// Writes " - <message>" as one line and flushes it, so a failed start shows how
// far it got. Messages longer than the buffer are cut, never overflowed.
void log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Closes the log if it is open; safe to call when it is not.
void log_close();
