// Command line: the three classic switches (-w, -x, -y) and the long options
// that run the program headless, for a fixed number of frames and so on.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

constexpr int MIN_WIDTH = 320;
constexpr int MIN_HEIGHT = 200;

extern uint8_t g_fullscreen; // 1: full screen; cleared by "-w"
extern int g_width;          // requested back-buffer width, at least MIN_WIDTH
extern int g_height;         // requested back-buffer height, at least MIN_HEIGHT

// Reads -w, -x<width> and -y<height> out of the text. The text is lowercased in
// place and searched by substring; numbers are read as atoi reads them and
// raised to the minimums. Everything else is ignored.
void parse_command_line(char* text);

// What the long options ask for. Defaults mean "as the classic program does".
struct LaunchOptions {
    bool headless = false;   // no window, off-screen device, silent, no mouse
    int max_frames = 0;      // quit after this many frames; 0 = run until quit
    double fixed_step = 0.0; // seconds per frame instead of the clock; 0 = clock
    bool has_seed = false;   // seed the generator with `seed`, not the clock
    uint32_t seed = 0;
    std::string data_dir;          // where resources are looked for; empty = default
    std::string record_path;       // write each frame's dt and mouse input here
    std::string replay_path;       // take dt and mouse input from this flight
    bool bench = false;            // print frame-time statistics at the end
    std::vector<int> shot_frames;  // frames (from 1) to write as PNG
    std::string shot_dir = ".";    // where those frames go
    std::string renderer = "auto"; // auto, gl, soft or ref
    int threads = 0;               // software render threads; 0 = one per core
    // Screensaver mode: draw in a window another program owns.
    bool saver = false;         // --root or --window-id was given
    bool has_window_id = false; // --window-id: that window, whatever the environment says
    uint32_t window_id = 0;
    bool sound = false; // --sound: a screensaver is silent without it
};

enum class OptionsResult {
    RUN,        // go on and run the program
    EXIT_OK,    // --help or --version was answered
    EXIT_USAGE, // a bad value: a message went to `err`, exit code 2
};

// Takes every word that starts with "--" (and the value that follows those that
// take one) out of argv; joins the remaining words with single spaces into
// `classic`, which then goes to parse_command_line. Unknown long options are
// warned about on `err` and dropped.
OptionsResult parse_long_options(int argc, const char* const* argv, LaunchOptions* options,
                                 std::string* classic, FILE* out, FILE* err);

// An X window id as screensavers are handed one: "0x" and hexadecimal digits,
// or decimal digits; nothing else around them. X ids never use the top three
// bits, and 0 names no window. False for anything else.
bool parse_window_id(const char* text, uint32_t* id);

// The window a screensaver run draws in: --window-id's, else the one in
// `env_window` (the value of XSCREENSAVER_WINDOW; null or empty when unset),
// else 0 for the screen's root window. A bad value in the environment is
// reported on `err` and gives false.
bool saver_window(const LaunchOptions& options, const char* env_window, uint32_t* id, FILE* err);

// atoi's reading of a number: leading white space, an optional sign, digits up to
// the first non-digit, 0 when there are none. Saturates instead of overflowing.
int atoi_saturating(const char* text);
