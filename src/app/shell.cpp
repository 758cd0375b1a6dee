// Process entry. Owns the order in which subsystems
// come up and go down. A missing window, device or renderer ends the program
// with exit code 1; a missing archive, mouse or sound does not. Everything
// that was set up is taken down in reverse order after the frame loop.
#include "app/shell.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "app/loop.h"
#include "app/run_options.h"
#include "app/window.h"
#include "base/crt_rand.h"
#include "base/log.h"
#include "gfx/backend.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "gfx/soft/soft_device.h"
#include "input/mouse.h"
#include "platform/sys.h"
#include "res/files.h"
#include "snd/sound.h"

// The device backends the program can run on; the first is the default.
static const GfxBackend BACKENDS[] = {
    {"soft", soft_create_direct3d},
};

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
    gfx_set_backends(BACKENDS, int(sizeof BACKENDS / sizeof BACKENDS[0]));
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
