// SDL2 platform layer. Owns the SDL window, its renderer and the streaming
// texture frames are shown through, and translates SDL's events into the
// window messages the rest of the shell understands. Headless runs keep a
// SysWindow without an SDL window: every call here then quietly does nothing
// visible, so the shell above needs no special cases.
#include "app/sys.h"

#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

struct SysWindow {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    int texture_width = 0;
    int texture_height = 0;
    bool fullscreen = false;
    int outer_width = 0;
    int outer_height = 0;
};

static bool s_headless = true;
static bool s_initialised = false;
static SysMouseSink s_mouse_sink = nullptr;
static SysWindow s_headless_window;
static bool s_present_wait = true;

int sys_init(bool headless)
{
    Uint32 systems = SDL_INIT_EVENTS | SDL_INIT_TIMER;
    if (!headless)
        systems |= SDL_INIT_VIDEO;
    if (SDL_Init(systems) != 0) {
        std::fprintf(stderr, "storm: cannot open a display (%s); try --headless\n",
                     SDL_GetError());
        return 0;
    }
    s_headless = headless;
    s_initialised = true;
    return 1;
}

void sys_shutdown()
{
    if (s_initialised)
        SDL_Quit();
    s_initialised = false;
}

bool sys_is_headless()
{
    return s_headless;
}

uint32_t sys_ticks()
{
    // SDL_GetTicks wraps after 49.7 days exactly like the classic counter;
    // callers take unsigned differences.
    return static_cast<uint32_t>(SDL_GetTicks64());
}

double sys_seconds()
{
    static const double period = 1.0 / double(SDL_GetPerformanceFrequency());
    return double(SDL_GetPerformanceCounter()) * period;
}

static void set_window_icon(SDL_Window* window)
{
    static uint32_t pixels[ICON_SIZE * ICON_SIZE];
    if (!sys_draw_icon(ICON_MAIN, pixels))
        return;
    SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(
        pixels, ICON_SIZE, ICON_SIZE, 32, ICON_SIZE * 4, SDL_PIXELFORMAT_ARGB8888);
    if (!icon)
        return;
    SDL_SetWindowIcon(window, icon);
    SDL_FreeSurface(icon);
}

HWND sys_create_window(const char* title, int width, int height, bool fullscreen)
{
    if (s_headless) {
        s_headless_window = SysWindow{};
        s_headless_window.fullscreen = fullscreen;
        s_headless_window.outer_width = width;
        s_headless_window.outer_height = height;
        return &s_headless_window;
    }

    Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE;
    if (fullscreen)
        flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_FULLSCREEN_DESKTOP;
    SDL_Window* window = SDL_CreateWindow(title, 0, 0, width, height, flags);
    if (!window) {
        std::fprintf(stderr, "storm: cannot create the window: %s\n", SDL_GetError());
        return nullptr;
    }
    set_window_icon(window);
    if (fullscreen)
        SDL_ShowCursor(SDL_DISABLE);
    // Typing never feeds text anywhere; without this every key press would
    // also queue a text event.
    SDL_StopTextInput();

    SysWindow* result = new SysWindow;
    result->window = window;
    result->fullscreen = fullscreen;
    result->outer_width = width;
    result->outer_height = height;
    return result;
}

// The requested size is the outer size, frame and caption included, as the
// classic window had it; the frame is only known once the window is mapped.
static void fit_outer_size(SysWindow* window)
{
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(window->window, &top, &left, &bottom, &right) != 0)
        return;
    int client_width = window->outer_width - left - right;
    int client_height = window->outer_height - top - bottom;
    if (client_width < 1 || client_height < 1)
        return;
    SDL_SetWindowSize(window->window, client_width, client_height);
    SDL_SetWindowPosition(window->window, left, top);
}

void sys_show_window(HWND window)
{
    if (!window || !window->window)
        return;
    SDL_ShowWindow(window->window);
    if (!window->fullscreen)
        fit_outer_size(window);
}

void sys_set_mouse_sink(SysMouseSink sink)
{
    s_mouse_sink = sink;
}

// Mouse and touch input is raw input: it bypasses the message queue.
static void drain_pointer_events()
{
    SDL_Event events[64];
    for (;;) {
        int count = SDL_PeepEvents(events, 64, SDL_GETEVENT, SDL_MOUSEMOTION, SDL_MOUSEWHEEL);
        if (count <= 0)
            break;
        for (int i = 0; i < count && s_mouse_sink; ++i)
            s_mouse_sink(&events[i]);
    }
    SDL_FlushEvents(SDL_FINGERDOWN, SDL_FINGERMOTION);
}

static uintptr_t virtual_key(SDL_Keycode key)
{
    if (key == SDLK_ESCAPE)
        return VK_ESCAPE;
    if (key == SDLK_F12)
        return VK_F12;
    if (key >= SDLK_a && key <= SDLK_z)
        return static_cast<uintptr_t>('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9)
        return static_cast<uintptr_t>(key);
    return 0;
}

static intptr_t pack_size(int width, int height)
{
    auto word = [](int v) { return static_cast<intptr_t>(v < 0 ? 0 : (v > 0xFFFF ? 0xFFFF : v)); };
    return word(width) | (word(height) << 16);
}

// Turns one SDL event into a window message. Events with no counterpart
// still count as the iteration's one message, with message number 0.
static void translate_event(const SDL_Event& event, HWND window, MSG* msg)
{
    *msg = MSG{window, 0, 0, 0};
    switch (event.type) {
    case SDL_QUIT:
        msg->message = WM_CLOSE;
        break;
    case SDL_KEYDOWN:
        msg->message = WM_KEYDOWN;
        msg->wParam = virtual_key(event.key.keysym.sym);
        break;
    case SDL_KEYUP:
        msg->message = WM_KEYUP;
        msg->wParam = virtual_key(event.key.keysym.sym);
        break;
    case SDL_WINDOWEVENT:
        switch (event.window.event) {
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            msg->message = WM_SIZE;
            msg->lParam = pack_size(event.window.data1, event.window.data2);
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            msg->message = WM_ACTIVATE;
            msg->wParam = WA_ACTIVE;
            break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            // Give the pointer back to the desktop at once.
            SDL_SetRelativeMouseMode(SDL_FALSE);
            msg->message = WM_ACTIVATE;
            msg->wParam = WA_INACTIVE;
            break;
        case SDL_WINDOWEVENT_EXPOSED:
            msg->message = WM_PAINT;
            break;
        case SDL_WINDOWEVENT_CLOSE:
            msg->message = WM_CLOSE;
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

int sys_peek_message(HWND window, MSG* msg)
{
    if (!s_initialised)
        return 0;
    SDL_PumpEvents();
    drain_pointer_events();
    SDL_Event event;
    if (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) != 1)
        return 0;
    translate_event(event, window, msg);
    return 1;
}

void sys_set_present_wait(bool wait)
{
    s_present_wait = wait;
}

static bool ensure_texture(SysWindow* window, int width, int height)
{
    if (!window->renderer) {
        Uint32 flags = s_present_wait ? SDL_RENDERER_PRESENTVSYNC : 0;
        window->renderer = SDL_CreateRenderer(window->window, -1, flags);
        if (!window->renderer)
            return false;
    }
    if (window->texture && window->texture_width == width && window->texture_height == height)
        return true;
    if (window->texture)
        SDL_DestroyTexture(window->texture);
    window->texture = SDL_CreateTexture(window->renderer, SDL_PIXELFORMAT_ARGB8888,
                                        SDL_TEXTUREACCESS_STREAMING, width, height);
    window->texture_width = width;
    window->texture_height = height;
    if (!window->texture)
        return false;
    // Full screen keeps the frame's shape with black bars; a window shows the
    // whole frame over its client area, as the classic windowed present did.
    if (window->fullscreen)
        SDL_RenderSetLogicalSize(window->renderer, width, height);
    return true;
}

void sys_present_pixels(HWND window, const uint32_t* pixels, int width, int height,
                        int pitch_bytes)
{
    if (!window || !window->window || !pixels || width <= 0 || height <= 0)
        return;
    if (!ensure_texture(window, width, height))
        return;
    SDL_UpdateTexture(window->texture, nullptr, pixels, pitch_bytes);
    SDL_SetRenderDrawColor(window->renderer, 0, 0, 0, 255);
    SDL_RenderClear(window->renderer);
    SDL_RenderCopy(window->renderer, window->texture, nullptr, nullptr);
    SDL_RenderPresent(window->renderer);
}

const char* sys_executable_dir()
{
    static std::string dir;
    static bool looked = false;
    if (!looked) {
        looked = true;
        if (char* base = SDL_GetBasePath()) {
            dir = base;
            SDL_free(base);
        }
    }
    return dir.c_str();
}

// A lightning bolt on a night-blue disc.
int sys_draw_icon(int id, uint32_t* pixels)
{
    if (id != ICON_MAIN)
        return 0;
    // The bolt as a zig-zag polyline in icon coordinates.
    static constexpr float BOLT[][2] = {{19, 2}, {11, 15}, {17, 15}, {10, 30}, {23, 12}, {16, 12}, {21, 2}};
    constexpr int BOLT_POINTS = sizeof BOLT / sizeof BOLT[0];
    for (int y = 0; y < ICON_SIZE; ++y) {
        for (int x = 0; x < ICON_SIZE; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float dx = px - 16.0f, dy = py - 16.0f;
            float radius = std::sqrt(dx * dx + dy * dy);
            uint32_t colour = 0;
            if (radius <= 15.5f) {
                int shade = 40 + static_cast<int>(30.0f * (1.0f - radius / 16.0f));
                colour = 0xFF000000u | uint32_t(shade / 3) << 16 | uint32_t(shade / 2) << 8 | uint32_t(shade);
            }
            // Distance to the bolt's segments decides its glow.
            float nearest = 1e9f;
            for (int i = 0; i + 1 < BOLT_POINTS; ++i) {
                float ax = BOLT[i][0], ay = BOLT[i][1], bx = BOLT[i + 1][0], by = BOLT[i + 1][1];
                float ex = bx - ax, ey = by - ay;
                float t = ((px - ax) * ex + (py - ay) * ey) / (ex * ex + ey * ey);
                t = t < 0 ? 0 : (t > 1 ? 1 : t);
                float qx = ax + t * ex - px, qy = ay + t * ey - py;
                float d = std::sqrt(qx * qx + qy * qy);
                if (d < nearest)
                    nearest = d;
            }
            if (nearest < 1.2f)
                colour = 0xFFF0F4FFu;
            else if (nearest < 2.5f && colour)
                colour = 0xFF7090E0u;
            pixels[y * ICON_SIZE + x] = colour;
        }
    }
    return 1;
}
