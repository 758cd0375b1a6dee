// Command line. Owns g_fullscreen, g_width and g_height, the three settings
// the window and the device are created with. The classic switches keep their
// original, forgiving reading (substring search, atoi, minimums, no errors),
// while the long options are strict: a bad value is reported, never guessed.
#include "app/cmdline.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "gfx/soft/soft_device.h"

uint8_t g_fullscreen = 1;
int g_width = 640;
int g_height = 480;

static bool is_c_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int atoi_saturating(const char* text)
{
    while (is_c_space(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > int64_t(INT_MAX) + 1)
            value = int64_t(INT_MAX) + 1; // keep reading digits, stop growing
    }
    if (negative)
        return static_cast<int>(-value < INT_MIN ? INT_MIN : -value);
    return static_cast<int>(value > INT_MAX ? INT_MAX : value);
}

// Reads the number that begins two characters after the first occurrence of
// the switch; false when the switch does not occur.
static bool read_switch_number(const char* text, const char* name, int* value)
{
    const char* found = std::strstr(text, name);
    if (!found)
        return false;
    *value = atoi_saturating(found + 2);
    return true;
}

void parse_command_line(char* text)
{
    for (char* c = text; *c; ++c) {
        if (*c >= 'A' && *c <= 'Z')
            *c = static_cast<char>(*c - 'A' + 'a');
    }
    if (std::strstr(text, "-w"))
        g_fullscreen = 0;
    if (read_switch_number(text, "-x", &g_width) && g_width < MIN_WIDTH)
        g_width = MIN_WIDTH;
    if (read_switch_number(text, "-y", &g_height) && g_height < MIN_HEIGHT)
        g_height = MIN_HEIGHT;
}

// ---------------------------------------------------------------------------
// Long options

static const char USAGE[] =
    "usage: storm [options] [-w] [-x WIDTH] [-y HEIGHT]\n"
    "\n"
    "Renders a stormy night until Escape is pressed or the window is closed.\n"
    "\n"
    "  -w               windowed instead of full screen\n"
    "  -x WIDTH         back-buffer width (default 640, at least 320)\n"
    "  -y HEIGHT        back-buffer height (default 480, at least 200)\n"
    "  --headless       no window: render off screen, no sound, no mouse\n"
    "  --frames N       quit after N frames\n"
    "  --fixed-step S   advance the clock exactly S seconds per frame\n"
    "  --seed N         seed the random generator with N (0..4294967295)\n"
    "  --data DIR       look for resources and data.pak in DIR\n"
    "                   (default: the current directory, then the program's)\n"
    "  --record FILE    write each frame's time step and mouse input to FILE\n"
    "  --replay FILE    take time steps and mouse input from a recorded FILE;\n"
    "                   the run ends with the file\n"
    "  --bench          print frame rate and frame-time percentiles at the end\n"
    "  --shots LIST     write the frames numbered in LIST (like 1,100,250) as PNG\n"
    "  --shot-dir DIR   where --shots writes (default: the current directory)\n"
    "  --renderer NAME  the device backend: auto (default) takes gl on a\n"
    "                   hardware OpenGL 3.3 device, else gles on a hardware\n"
    "                   OpenGL ES 3.0 one, and soft otherwise; gl is OpenGL\n"
    "                   3.3 on any device (soft when none can be had); gles\n"
    "                   is the same on OpenGL ES 3.0;\n"
    "                   soft is the software rasterizer, rendering in tiles\n"
    "                   on several threads; ref is the software reference\n"
    "                   rasterizer, one triangle at a time, as slow as it is\n"
    "                   plain (soft gives the same pixels)\n"
    "  --threads N      threads the soft renderer draws with (1 to 64;\n"
    "                   default: one per processor core)\n"
    "  --root           screensaver: draw on the window named in the environment\n"
    "                   variable XSCREENSAVER_WINDOW, or on the whole screen\n"
    "                   (the root window) when it is unset\n"
    "  --window-id ID   screensaver: draw in the X window ID (0x... or decimal)\n"
    "  --sound          screensaver: play the rain and the thunder (silent\n"
    "                   without it)\n"
    "  --help           print this text and exit\n"
    "  --version        print the version and exit\n"
    "\n"
    "As a screensaver (-root and -window-id work too) the picture fills the\n"
    "window letterboxed, the camera flies by itself, no input is taken, and\n"
    "SIGTERM or SIGINT ends the run.\n"
    "\n"
    "The program writes a trace of its start-up to debug.log in the current\n"
    "directory; a screensaver writes it to $XDG_STATE_HOME/storm/debug.log\n"
    "(~/.local/state/storm/debug.log by default).\n";

static bool parse_positive_int(const char* text, int* value)
{
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text, &end, 10);
    if (errno || end == text || *end || parsed < 1 || parsed > INT_MAX)
        return false;
    *value = static_cast<int>(parsed);
    return true;
}

static bool parse_seed(const char* text, uint32_t* value)
{
    errno = 0;
    char* end = nullptr;
    if (*text == '-' || *text == '+' || is_c_space(*text))
        return false;
    unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno || end == text || *end || parsed > UINT32_MAX)
        return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

// A step must advance the clock and stay far from the float clock's limits.
static constexpr double MAX_FIXED_STEP = 3600.0;

static bool parse_step(const char* text, double* value)
{
    errno = 0;
    char* end = nullptr;
    double parsed = std::strtod(text, &end);
    if (errno || end == text || *end || !std::isfinite(parsed) || parsed <= 0.0 ||
        parsed > MAX_FIXED_STEP)
        return false;
    *value = parsed;
    return true;
}

enum class OptionKind {
    HELP,
    VERSION,
    HEADLESS,
    FRAMES,
    FIXED_STEP,
    SEED,
    DATA,
    RECORD,
    REPLAY,
    BENCH,
    SHOTS,
    SHOT_DIR,
    RENDERER,
    THREADS,
    ROOT,
    WINDOW_ID,
    SOUND,
};

struct LongOption {
    const char* name;
    OptionKind kind;
    bool takes_value;
    const char* value_help; // what a good value looks like, for the error message
};

static constexpr LongOption LONG_OPTIONS[] = {
    {"help", OptionKind::HELP, false, nullptr},
    {"version", OptionKind::VERSION, false, nullptr},
    {"headless", OptionKind::HEADLESS, false, nullptr},
    {"frames", OptionKind::FRAMES, true, "a whole number of frames, at least 1"},
    {"fixed-step", OptionKind::FIXED_STEP, true, "seconds per frame, above 0 and at most 3600"},
    {"seed", OptionKind::SEED, true, "a whole number from 0 to 4294967295"},
    {"data", OptionKind::DATA, true, "an existing directory"},
    {"record", OptionKind::RECORD, true, "a file name"},
    {"replay", OptionKind::REPLAY, true, "a file name"},
    {"bench", OptionKind::BENCH, false, nullptr},
    {"shots", OptionKind::SHOTS, true, "frame numbers from 1, separated by commas"},
    {"shot-dir", OptionKind::SHOT_DIR, true, "an existing directory"},
    {"renderer", OptionKind::RENDERER, true, "a renderer name: auto, gl, gles, soft or ref"},
    {"threads", OptionKind::THREADS, true, "a whole number of threads from 1 to 64"},
    {"root", OptionKind::ROOT, false, nullptr},
    {"window-id", OptionKind::WINDOW_ID, true,
     "an X window id: 0x and hexadecimal digits, or decimal digits (not 0)"},
    {"sound", OptionKind::SOUND, false, nullptr},
};

static const LongOption* find_long_option(const std::string& name)
{
    for (const LongOption& option : LONG_OPTIONS) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

// "1,100,250": positive frame numbers, at least one.
static bool parse_frame_list(const char* text, std::vector<int>* frames)
{
    frames->clear();
    std::string item;
    for (const char* c = text;; ++c) {
        if (*c == ',' || *c == '\0') {
            int frame = 0;
            if (!parse_positive_int(item.c_str(), &frame))
                return false;
            frames->push_back(frame);
            item.clear();
            if (*c == '\0')
                return true;
        } else {
            item += *c;
        }
    }
}

static bool is_directory(const char* path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

static bool apply_value(const LongOption& option, const char* value, LaunchOptions* options)
{
    switch (option.kind) {
    case OptionKind::FRAMES:
        return parse_positive_int(value, &options->max_frames);
    case OptionKind::FIXED_STEP:
        return parse_step(value, &options->fixed_step);
    case OptionKind::SEED:
        options->has_seed = parse_seed(value, &options->seed);
        return options->has_seed;
    case OptionKind::DATA:
        options->data_dir = value;
        return *value && is_directory(value);
    case OptionKind::RECORD:
        options->record_path = value;
        return *value != '\0';
    case OptionKind::REPLAY:
        options->replay_path = value;
        return *value != '\0';
    case OptionKind::SHOTS:
        return parse_frame_list(value, &options->shot_frames);
    case OptionKind::SHOT_DIR:
        options->shot_dir = value;
        return *value && is_directory(value);
    case OptionKind::RENDERER:
        options->renderer = value;
        return std::strcmp(value, "auto") == 0 || std::strcmp(value, "gl") == 0 ||
               std::strcmp(value, "gles") == 0 || std::strcmp(value, "soft") == 0 ||
               std::strcmp(value, "ref") == 0;
    case OptionKind::THREADS:
        return parse_positive_int(value, &options->threads) && options->threads <= SOFT_MAX_THREADS;
    case OptionKind::WINDOW_ID:
        options->saver = true;
        options->has_window_id = parse_window_id(value, &options->window_id);
        return options->has_window_id;
    default:
        return false;
    }
}

bool parse_window_id(const char* text, uint32_t* id)
{
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    // strtoull would also take signs, spaces and a second "0x".
    if (!*text)
        return false;
    for (const char* c = text; *c; ++c) {
        unsigned char digit = static_cast<unsigned char>(*c);
        if (!(base == 16 ? std::isxdigit(digit) : std::isdigit(digit)))
            return false;
    }
    errno = 0;
    unsigned long long parsed = std::strtoull(text, nullptr, base);
    if (errno || parsed == 0 || parsed > 0x1FFFFFFFull)
        return false;
    *id = static_cast<uint32_t>(parsed);
    return true;
}

bool saver_window(const LaunchOptions& options, const char* env_window, uint32_t* id, FILE* err)
{
    *id = 0;
    if (options.has_window_id) {
        *id = options.window_id;
        return true;
    }
    if (!env_window || !*env_window)
        return true;
    if (!parse_window_id(env_window, id)) {
        std::fprintf(err,
                     "storm: XSCREENSAVER_WINDOW='%s' names no window: expected 0x and "
                     "hexadecimal digits, or decimal digits\n",
                     env_window);
        return false;
    }
    return true;
}

// The screensaver options in the single-dash form XScreenSaver's own
// programs use: the whole word, never a substring as the classic switches.
static bool is_single_dash_saver_option(const char* word)
{
    return std::strcmp(word, "-root") == 0 || std::strcmp(word, "-window-id") == 0 ||
           std::strncmp(word, "-window-id=", 11) == 0;
}

static void apply_flag(OptionKind kind, LaunchOptions* options)
{
    switch (kind) {
    case OptionKind::BENCH:
        options->bench = true;
        break;
    case OptionKind::HEADLESS:
        options->headless = true;
        break;
    case OptionKind::ROOT:
        options->saver = true;
        break;
    case OptionKind::SOUND:
        options->sound = true;
        break;
    default:
        break;
    }
}

OptionsResult parse_long_options(int argc, const char* const* argv, LaunchOptions* options,
                                 std::string* classic, FILE* out, FILE* err)
{
    classic->clear();
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        const char* body = nullptr; // the word without its dashes
        if (std::strncmp(word, "--", 2) == 0)
            body = word + 2;
        else if (is_single_dash_saver_option(word))
            body = word + 1;
        if (!body) {
            if (!classic->empty())
                *classic += ' ';
            *classic += word;
            continue;
        }

        // "--name=value" and "--name value" both work.
        std::string name = body;
        const char* inline_value = nullptr;
        size_t equals = name.find('=');
        if (equals != std::string::npos) {
            inline_value = body + equals + 1;
            name.resize(equals);
        }

        const LongOption* option = find_long_option(name);
        if (!option) {
            std::fprintf(err, "storm: warning: unknown option '%s' ignored (see --help)\n", word);
            continue;
        }
        if (!option->takes_value) {
            if (inline_value) {
                std::fprintf(err, "storm: option '--%s' takes no value\n", option->name);
                return OptionsResult::EXIT_USAGE;
            }
            if (option->kind == OptionKind::HELP) {
                std::fputs(USAGE, out);
                return OptionsResult::EXIT_OK;
            }
            if (option->kind == OptionKind::VERSION) {
                std::fprintf(out, "storm %s\n", STORM_VERSION);
                return OptionsResult::EXIT_OK;
            }
            apply_flag(option->kind, options);
            continue;
        }

        const char* value = inline_value;
        if (!value) {
            if (i + 1 >= argc) {
                std::fprintf(err, "storm: option '--%s' needs a value: %s\n", option->name,
                             option->value_help);
                return OptionsResult::EXIT_USAGE;
            }
            value = argv[++i];
        }
        if (!apply_value(*option, value, options)) {
            std::fprintf(err, "storm: bad value '%s' for '--%s': expected %s\n", value,
                         option->name, option->value_help);
            return OptionsResult::EXIT_USAGE;
        }
    }
    if (options->saver && options->headless) {
        std::fprintf(err, "storm: '--headless' draws in no window: it cannot go with '--root' or "
                          "'--window-id'\n");
        return OptionsResult::EXIT_USAGE;
    }
    return OptionsResult::RUN;
}
