// Process entry. Owns the order in which subsystems
// come up and go down. A missing window, device or renderer ends the program
// with exit code 1; a missing archive, mouse or sound does not. Everything
// that was set up is taken down in reverse order after the frame loop.
//
// The device backend is chosen once the window exists: OpenGL when it can be
// had (for `auto` only on a hardware device, desktop OpenGL 3.3 before
// OpenGL ES 3.0), the software rasterizer otherwise. Whatever goes wrong with
// OpenGL at start-up, the program falls back to the software backend and
// says so; it never ends for it.
//
// A screensaver run (--root, --window-id) draws in a window another program
// owns: its trace goes to the XDG state folder, it is silent unless asked,
// the camera is flown by the installed flight, and each night has a seed of
// its own from the wall clock.
#include "app/shell.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "app/loop.h"
#include "app/run_options.h"
#include "app/saver.h"
#include "app/window.h"
#include "base/crt_rand.h"
#include "base/log.h"
#include "gfx/backend.h"
#include "gfx/device.h"
#include "gfx/gl/gl_device.h"
#include "gfx/renderer.h"
#include "gfx/soft/soft_device.h"
#include "input/mouse.h"
#include "platform/sys.h"
#include "res/files.h"
#include "scene/storm.h"
#include "snd/sound.h"

// The device backends the program can run on; the first is the default and
// the one every failure falls back to.
static const GfxBackend BACKENDS[] = {
    {"soft", soft_create_direct3d},
    {"gl", gl_create_direct3d},
    {"gles", gl_create_direct3d},
    {"ref", soft_create_reference_direct3d},
};

// Says why OpenGL is not used, on stderr and in the log.
static void report_fallback(const char* why)
{
    std::fprintf(stderr, "storm: OpenGL cannot be used (%s); using the software renderer\n", why);
    log_printf("renderer: OpenGL cannot be used (%s); using the software renderer", why);
}

// Selects the backend for --renderer. `auto` takes OpenGL only on a hardware
// device, desktop OpenGL 3.3 first and OpenGL ES 3.0 where that is missing;
// finding neither is no failure and is only logged. `gl` and `gles` take
// any device of their kind and report when there is none.
static void choose_backend(const LaunchOptions& options)
{
    gfx_select_backend("soft");
    if (options.renderer == "soft" || options.renderer == "ref") {
        gfx_select_backend(options.renderer.c_str());
        log_printf("renderer: %s", options.renderer.c_str());
        return;
    }
    bool automatic = options.renderer == "auto";
    bool vsync = !options.bench;
    char why[256] = "";
    const char* chosen = options.renderer == "gles" ? "gles" : "gl";
    GlProfile profile = options.renderer == "gles" ? GlProfile::es : GlProfile::desktop;
    int opened = gl_open(g_hwnd, vsync, automatic, profile, why, sizeof why);
    if (!opened && automatic) {
        char es_why[256] = "";
        opened = gl_open(g_hwnd, vsync, true, GlProfile::es, es_why, sizeof es_why);
        if (opened)
            chosen = "gles";
        else
            std::snprintf(why + std::strlen(why), sizeof why - std::strlen(why), "; %s", es_why);
    }
    if (!opened) {
        if (automatic)
            log_printf("renderer: soft (%s)", why);
        else
            report_fallback(why);
        return;
    }
    gfx_select_backend(chosen);
    log_printf("renderer: %s (%s)", chosen, gl_renderer_name());
}

// Creates the device on the chosen backend; when OpenGL was chosen but its
// device cannot be made, starts again on the software backend.
static int start_device()
{
    if (_gfx_init(g_width, g_height, g_fullscreen))
        return 1;
    std::string backend = gfx_backend_name();
    if (backend != "gl" && backend != "gles")
        return 0;
    _gfx_deinit();
    gl_close();
    report_fallback("its device could not be created");
    gfx_select_backend("soft");
    return _gfx_init(g_width, g_height, g_fullscreen);
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

// The tick counter starts with the program, so it would give every night
// nearly the same storm; the wall clock differs from run to run.
static uint32_t wall_clock_seed()
{
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

static uint32_t choose_seed(const LaunchOptions& options)
{
    if (options.has_seed)
        return options.seed;
    return options.saver ? wall_clock_seed() : sys_ticks();
}

// The recorded person flies a screensaver's camera, unless a replay does.
static void start_autopilot(const LaunchOptions& options)
{
    g_autopiloting = false;
    if (!options.saver || !options.replay_path.empty())
        return;
    std::vector<RecordedFrame> flight;
    if (!saver_load_flight(&flight, stderr)) {
        log_printf("saver: no flight to fly");
        return;
    }
    autopilot_start(&g_autopilot, std::move(flight));
    g_autopiloting = true;
    log_printf("saver: flying %s, %d frames", SAVER_FLIGHT, int(g_autopilot.frames.size()));
}

// The launch options of the run, kept from start to finish.
static LaunchOptions s_options;

int storm_start(int argc, const char* const* argv)
{
    LaunchOptions& options = s_options;
    options = LaunchOptions{};
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
    uint32_t window_id = 0;
    if (options.saver &&
        !saver_window(options, std::getenv("XSCREENSAVER_WINDOW"), &window_id, stderr))
        return 2;
    sys_set_foreign_window(options.saver);
    if (!run_options_begin(options, stderr))
        return 2;
    gfx_set_backends(BACKENDS, int(sizeof BACKENDS / sizeof BACKENDS[0]));

    // A screensaver's current folder is not its own to write in.
    if (options.saver)
        saver_open_log(saver_state_dir(std::getenv("XDG_STATE_HOME"), std::getenv("HOME")));
    else
        log_open();
    set_resource_dirs(options);
    pak_open("data.pak");

    sys_set_present_wait(!options.bench);
    if (!sys_init(options.headless)) {
        run_options_end(g_width, g_height);
        return 1;
    }
    if (options.saver && !sys_find_foreign_window(window_id)) {
        run_options_end(g_width, g_height);
        sys_shutdown();
        return 2;
    }
    crt_srand(choose_seed(options));

    sys_set_gl_window(options.renderer != "soft" && options.renderer != "ref");
    soft_set_threads(options.threads);
    if (!create_main_window(g_width, g_height, nullptr, g_fullscreen != 0)) {
        run_options_end(g_width, g_height);
        sys_shutdown();
        return 1;
    }
    sys_show_window(g_hwnd);
    choose_backend(options);
    if (!start_device() || !_r_init()) {
        std::fprintf(stderr, "storm: the display device could not be set up; see debug.log\n");
        run_options_end(g_width, g_height);
        gl_close();
        sys_shutdown();
        return 1;
    }
    in_init(nullptr, g_hwnd);
    if (!options.saver || options.sound)
        snd_init(g_hwnd);

    scene_set_table(&STORM_SCENE, 1);
    scene_start();
    start_autopilot(options);
    loop_begin();
    return SYS_RUNNING;
}

// The OpenGL context went for good (a browser that did not give its WebGL
// context back): the run goes on on the software renderer, the scene's
// textures, states and camera and all.
static void move_to_software()
{
    g_device_lost = 0;
    std::fprintf(stderr, "storm: the OpenGL context was lost; using the software renderer\n");
    log_printf("renderer: the OpenGL context was lost; using the software renderer");
    gfx_select_backend("soft");
    if (!_gfx_move_device(g_width, g_height, g_fullscreen)) {
        std::fprintf(stderr, "storm: the software renderer could not be set up; see debug.log\n");
        g_quit = 1;
        return;
    }
    gl_close();
}

bool storm_frame()
{
    bool going = loop_step();
    if (g_device_lost)
        move_to_software();
    return going && !g_quit;
}

int storm_finish()
{
    scene_stop();

    snd_deinit();
    _r_deinit();
    _gfx_deinit();
    gl_close();
    log_close();
    sys_shutdown();

    run_options_end(g_width, g_height);
    if (s_options.headless)
        std::printf("storm: rendered %lld frames headless; the start-up trace is in debug.log\n",
                    static_cast<long long>(g_frame_count));
    return 0;
}

int storm_main(int argc, const char* const* argv)
{
    return sys_run(SysProgram{storm_start, storm_frame, storm_finish}, argc, argv);
}
