// Camera flight: the first half of the scene's update. Owns the camera's
// heading, pitch and speed. The mouse turns the view and its second button
// flies the camera; the camera rides two units above the ground inside a
// 50-unit sphere.
#include <cmath>

#include "base/trig.h"
#include "gfx/renderer.h"
#include "input/mouse.h"
#include "scene/storm.h"

float g_cam_yaw = 0.0f;
float g_cam_pitch = 0.0f;
float g_cam_speed = 0.0f;

static constexpr float MAX_SPEED = 5.0f;
static constexpr float ACCELERATION = 2.0f;
static constexpr float BRAKING = 5.0f;
static constexpr float RIDE_HEIGHT = 2.0f;
static constexpr float WORLD_RADIUS = 50.0f;

void camera_fly(float dt, Vec3* dir)
{
    g_cam_yaw += float(g_mouse_dx) / 10.0f;
    g_cam_pitch -= float(g_mouse_dy) / 10.0f;
    float yaw = g_cam_yaw / 360.0f * 6.2831855f;
    float pitch = g_cam_pitch / 360.0f * 6.2831855f;
    vec_set(dir, float(trig_cos(yaw) * trig_cos(pitch)), float(trig_sin(pitch)),
            float(trig_sin(yaw) * trig_cos(pitch)));

    if (g_mouse_buttons & 2)
        g_cam_speed += ACCELERATION * dt;
    else
        g_cam_speed -= BRAKING * dt;
    if (g_cam_speed < 0.0f)
        g_cam_speed = 0.0f;
    if (g_cam_speed > MAX_SPEED)
        g_cam_speed = MAX_SPEED;

    Vec3 step;
    vec_scale(dir, dt * g_cam_speed, &step);
    vec_add(&g_cam_pos, &step, &g_cam_pos);
    g_cam_pos.y = terrain_height(g_cam_pos.x, g_cam_pos.z) + RIDE_HEIGHT;
    if (vec_length(&g_cam_pos) > WORLD_RADIUS) {
        vec_normalize(&g_cam_pos, nullptr);
        vec_scale(&g_cam_pos, WORLD_RADIUS, &g_cam_pos);
    }
    vec_add(&g_cam_pos, dir, &g_cam_target);
    vec_set(&g_cam_ref_up, 0.0f, 1.0f, 0.0f);
}
