// Falling leaves. Owns 1000 leaf records (only the first 200 are animated
// and drawn) and the one two-triangle model they share. Each leaf tumbles
// about all three axes and circles the world's vertical axis on an orbit
// whose radius breathes between 10 and 70 units, bobbing up and down. The
// pass blends with the factors the water pass left and writes depth as the
// terrain left it.
#include <cmath>

#include "base/clock.h"
#include "base/crt_rand.h"
#include "base/trig.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "gfx/texture.h"
#include "scene/storm.h"

MeshObject g_leaf_objects[LEAF_COUNT];
float g_leaf_phase[LEAF_COUNT];
float g_leaf_speed[LEAF_COUNT];
Vec3 g_leaf_base[LEAF_COUNT];
static int s_tex_leaf = -1;
static Mesh g_leaf_mesh;

// A value from 0.00 to 0.99 in steps of 0.01.
static float rnd()
{
    return float(crt_rand() % 100) / 100.0f;
}

void leaves_init()
{
    s_tex_leaf = tex_get("textures/leaf");

    g_leaf_mesh.vertex_count = 4;
    g_leaf_mesh.triangle_count = 2;
    vertex_set(&g_leaf_mesh.vertices[0], -0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    vertex_set(&g_leaf_mesh.vertices[1], 0.5f, 0.5f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f);
    vertex_set(&g_leaf_mesh.vertices[2], 0.5f, -0.5f, 0.0f, 1.0f, 1.0f, 0.0f, 0.0f);
    vertex_set(&g_leaf_mesh.vertices[3], -0.5f, -0.5f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f);
    const int32_t indices[6] = {0, 1, 2, 2, 3, 0};
    for (int i = 0; i < 6; ++i)
        g_leaf_mesh.indices[i] = indices[i];

    for (int i = 0; i < LEAF_COUNT; ++i) {
        MeshObject& leaf = g_leaf_objects[i];
        leaf.mesh = &g_leaf_mesh;
        vec_set(&leaf.pos, 0.0f, 0.0f, 0.0f);
        g_leaf_phase[i] = rnd() * 6.2831855f;
        g_leaf_speed[i] = rnd() + 1.0f;
        // Degrees' worth of numbers, used as radians: only the spread matters.
        leaf.roll = rnd() * 360.0f;
        leaf.pitch = rnd() * 360.0f;
        leaf.yaw = rnd() * 360.0f;
        float z = rnd() * 50.0f - 25.0f;
        float y = float(crt_rand() % 100) / 20.0f - 2.5f;
        float x = rnd() * 50.0f - 25.0f;
        vec_set(&g_leaf_base[i], x, y, z);
    }
}

void leaves_draw()
{
    g_device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    g_device->SetRenderState(D3DRS_FOGENABLE, 1);
    g_device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    g_device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    g_device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    g_device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
    g_device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    r_bind_texture(s_tex_leaf, 0);

    float t = g_time, dt = g_frame_dt;
    float radius = float(trig_sin(double(t) / 7.0)) * 30.0f + 40.0f;
    for (int i = 0; i < LEAF_DRAW_COUNT; ++i) {
        MeshObject& leaf = g_leaf_objects[i];
        leaf.yaw += 2.0f * dt;
        leaf.pitch += 2.0f * dt;
        leaf.roll += 2.0f * dt;
        // This draw scales the step by a factor that is always 1; it stays
        // because it advances the random sequence the storm events share.
        int factor = 1 + (crt_rand() % 100) / 100;
        g_leaf_phase[i] += dt * g_leaf_speed[i] * float(factor);
        float phi = g_leaf_phase[i];
        float y = float(trig_cos(double(t) / 7.0)) + 3.0f +
                  float(trig_sin(2.0 * double(phi) + double(g_leaf_speed[i]) / 9.0));
        Vec3 orbit;
        vec_set(&orbit, radius * float(trig_cos(double(phi))), y,
                radius * float(trig_sin(double(phi))));
        vec_add(&orbit, &g_leaf_base[i], &leaf.pos);
        r_draw_mesh(&leaf);
    }
}
