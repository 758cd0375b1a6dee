// The overlay: the camera position as one line of text in the bottom-left
// corner, in 16-pixel glyphs of the font texture.
#include <cstdio>

#include "gfx/device.h"
#include "gfx/renderer.h"
#include "gfx/text.h"
#include "scene/storm.h"

static constexpr int HUD_TEXT_SIZE = 64;

void hud_format(const Vec3* position, char* text, int size)
{
    std::snprintf(text, size_t(size), "%f %f %f", double(position->x), double(position->y),
                  double(position->z));
}

void hud_draw()
{
    g_device->SetRenderState(D3DRS_FOGENABLE, 0);
    g_device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    g_device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    g_device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    g_device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_ADD);
    g_device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    g_device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);

    char text[HUD_TEXT_SIZE];
    hud_format(&g_cam_pos, text, sizeof text);
    r_draw_text(0.0f, 0.0f, 16.0f, text, g_tex_font);
}
