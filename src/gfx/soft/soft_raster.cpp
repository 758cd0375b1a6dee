// Rasterization. Walks a set-up triangle's bounding box in 2 x 2 quads,
// steps the integer edge functions from quad to quad, and hands every quad
// with at least one covered pixel centre to the shader together with the
// interpolated values at all four centres (the uncovered ones too, so the
// shader can take texture-coordinate differences for mip selection).
#include <algorithm>

#include "gfx/soft/soft_pipeline.h"

void soft_raster_triangle(const SoftDrawContext& context, const TriangleSetup& setup, int x0,
                          int y0, int x1, int y1)
{
    int min_x = std::max(setup.min_x, x0), max_x = std::min(setup.max_x, x1 - 1);
    int min_y = std::max(setup.min_y, y0), max_y = std::min(setup.max_y, y1 - 1);
    if (min_x > max_x || min_y > max_y)
        return;
    int start_x = min_x & ~1, start_y = min_y & ~1;

    // Edge values at the top-left pixel of the first quad of a row, and the
    // increments to the neighbouring pixels and quads.
    int64_t row_edge[3], dx[3], dy[3];
    for (int i = 0; i < 3; ++i) {
        dx[i] = setup.edge_dx[i];
        dy[i] = setup.edge_dy[i];
        row_edge[i] = setup.edge_c[i] + dx[i] * start_x + dy[i] * start_y;
    }

    SoftQuad quad;
    for (int qy = start_y; qy <= max_y; qy += 2) {
        int64_t edge[3] = {row_edge[0], row_edge[1], row_edge[2]};
        for (int qx = start_x; qx <= max_x; qx += 2) {
            unsigned mask = 0;
            for (int p = 0; p < 4; ++p) {
                int px = qx + (p & 1), py = qy + (p >> 1);
                if (px < min_x || px > max_x || py < min_y || py > max_y)
                    continue;
                int64_t ox = p & 1, oy = p >> 1;
                bool inside = true;
                for (int i = 0; i < 3; ++i)
                    inside = inside && edge[i] + dx[i] * ox + dy[i] * oy >= 0;
                if (inside)
                    mask |= 1u << p;
            }
            if (mask) {
                quad.x = qx;
                quad.y = qy;
                quad.mask = mask;
                for (int p = 0; p < 4; ++p) {
                    float fx = float(qx + (p & 1)), fy = float(qy + (p >> 1));
                    float inv_w = setup.inv_w.at(fx, fy);
                    float w = inv_w != 0.0f ? 1.0f / inv_w : 0.0f;
                    quad.z[p] = setup.z.at(fx, fy);
                    quad.w[p] = w;
                    for (int k = 0; k < SOFT_ATTRS; ++k)
                        quad.attr[p][k] = setup.attr_w[k].at(fx, fy) * w;
                }
                soft_shade_quad(context, quad);
            }
            for (int i = 0; i < 3; ++i)
                edge[i] += 2 * dx[i];
        }
        for (int i = 0; i < 3; ++i)
            row_edge[i] += 2 * dy[i];
    }
}
