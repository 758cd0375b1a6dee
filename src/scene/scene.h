// What the frame loop needs of a scene: the calls it makes each frame and
// the colour a frame starts from. A scene exports one filled entry; the shell
// hands the loop a table of them, so the loop runs any scene without knowing
// its state.
#pragma once
#include <cstdint>

// One scene's entry; an empty slot is skipped.
struct SceneOps {
    void (*init)();
    // One step of the scene on the frame clock (g_time, g_frame_dt).
    void (*update)();
    // How many times update runs each frame (at least once): the scene's
    // per-step rates are tuned to it.
    int updates_per_frame;
    void (*shutdown)();
    void (*draw_world)();   // the 3D pass, with the camera set
    void (*draw_overlay)(); // the 2D pass, one unit per pixel
    // The colour the frame is cleared to (A8R8G8B8); black without the slot.
    uint32_t (*clear_color)();
};
