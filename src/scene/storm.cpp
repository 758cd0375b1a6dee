// The storm scene. For now only the grey of a stormy night's fog, which is
// also the colour every frame is cleared to; the effects arrive one by one.
#include "scene/storm.h"

int32_t g_fog_color[3] = {128, 128, 128};

void storm_init()
{
}

void storm_update()
{
}

void storm_draw_world()
{
}

void hud_draw()
{
}
