// The browser platform layer, on emscripten's html5.h. The window is the
// page's canvas: the software renderer's frames are put into it at the back
// buffer's size, and the page's style scales it to the window with its own
// proportions (letterboxed). Frames come with the browser's animation frames
// (sys_run), so the page never blocks.
//
// The mouse is held through pointer lock, taken on a click on the canvas and
// given back with Escape (which the browser keeps for itself: it never ends
// the program here). While it is held the camera steers as in full screen;
// taking and losing it reach the program as the window's activation, so
// movement made while it was free is never replayed. "F" toggles full screen.
//
// With the OpenGL backend the canvas holds a WebGL 2 context, which the
// browser may take away (a tab in the background, a GPU reset, too many
// contexts). The storm pauses while it is gone; when it comes back the
// backend makes its objects again and the storm carries on; when none has
// come back after a few seconds, the backend is told it is gone for good and
// the program moves to the software renderer, whose frames go to a second
// canvas the page lays over the first.
#include "platform/sys.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "gfx/backend.h"
#include "gfx/gl/gl_context.h"
#include "input/dinput.h"
#include "platform/platform_internal.h"
#include "snd/snd_output.h"

namespace
{

constexpr const char* CANVAS = SYS_WEB_CANVAS;
// How long a lost WebGL context may take to come back.
constexpr double CONTEXT_WAIT_MS = 3000.0;

bool s_initialised = false;
bool s_headless = true;
SysWindow s_window;
std::vector<uint32_t> s_rgba; // the frame in the canvas's byte order

bool s_context_lost = false;
double s_lost_at = 0.0;   // when the context went, in ms
double s_paused_ms = 0.0; // time spent paused, which the program's clock skips

// Messages waiting for the program, oldest first; a browser delivers events
// between frames, the program takes one a frame.
constexpr int QUEUE_SIZE = 64;
MSG s_queue[QUEUE_SIZE];
int s_queue_first = 0;
int s_queue_count = 0;

void post(uint32_t message, uintptr_t wparam)
{
    if (s_queue_count == QUEUE_SIZE)
        return; // a program that stopped taking messages loses the newest
    s_queue[(s_queue_first + s_queue_count) % QUEUE_SIZE] = MSG{&s_window, message, wparam, 0};
    ++s_queue_count;
}

DWORD now_ms()
{
    return DWORD(uint64_t(emscripten_get_now()));
}

bool pointer_locked()
{
    EmscriptenPointerlockChangeEvent state;
    return emscripten_get_pointerlock_status(&state) == EMSCRIPTEN_RESULT_SUCCESS && state.isActive;
}

// The DOM counts buttons left, middle, right; DirectInput left, right, middle.
int button_index(unsigned short dom_button)
{
    switch (dom_button) {
    case 0:
        return 0;
    case 1:
        return 2;
    case 2:
        return 1;
    default:
        return -1;
    }
}

EM_BOOL on_mouse(int type, const EmscriptenMouseEvent* event, void*)
{
    if (type == EMSCRIPTEN_EVENT_MOUSEDOWN && !pointer_locked()) {
        // The first click takes the pointer; it steers nothing itself.
        emscripten_request_pointerlock(CANVAS, EM_TRUE);
        return EM_TRUE;
    }
    if (!pointer_locked())
        return EM_FALSE;
    if (type == EMSCRIPTEN_EVENT_MOUSEMOVE) {
        di_mouse_motion(int32_t(event->movementX), int32_t(event->movementY), now_ms());
    } else {
        int index = button_index(event->button);
        if (index >= 0)
            di_mouse_button(index, type == EMSCRIPTEN_EVENT_MOUSEDOWN, now_ms());
    }
    return EM_TRUE;
}

EM_BOOL on_pointer_lock(int, const EmscriptenPointerlockChangeEvent* event, void*)
{
    di_window_focus(event->isActive);
    post(WM_ACTIVATE, event->isActive ? WA_ACTIVE : WA_INACTIVE);
    return EM_TRUE;
}

EM_BOOL on_key(int type, const EmscriptenKeyboardEvent* event, void*)
{
    if (type != EMSCRIPTEN_EVENT_KEYDOWN || event->repeat)
        return EM_FALSE;
    if (event->keyCode == 'F') {
        EmscriptenFullscreenChangeEvent state;
        if (emscripten_get_fullscreen_status(&state) == EMSCRIPTEN_RESULT_SUCCESS &&
            state.isFullscreen) {
            emscripten_exit_fullscreen();
        } else {
            EmscriptenFullscreenStrategy strategy = {};
            strategy.scaleMode = EMSCRIPTEN_FULLSCREEN_SCALE_ASPECT;
            strategy.canvasResolutionScaleMode = EMSCRIPTEN_FULLSCREEN_CANVAS_SCALE_NONE;
            strategy.filteringMode = EMSCRIPTEN_FULLSCREEN_FILTERING_DEFAULT;
            emscripten_request_fullscreen_strategy(CANVAS, EM_TRUE, &strategy);
        }
        return EM_TRUE;
    }
    return EM_FALSE; // Escape, F12 and the rest stay the browser's
}

// clang-format off
EM_JS(void, count_frame_shown, (), {
    Module['framesShown'] = (Module['framesShown'] | 0) + 1;
});

// Software frames go to the page's second canvas where it has one: the
// first may hold a WebGL context, and a canvas has one kind of context.
EM_JS(void, show_rgba, (const void* pixels, int width, int height), {
    const canvas = Module['softCanvas'] || Module['canvas'];
    let image = Module['stormImage'];
    if (!image || image.width != width || image.height != height) {
        canvas.width = width;
        canvas.height = height;
        // Kept from frame to frame: a new one each frame is a frame's worth
        // of garbage.
        image = Module['stormImage'] = canvas.getContext('2d').createImageData(width, height);
    }
    image.data.set(HEAPU8.subarray(pixels, pixels + width * height * 4));
    canvas.getContext('2d').putImageData(image, 0, 0);
});
// clang-format on

// Puts a finished X8R8G8B8 frame into the canvas, whose bytes run R, G, B, A.
void present_pixels(HWND window, const uint32_t* pixels, int width, int height, int pitch_bytes)
{
    if (!window || s_headless || !pixels || width <= 0 || height <= 0)
        return;
    s_rgba.resize(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = pixels + size_t(y) * size_t(pitch_bytes / 4);
        uint32_t* out = s_rgba.data() + size_t(y) * size_t(width);
        for (int x = 0; x < width; ++x) {
            uint32_t p = row[x];
            out[x] = 0xFF000000u | (p & 0x0000FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16);
        }
    }
    show_rgba(s_rgba.data(), width, height);
    sys_web_frame_shown();
}

EM_BOOL on_context_lost(int, const void*, void*)
{
    s_context_lost = true;
    s_lost_at = emscripten_get_now();
    std::fprintf(stderr, "storm: the WebGL context was lost; the storm waits for it\n");
    return EM_TRUE; // asks the browser to give it back
}

EM_BOOL on_context_restored(int, const void*, void*)
{
    if (!s_context_lost)
        return EM_TRUE; // given up on already
    s_context_lost = false;
    s_paused_ms += emscripten_get_now() - s_lost_at;
    gl_context_restored();
    std::fprintf(stderr, "storm: the WebGL context is back\n");
    return EM_TRUE;
}

// Whether the storm waits for its context this frame. After the wait the
// backend learns the context is gone for good, and the storm goes on.
bool waiting_for_context()
{
    if (!s_context_lost)
        return false;
    double now = emscripten_get_now();
    if (now - s_lost_at < CONTEXT_WAIT_MS)
        return true;
    s_context_lost = false;
    s_paused_ms += now - s_lost_at;
    gl_context_set_gone(true);
    return false;
}

// Installs the page's event callbacks (input and the WebGL context's loss),
// or with `on` false removes them.
void listen_to_page(bool on)
{
    di_attach_mouse(on);
    auto mouse = on ? on_mouse : nullptr;
    emscripten_set_mousedown_callback(CANVAS, nullptr, EM_TRUE, mouse);
    emscripten_set_mouseup_callback(CANVAS, nullptr, EM_TRUE, mouse);
    emscripten_set_mousemove_callback(CANVAS, nullptr, EM_TRUE, mouse);
    emscripten_set_pointerlockchange_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE,
                                              on ? on_pointer_lock : nullptr);
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE,
                                    on ? on_key : nullptr);
    emscripten_set_webglcontextlost_callback(CANVAS, nullptr, EM_TRUE,
                                             on ? on_context_lost : nullptr);
    emscripten_set_webglcontextrestored_callback(CANVAS, nullptr, EM_TRUE,
                                                 on ? on_context_restored : nullptr);
}

const SysProgram* s_program = nullptr;

// clang-format off
EM_JS(void, report_end, (int code), {
    if (Module['onStormEnd'])
        Module['onStormEnd'](code);
});
// clang-format on

void run_frame()
{
    if (waiting_for_context())
        return;
    if (s_program->frame())
        return;
    emscripten_cancel_main_loop();
    report_end(s_program->finish());
}

} // namespace

void sys_web_frame_shown()
{
    count_frame_shown();
}

int sys_run(const SysProgram& program, int argc, const char* const* argv)
{
    int started = program.start(argc, argv);
    if (started != SYS_RUNNING) {
        report_end(started);
        return started;
    }
    static SysProgram kept;
    kept = program;
    s_program = &kept;
    emscripten_set_main_loop(run_frame, 0, EM_FALSE);
    return 0;
}

int sys_init(bool headless)
{
    s_headless = headless;
    s_initialised = true;
    if (!headless) {
        gfx_set_present_target(present_pixels);
        gl_set_context_ops(sys_gl_web_ops());
        snd_set_output(sys_audio_output());
        listen_to_page(true);
    }
    return 1;
}

void sys_shutdown()
{
    if (!s_initialised)
        return;
    if (!s_headless) {
        listen_to_page(false);
        gl_set_context_ops(nullptr);
        snd_set_output(nullptr);
        gfx_set_present_target(nullptr);
    }
    s_initialised = false;
    s_headless = true;
}

// The program's clock stands still while the storm waits for its context.
uint32_t sys_ticks()
{
    return uint32_t(uint64_t(emscripten_get_now() - s_paused_ms));
}

double sys_seconds()
{
    return (emscripten_get_now() - s_paused_ms) / 1000.0;
}

HWND sys_create_window(const char*, int width, int height, bool fullscreen)
{
    s_window = SysWindow{};
    s_window.fullscreen = fullscreen;
    s_window.outer_width = width;
    s_window.outer_height = height;
    return &s_window;
}

void sys_show_window(HWND) {}

int sys_peek_message(HWND, MSG* msg)
{
    if (s_queue_count == 0)
        return 0;
    *msg = s_queue[s_queue_first];
    s_queue_first = (s_queue_first + 1) % QUEUE_SIZE;
    --s_queue_count;
    return 1;
}

// The browser paces the frames; there is nothing to wait for or to choose.
void sys_set_present_wait(bool) {}
void sys_set_gl_window(bool) {}

const char* sys_executable_dir()
{
    return ""; // the data set lies in the page's file system, at its root
}

// A page has no other program's window to draw in, and no signals.
void sys_set_foreign_window(bool) {}

int sys_find_foreign_window(uint32_t)
{
    return 0;
}

bool sys_stop_requested()
{
    return false;
}
