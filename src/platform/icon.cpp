// The program's icon, drawn rather than shipped: the window shows it and the
// install rules write it as a PNG (tools/icon).
#include <cmath>

#include "platform/sys.h"

// A lightning bolt on a night-blue disc.
int sys_draw_icon(int id, uint32_t* pixels)
{
    if (id != ICON_MAIN)
        return 0;
    // The bolt as a zig-zag polyline in icon coordinates.
    static constexpr float BOLT[][2] = {{19, 2},  {11, 15}, {17, 15}, {10, 30},
                                        {23, 12}, {16, 12}, {21, 2}};
    constexpr int BOLT_POINTS = sizeof BOLT / sizeof BOLT[0];
    for (int y = 0; y < ICON_SIZE; ++y) {
        for (int x = 0; x < ICON_SIZE; ++x) {
            float px = x + 0.5f, py = y + 0.5f;
            float dx = px - 16.0f, dy = py - 16.0f;
            float radius = std::sqrt(dx * dx + dy * dy);
            uint32_t colour = 0;
            if (radius <= 15.5f) {
                int shade = 40 + static_cast<int>(30.0f * (1.0f - radius / 16.0f));
                colour = 0xFF000000u | uint32_t(shade / 3) << 16 | uint32_t(shade / 2) << 8 |
                         uint32_t(shade);
            }
            // Distance to the bolt's segments decides its glow.
            float nearest = 1e9f;
            for (int i = 0; i + 1 < BOLT_POINTS; ++i) {
                float ax = BOLT[i][0], ay = BOLT[i][1], bx = BOLT[i + 1][0], by = BOLT[i + 1][1];
                float ex = bx - ax, ey = by - ay;
                float t = ((px - ax) * ex + (py - ay) * ey) / (ex * ex + ey * ey);
                t = t < 0 ? 0 : (t > 1 ? 1 : t);
                float qx = ax + t * ex - px, qy = ay + t * ey - py;
                float d = std::sqrt(qx * qx + qy * qy);
                if (d < nearest)
                    nearest = d;
            }
            if (nearest < 1.2f)
                colour = 0xFFF0F4FFu;
            else if (nearest < 2.5f && colour)
                colour = 0xFF7090E0u;
            pixels[y * ICON_SIZE + x] = colour;
        }
    }
    return 1;
}
