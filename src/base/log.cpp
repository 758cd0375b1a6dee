// Debug log. Owns g_log_file, the open stream of "debug.log" or null. Every
// line is flushed as it is written so that an early exit loses nothing; the
// file is opened in text mode, so the host decides the line end.
#include "base/log.h"

#include <cstdarg>

FILE* g_log_file = nullptr;

void log_open()
{
    log_open_file("debug.log");
}

void log_open_file(const char* path)
{
    g_log_file = std::fopen(path, "w+");
}

void log_printf(const char* format, ...)
{
    // Formatting happens even with no log open, as callers may rely on the
    // arguments being evaluated the same way either way.
    char message[LOG_LINE_MAX];
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (written < 0)
        message[0] = '\0';

    if (!g_log_file)
        return;
    std::fprintf(g_log_file, " - %s\n", message);
    std::fflush(g_log_file);
}

void log_close()
{
    if (!g_log_file)
        return;
    std::fclose(g_log_file);
    g_log_file = nullptr;
}
