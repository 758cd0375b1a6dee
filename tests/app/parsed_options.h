// Runs the long-option parser over a command line as the program would get
// it, keeping what it wrote: shared by the command-line tests.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "app/cmdline.h"

struct Parsed {
    OptionsResult result;
    LaunchOptions options;
    std::string classic, out, err;
};

inline std::string read_all(FILE* file)
{
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

// `words` after the program's name.
inline Parsed run_options(std::vector<const char*> words)
{
    words.insert(words.begin(), "storm");
    Parsed parsed;
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    parsed.result = parse_long_options(static_cast<int>(words.size()), words.data(),
                                       &parsed.options, &parsed.classic, out, err);
    parsed.out = read_all(out);
    parsed.err = read_all(err);
    return parsed;
}
