// What the platform's own files share: the audio device and the system mouse
// as sys_init plugs them into the layers below.
#pragma once
#include <cstdint>

#include "gfx/gl/gl_context.h"
#include "snd/snd_output.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

// The one window. A headless window has no SDL window: drawing to it shows
// nothing. The renderer and texture serve the software backend's frames;
// an OpenGL window has a context instead and never gets them.
struct SysWindow {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    int texture_width = 0;
    int texture_height = 0;
    bool fullscreen = false;
    int outer_width = 0;
    int outer_height = 0;
    bool foreign = false; // another program's window (screensaver mode)
};

// A foreign window's size as X has it now (SDL never hears of its changes),
// asked once a frame by the present. False when the window is gone, which
// ends the run.
bool sys_foreign_size(int* width, int* height);

// X11 for foreign windows, on a connection of its own.
// Opens it and finds `id` (0: the root window); false, with the reason in
// `why`, when there is no display or no such window. From then on until
// x11_foreign_close, X errors about the window end the run instead of the
// program, and other X errors are reported and passed over.
bool x11_foreign_open(uint32_t id, uint32_t* found, char* why, int why_size);
// The window's current size; false once it is gone (or an error said so).
bool x11_foreign_size(int* width, int* height);
void x11_foreign_close();

// GL context operations: on the SDL window, and off screen through EGL
// without any display server.
const GlContextOps* sys_gl_window_ops();
const GlContextOps* sys_gl_headless_ops();
// Asks SDL for an OpenGL 3.3 core or an OpenGL ES 3.0 context.
void sys_gl_window_attributes(GlProfile profile);

// The browser's: its canvas, a WebGL 2 context on it, and the count of
// frames shown that the page reads.
constexpr const char* SYS_WEB_CANVAS = "#canvas";
const GlContextOps* sys_gl_web_ops();
void sys_web_frame_shown();

// The SDL audio device, ready to be installed with snd_set_output.
const SndOutput* sys_audio_output();
// Tells the audio device that SDL reported an output device removed.
void sys_audio_device_removed(uint32_t device);
// True when a PulseAudio server answers and has no sink to play on (SDL's
// PulseAudio driver must not start then); false when it has one, or when
// there is no such server or no libpulse.
bool sys_pulse_lacks_sink();

// Tells the mouse device that there is (or no longer is) a mouse to read,
// and starts (or stops) reporting focus changes to it.
void sys_mouse_attach(bool attached);
// Hands one SDL mouse event (an SDL_Event) to the mouse device.
void sys_mouse_event(const void* sdl_event);
