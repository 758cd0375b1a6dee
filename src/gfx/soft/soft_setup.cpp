// Triangle setup. Snaps the corners to a 1/256-pixel grid, decides the
// facing, and turns the triangle into three integer edge functions plus a
// plane for every interpolated value. Pixel centres sit on integer
// coordinates, as Direct3D 8 has them, and the top-left rule decides centres
// that fall exactly on an edge: such a centre belongs to a top or a left edge
// only, so triangles sharing an edge never both draw (or both miss) it.
#include <algorithm>
#include <cmath>
#include <utility>

#include "gfx/soft/soft_pipeline.h"

static int64_t snap(float value)
{
    return static_cast<int64_t>(std::lrint(static_cast<double>(value) * SOFT_SUBPIXEL_ONE));
}

// Fixed-point pixel bound: the first pixel centre at or after a coordinate.
static int64_t ceil_pixel(int64_t fixed)
{
    int64_t q = fixed >> SOFT_SUBPIXEL_BITS; // floor, also for negatives
    return (q << SOFT_SUBPIXEL_BITS) == fixed ? q : q + 1;
}

static SoftPlane make_plane(double x0, double y0, double dx1, double dy1, double dx2, double dy2,
                            double inv_area, float a0, float a1, float a2)
{
    double d1 = double(a1) - a0, d2 = double(a2) - a0;
    double ddx = (d1 * dy2 - d2 * dy1) * inv_area;
    double ddy = (d2 * dx1 - d1 * dx2) * inv_area;
    SoftPlane plane;
    plane.dx = static_cast<float>(ddx);
    plane.dy = static_cast<float>(ddy);
    plane.c = static_cast<float>(a0 - ddx * x0 - ddy * y0);
    return plane;
}

bool soft_setup_triangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c,
                         DWORD cull_mode, int target_width, int target_height, TriangleSetup* setup)
{
    const ScreenVertex* v[3] = {&a, &b, &c};
    int64_t fx[3], fy[3];
    for (int i = 0; i < 3; ++i) {
        fx[i] = snap(v[i]->x);
        fy[i] = snap(v[i]->y);
    }
    // With y pointing down, a positive area is a clockwise triangle on screen.
    int64_t area = (fx[1] - fx[0]) * (fy[2] - fy[0]) - (fy[1] - fy[0]) * (fx[2] - fx[0]);
    if (area == 0)
        return false;
    if (cull_mode == D3DCULL_CCW && area < 0)
        return false;
    if (cull_mode == D3DCULL_CW && area > 0)
        return false;
    if (area < 0) {
        // Make every triangle clockwise so "inside" is one sign for all edges.
        std::swap(v[1], v[2]);
        std::swap(fx[1], fx[2]);
        std::swap(fy[1], fy[2]);
        area = -area;
    }

    int64_t min_fx = std::min({fx[0], fx[1], fx[2]}), max_fx = std::max({fx[0], fx[1], fx[2]});
    int64_t min_fy = std::min({fy[0], fy[1], fy[2]}), max_fy = std::max({fy[0], fy[1], fy[2]});
    int64_t min_x = std::max<int64_t>(ceil_pixel(min_fx), 0);
    int64_t min_y = std::max<int64_t>(ceil_pixel(min_fy), 0);
    int64_t max_x = std::min<int64_t>(max_fx >> SOFT_SUBPIXEL_BITS, target_width - 1);
    int64_t max_y = std::min<int64_t>(max_fy >> SOFT_SUBPIXEL_BITS, target_height - 1);
    if (min_x > max_x || min_y > max_y)
        return false;
    setup->min_x = int(min_x);
    setup->min_y = int(min_y);
    setup->max_x = int(max_x);
    setup->max_y = int(max_y);

    // Edge i runs from corner i to corner i + 1. E(p) = (x1-x0)(py-y0) - (y1-y0)(px-x0)
    // is positive inside a clockwise triangle. Evaluated at whole pixels, so the
    // step per pixel is the edge vector times the sub-pixel unit.
    for (int i = 0; i < 3; ++i) {
        int j = (i + 1) % 3;
        int64_t ex = fx[j] - fx[i], ey = fy[j] - fy[i];
        bool top = ey == 0 && ex > 0;
        bool left = ey < 0;
        setup->edge_dx[i] = -ey * SOFT_SUBPIXEL_ONE;
        setup->edge_dy[i] = ex * SOFT_SUBPIXEL_ONE;
        setup->edge_c[i] = -ex * fy[i] + ey * fx[i];
        if (!top && !left)
            setup->edge_c[i] -= 1; // a centre exactly on this edge is outside
    }

    // Attribute planes from the snapped positions, in pixel units.
    double x0 = double(fx[0]) / SOFT_SUBPIXEL_ONE, y0 = double(fy[0]) / SOFT_SUBPIXEL_ONE;
    double dx1 = double(fx[1] - fx[0]) / SOFT_SUBPIXEL_ONE;
    double dy1 = double(fy[1] - fy[0]) / SOFT_SUBPIXEL_ONE;
    double dx2 = double(fx[2] - fx[0]) / SOFT_SUBPIXEL_ONE;
    double dy2 = double(fy[2] - fy[0]) / SOFT_SUBPIXEL_ONE;
    double inv_area = 1.0 / (dx1 * dy2 - dx2 * dy1);
    setup->z = make_plane(x0, y0, dx1, dy1, dx2, dy2, inv_area, v[0]->z, v[1]->z, v[2]->z);
    setup->inv_w =
        make_plane(x0, y0, dx1, dy1, dx2, dy2, inv_area, v[0]->inv_w, v[1]->inv_w, v[2]->inv_w);
    for (int k = 0; k < SOFT_ATTRS; ++k)
        setup->attr_w[k] = make_plane(x0, y0, dx1, dy1, dx2, dy2, inv_area, v[0]->attr_w[k],
                                      v[1]->attr_w[k], v[2]->attr_w[k]);
    return true;
}
