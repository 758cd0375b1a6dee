// Lightning and weather: the second half of the scene's update. Owns the
// flash, the time and place of the last strike. Lightning strikes at random
// moments (never within a second of the last), flashes the fog and plays a
// thunder panned towards the strike; a distant thunder rumbles now and then;
// the fog's start breathes with the time. Every random draw happens in a
// fixed order, so a seeded run replays exactly.
#include <cmath>

#include "base/clock.h"
#include "base/crt_rand.h"
#include "base/trig.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "scene/storm.h"
#include "snd/sound.h"

float g_flash = 0.0f;
float g_last_strike = 0.0f;
Vec3 g_bolt_pos = {0.0f, 0.0f, 0.0f};

// A strike point around the camera, at least 20 units away counting the
// fixed height of 10: the first draw of an attempt gives z, the second x.
static void strike_offset(Vec3* offset)
{
    do {
        double z = double(crt_rand() % 100) / 100.0 * 50.0 - 25.0;
        double x = double(crt_rand() % 100) / 100.0 * 50.0 - 25.0;
        vec_set(offset, float(x), 10.0f, float(z));
    } while (vec_length(offset) < 20.0f);
}

static void strike()
{
    g_flash = float(10 + crt_rand() % 15);
    g_last_strike = g_time;
    Vec3 offset, towards;
    strike_offset(&offset);
    vec_add(&offset, &g_cam_pos, &g_bolt_pos);
    vec_sub(&g_bolt_pos, &g_cam_pos, &towards);
    vec_normalize(&towards, nullptr);
    // g_cam_right points to the left half of the screen: a strike on the
    // left gets a negative pan, louder on the left.
    int pan = static_cast<int>(-4000.0f * vec_dot(&towards, &g_cam_right));
    int k = crt_rand() % 3;
    snd_play(g_snd_thunder[k], 0, 0, pan, 0);
}

void lightning_update()
{
    if (g_last_strike + 1.0f < g_time && crt_rand() % 500 == 0)
        strike();
    if (crt_rand() % 100 == 0) {
        int pan = crt_rand() % 8000 - 4000;
        snd_play(g_snd_bgthunder, 0, 0, pan, 0);
    }

    int flicker = static_cast<int>(float(crt_rand() % 100) / 100.0f * g_flash);
    g_fog_color[0] = 128 + flicker;
    g_fog_color[1] = 128 + flicker;
    g_fog_color[2] = 128 + 2 * flicker;
    g_device->SetRenderState(D3DRS_FOGCOLOR, storm_fog_argb(g_fog_color));

    g_fog_start = float(trig_sin(double(g_time))) * 5.0f + 5.0f;
    g_device->SetRenderState(D3DRS_FOGSTART, d3d_float_to_dword(g_fog_start));
}
