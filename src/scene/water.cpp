// Water plane: one translucent square, 40 x 40 units, that travels with the
// camera and bobs slowly around height -2. It writes depth (the terrain left
// depth writes on), so it hides what lies under it from the later passes that
// test depth; its blend factors and stage-0 alpha stay set for the leaves.
#include <cmath>

#include "base/clock.h"
#include "base/trig.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "scene/storm.h"

void translucent_pass_states(DWORD depth_test)
{
    g_device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    g_device->SetRenderState(D3DRS_FOGENABLE, 1);
    g_device->SetRenderState(D3DRS_ZENABLE, depth_test);
    g_device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    g_device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    g_device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_ADD);
    g_device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    g_device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    g_device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
}

float water_height(float time)
{
    return float(trig_sin(double(time) / 9.0)) / 5.0f - 2.0f;
}

void water_draw()
{
    float cx = g_cam_pos.x, cz = g_cam_pos.z;
    translucent_pass_states(D3DZB_TRUE);

    float h = water_height(g_time);
    r_bind_texture(g_tex_water, 0);
    Vertex square[4];
    vertex_set(&square[0], cx - 20.0f, h, cz - 20.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    vertex_set(&square[1], cx + 20.0f, h, cz - 20.0f, 1.0f, 0.0f, 0.0f, 0.0f);
    vertex_set(&square[2], cx + 20.0f, h, cz + 20.0f, 1.0f, 1.0f, 0.0f, 0.0f);
    vertex_set(&square[3], cx - 20.0f, h, cz + 20.0f, 0.0f, 1.0f, 0.0f, 0.0f);
    r_draw_vertices(square, 4, D3DPT_TRIANGLEFAN);
}
