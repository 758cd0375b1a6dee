// Process entry. Owns g_hwnd and g_quit and the order in which subsystems
// come up and go down. A missing window, device or renderer ends the program
// with exit code 1; a missing archive, mouse or sound does not. Everything
// that was set up is taken down in reverse order after the frame loop.
#include "app/shell.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "app/crt_rand.h"
#include "app/log.h"
#include "app/loop.h"
#include "app/run_options.h"
#include "gfx/backend.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "input/mouse.h"
#include "res/files.h"
#include "snd/sound.h"

HWND g_hwnd = nullptr;
int32_t g_quit = 0;

HWND create_main_window(int width, int height, HINSTANCE, bool fullscreen)
{
    g_hwnd = sys_create_window(WINDOW_TITLE, width, height, fullscreen);
    return g_hwnd;
}

intptr_t main_wnd_proc(HWND, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    switch (message) {
    case WM_SIZE:
        _gfx_resize(static_cast<int>(lparam & 0xFFFF), static_cast<int>((lparam >> 16) & 0xFFFF), 0);
        return 0;
    case WM_ACTIVATE:
        if ((wparam & 0xFFFF) != WA_INACTIVE)
            in_acquire();
        return 0;
    case WM_PAINT:
        return 1; // every frame is drawn anyway
    case WM_CLOSE:
        g_quit = 1; // the window stays until the process ends
        return 1;
    case WM_KEYDOWN:
        if (wparam == VK_ESCAPE) {
            g_quit = 1;
            return 1;
        }
        if (wparam == VK_F12)
            g_screenshot_requested = 1;
        return 0;
    default:
        return 0;
    }
}

// Resources are looked for under --data, or else in the current directory,
// beside the executable (so build/storm runs from anywhere) and in the
// installed data directory next to the executable's bin/.
static void set_resource_dirs(const LaunchOptions& options)
{
    std::vector<std::string> dirs;
    if (!options.data_dir.empty()) {
        dirs.push_back(options.data_dir);
    } else {
        dirs.push_back(".");
        std::string exe_dir = sys_executable_dir();
        if (!exe_dir.empty()) {
            dirs.push_back(exe_dir);
            dirs.push_back(exe_dir + "../share/storm");
        }
    }
    std::vector<const char*> views;
    for (const std::string& dir : dirs)
        views.push_back(dir.c_str());
    mf_set_search_dirs(views.data(), static_cast<int>(views.size()));
}

static void apply_run_controls(const LaunchOptions& options)
{
    g_loop_max_frames = options.max_frames;
    g_loop_fixed_step = options.fixed_step;
}

int storm_main(int argc, const char* const* argv)
{
    LaunchOptions options;
    std::string classic;
    switch (parse_long_options(argc, argv, &options, &classic, stdout, stderr)) {
    case OptionsResult::EXIT_OK:
        return 0;
    case OptionsResult::EXIT_USAGE:
        return 2;
    case OptionsResult::RUN:
        break;
    }
    std::vector<char> text(classic.begin(), classic.end());
    text.push_back('\0');
    parse_command_line(text.data());
    apply_run_controls(options);
    if (!run_options_begin(options, stderr))
        return 2;
    gfx_select_backend(options.renderer.c_str());

    log_open();
    set_resource_dirs(options);
    pak_open("data.pak");

    sys_set_present_wait(!options.bench);
    if (!sys_init(options.headless)) {
        run_options_end(g_width, g_height);
        return 1;
    }
    crt_srand(options.has_seed ? options.seed : sys_ticks());

    if (!create_main_window(g_width, g_height, nullptr, g_fullscreen != 0)) {
        run_options_end(g_width, g_height);
        sys_shutdown();
        return 1;
    }
    sys_show_window(g_hwnd);
    if (!_gfx_init(g_width, g_height, g_fullscreen) || !_r_init()) {
        std::fprintf(stderr, "storm: the display device could not be set up; see debug.log\n");
        run_options_end(g_width, g_height);
        sys_shutdown();
        return 1;
    }
    in_init(nullptr, g_hwnd);
    snd_init(g_hwnd);

    scene_start();
    run_main_loop();
    scene_stop();

    snd_deinit();
    _r_deinit();
    _gfx_deinit();
    log_close();
    sys_shutdown();

    run_options_end(g_width, g_height);
    if (options.headless)
        std::printf("storm: rendered %lld frames headless; the start-up trace is in debug.log\n",
                    static_cast<long long>(g_frame_count));
    return 0;
}
