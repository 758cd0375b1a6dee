// The storm scene's start-up and its world pass. Owns the scene-wide state:
// the fog (its colour is also the frame's clear colour), and the texture and
// sound slots that several effects share. Every pass sets the render states
// it needs at its start and restores nothing; what it leaves is what the next
// pass inherits, so the order of the passes below is part of the look.
#include "scene/storm.h"

#include "base/clock.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "gfx/texture.h"
#include "snd/sound.h"

int32_t g_fog_color[3] = {128, 128, 128};
float g_fog_start = 1.0f;
static float s_fog_end = 18.0f;
int g_tex_shade = -1, g_tex_font = -1, g_tex_bolt = -1, g_tex_rain = -1, g_tex_water = -1;
int g_snd_rain = -1, g_snd_thunder[3] = {-1, -1, -1}, g_snd_bgthunder = -1;

uint32_t storm_fog_argb(const int32_t colour[3])
{
    return 0xFF000000u | (uint32_t(colour[0]) & 0xFF) << 16 | (uint32_t(colour[1]) & 0xFF) << 8 |
           (uint32_t(colour[2]) & 0xFF);
}

static void rain_water_init()
{
    g_tex_rain = tex_get("textures/rain");
    g_tex_water = tex_get("textures/water");
}

void storm_init()
{
    g_cam_fov = 45.0f;
    g_device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
    g_device->SetRenderState(D3DRS_FOGEND, d3d_float_to_dword(s_fog_end));
    g_tex_shade = tex_get("textures/shade");
    g_tex_font = tex_get("textures/bigchars");
    g_tex_bolt = tex_get("textures/bolt");
    g_device->SetRenderState(D3DRS_DITHERENABLE, 1);

    // The lightmap stage clamps (its coordinates never leave the patch) and
    // minifies by point sampling; everything else filters with the value 3.
    g_device->SetTextureStageState(1, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    g_device->SetTextureStageState(1, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
    g_device->SetTextureStageState(1, D3DTSS_MINFILTER, D3DTEXF_POINT);
    g_device->SetTextureStageState(1, D3DTSS_MIPFILTER, D3DTEXF_ANISOTROPIC);
    g_device->SetTextureStageState(1, D3DTSS_MAGFILTER, D3DTEXF_ANISOTROPIC);
    g_device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_ANISOTROPIC);
    g_device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_ANISOTROPIC);
    g_device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_ANISOTROPIC);

    terrain_init();
    rain_water_init();
    fire_init();
    leaves_init();

    vec_set(&g_cam_pos, -5.0f, 0.0f, 0.0f);
    g_cam_pos.y = terrain_height(-5.0f, 0.0f) + 2.0f;
    g_cam_yaw = 0.0f;
    g_cam_pitch = 0.0f;

    g_snd_rain = snd_get("sound/rain.wav");
    g_snd_thunder[0] = snd_get("sound/thunder1.wav");
    g_snd_thunder[1] = snd_get("sound/thunder2.wav");
    g_snd_thunder[2] = snd_get("sound/thunder3.wav");
    g_snd_bgthunder = snd_get("sound/bgthunder.wav");
    snd_play(g_snd_rain, DSBPLAY_LOOPING, -500, 0, 0);
}

static void storm_draw_world()
{
    terrain_draw();
    water_draw();
    leaves_draw();
    fire_draw();
    bolt_draw();
    rain_draw();
}

// Called twice a frame by the frame loop: the camera flies, the flash fades,
// then the weather draws its chances. Every per-call rate here (the flash's
// fade, the strike chances) was tuned with two calls a frame.
void storm_update()
{
    float dt = g_frame_dt;
    Vec3 dir;
    camera_fly(dt, &dir);
    g_flash = g_flash / (1.0f + dt);
    lightning_update();
}

static uint32_t storm_clear_color()
{
    return storm_fog_argb(g_fog_color);
}

const SceneOps STORM_SCENE = {
    storm_init, storm_update, 2, nullptr, storm_draw_world, hud_draw, storm_clear_color,
};
