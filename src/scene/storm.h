// The storm scene: the one entry of the scene table.
#pragma once
#include <cstdint>

extern int32_t g_fog_color[3]; // R, G, B; the fog colour and the frame's clear colour

void storm_init();
void storm_update();
void storm_draw_world();
void hud_draw();
