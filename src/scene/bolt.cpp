// Lightning bolt: a tall camera-facing billboard at the strike point, drawn
// additively over everything while the flash is strong and flickering out as
// it fades. It inherits every state but fog from the fire pass before it.
#include "base/crt_rand.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "scene/storm.h"

void bolt_draw()
{
    g_device->SetRenderState(D3DRS_FOGENABLE, 0);
    // This draw once chose the width, which always came out as 4; it stays
    // because it advances the random sequence the storm events share.
    float width = float(4 - (8 * crt_rand()) % 2);
    const float size[2] = {width, 32.0f};
    int bit = crt_rand() % 2;
    int visible = static_cast<int>(float(bit) + g_flash / 2.0f - 1.0f);
    if (visible > 0)
        r_draw_billboard(&g_bolt_pos, size, g_tex_bolt);
}
