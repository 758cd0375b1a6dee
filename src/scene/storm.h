// The storm scene: its shared state and the entry points of its passes.
// storm.cpp holds start-up and the order of the world passes; each effect
// lives in a file of its own.
#pragma once
#include <cstdint>

#include "gfx/math3d.h"
#include "scene/scene.h"

// The storm as the frame loop runs it: updated twice a frame, cleared to the
// fog colour.
extern const SceneOps STORM_SCENE;

// --- Scene-wide state (storm.cpp) ---
extern int32_t g_fog_color[3]; // R, G, B; the fog colour and the frame's clear colour
extern float g_fog_start;
extern int g_tex_shade, g_tex_font, g_tex_bolt, g_tex_rain, g_tex_water;
extern int g_snd_rain, g_snd_thunder[3], g_snd_bgthunder;

// Packs a fog colour the way the device and the frame clear take it.
uint32_t storm_fog_argb(const int32_t colour[3]);

void storm_init();

// The scene's update: camera, flash, weather. Twice a frame (STORM_SCENE).
void storm_update();

// --- Camera flight (camera.cpp) ---
extern float g_cam_yaw;   // degrees, unbounded
extern float g_cam_pitch; // degrees, unbounded
extern float g_cam_speed; // units per second, 0..5
// Turns and moves the camera by the frame's mouse input over `dt` seconds;
// `dir` receives the unit view direction.
void camera_fly(float dt, Vec3* dir);

// --- Lightning and weather (lightning.cpp) ---
extern float g_flash; // lightning flash strength
extern float g_last_strike;
extern Vec3 g_bolt_pos;
// Strikes, thunder, the fog's flicker and breathing, on g_time.
void lightning_update();

// --- Terrain (terrain.cpp) ---
constexpr int TERRAIN_GRID = 256;
extern float g_heights[TERRAIN_GRID * TERRAIN_GRID];
extern int g_tex_floor, g_tex_hf, g_tex_hflight, g_tex_lightmap;
void terrain_init();
void terrain_draw();
float terrain_height(float x, float z);

// --- Fire (fire.cpp) ---
constexpr int FIRE_WIDTH = 64;
constexpr int FIRE_HEIGHT = 128;
constexpr float FIRE_STEP_INTERVAL = 0.075f;
extern int g_tex_fire;
extern int32_t g_fire_heat[FIRE_WIDTH * FIRE_HEIGHT]; // [x * 128 + y]
extern float g_fire_next;
void fire_init();
void fire_draw();
// The fire's palette: heat 0..255 to red, green, blue before dimming.
void fire_palette(int32_t heat, int32_t* red, int32_t* green, int32_t* blue);

// --- Water (water.cpp) ---
// The states the water and the rain draw in, set in this order: fogged,
// alpha-blended with SRCALPHA/INVSRCALPHA, no culling, stage 0 passing the
// texture's alpha and stage 1 off. Only the depth test differs between them.
void translucent_pass_states(uint32_t depth_test);
float water_height(float time);
void water_draw();

// --- Rain (rain.cpp) ---
void rain_draw();

// --- Leaves (leaves.cpp) ---
constexpr int LEAF_COUNT = 1000;
constexpr int LEAF_DRAW_COUNT = 200;
struct MeshObject;
extern MeshObject g_leaf_objects[LEAF_COUNT];
extern float g_leaf_phase[LEAF_COUNT];
extern float g_leaf_speed[LEAF_COUNT];
extern Vec3 g_leaf_base[LEAF_COUNT];
void leaves_init();
void leaves_draw();

// --- Lightning bolt and HUD (bolt.cpp, hud.cpp) ---
void bolt_draw();
void hud_draw();
// The HUD line for a camera position, as hud_draw writes it.
void hud_format(const Vec3* position, char* text, int size);
