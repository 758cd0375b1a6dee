// Rain: four textured strips, 0.4 units wide and 40 tall, standing as the
// faces of a narrow square tube around the camera's vertical axis. The
// texture scrolls down at 4 units a second and the tube turns half a degree
// a second. Drawn last and without depth test, the rain lies over the world.
#include "base/clock.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "scene/storm.h"

void rain_draw()
{
    translucent_pass_states(D3DZB_FALSE);

    Vec3 offset;
    vec_set(&offset, g_cam_pos.x, 0.0f, g_cam_pos.z);
    r_bind_texture(g_tex_rain, 0);

    float t = g_time;
    Vertex strip[4], work[4];
    vertex_set(&strip[0], -0.2f, 20.0f, 0.2f, 0.0f, -2.0f * t, 0.0f, 0.0f);
    vertex_set(&strip[1], 0.2f, 20.0f, 0.2f, 2.0f, -2.0f * t, 0.0f, 0.0f);
    vertex_set(&strip[2], 0.2f, -20.0f, 0.2f, 2.0f, 20.0f - 2.0f * t, 0.0f, 0.0f);
    vertex_set(&strip[3], -0.2f, -20.0f, 0.2f, 0.0f, 20.0f - 2.0f * t, 0.0f, 0.0f);
    for (int face = 0; face < 4; ++face) {
        for (int v = 0; v < 4; ++v)
            work[v] = strip[v];
        vertices_rotate(work, 4, float(face) * 90.0f + t / 2.0f);
        vertices_translate(work, 4, &offset);
        r_draw_vertices(work, 4, D3DPT_TRIANGLEFAN);
    }
    g_device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
}
