// Clipping in homogeneous space. Triangles are cut against the near plane
// (z >= 0) and the far plane (z <= w), as Direct3D's clip volume has them, and
// against a guard band of GUARD_BAND viewport sizes in x and y. Inside the
// guard band the rasterizer itself discards what lies off screen; the band
// only keeps snapped coordinates small enough for exact fixed-point edges.
// Planes that every corner is inside of are skipped, so most triangles pass
// through untouched.
#include "gfx/soft/soft_pipeline.h"

static constexpr float GUARD_BAND = 16.0f;

// Signed distance of a vertex to one clip plane; inside is >= 0.
static float plane_distance(const ClipVertex& v, int plane)
{
    switch (plane) {
    case 0:
        return v.z; // near
    case 1:
        return v.w - v.z; // far
    case 2:
        return GUARD_BAND * v.w + v.x; // left
    case 3:
        return GUARD_BAND * v.w - v.x; // right
    case 4:
        return GUARD_BAND * v.w + v.y; // bottom
    default:
        return GUARD_BAND * v.w - v.y; // top
    }
}

static ClipVertex lerp(const ClipVertex& a, const ClipVertex& b, float t)
{
    ClipVertex out;
    out.x = a.x + (b.x - a.x) * t;
    out.y = a.y + (b.y - a.y) * t;
    out.z = a.z + (b.z - a.z) * t;
    out.w = a.w + (b.w - a.w) * t;
    for (int i = 0; i < SOFT_ATTRS; ++i)
        out.attr[i] = a.attr[i] + (b.attr[i] - a.attr[i]) * t;
    return out;
}

// One Sutherland-Hodgman pass: keeps the part of the polygon inside `plane`.
static int clip_against(const ClipVertex* in, int count, int plane, ClipVertex* out)
{
    int written = 0;
    for (int i = 0; i < count; ++i) {
        const ClipVertex& current = in[i];
        const ClipVertex& next = in[(i + 1) % count];
        float d_current = plane_distance(current, plane);
        float d_next = plane_distance(next, plane);
        if (d_current >= 0.0f)
            out[written++] = current;
        if ((d_current >= 0.0f) != (d_next >= 0.0f)) {
            // Always interpolate from the inside corner so that a shared edge
            // is cut at exactly the same point for both of its triangles.
            float t = d_current >= 0.0f ? d_current / (d_current - d_next)
                                        : d_next / (d_next - d_current);
            out[written++] = d_current >= 0.0f ? lerp(current, next, t) : lerp(next, current, t);
        }
    }
    return written;
}

int soft_clip_triangle(const ClipVertex in[3], ClipVertex out[SOFT_MAX_POLYGON])
{
    unsigned outside_any = 0;
    for (int plane = 0; plane < 6; ++plane) {
        int outside = 0;
        for (int i = 0; i < 3; ++i)
            outside += !(plane_distance(in[i], plane) >= 0.0f); // NaN counts as outside
        if (outside == 3)
            return 0;
        if (outside)
            outside_any |= 1u << plane;
    }
    for (int i = 0; i < 3; ++i)
        out[i] = in[i];
    if (!outside_any)
        return 3;

    ClipVertex scratch[SOFT_MAX_POLYGON];
    int count = 3;
    ClipVertex* source = out;
    ClipVertex* target = scratch;
    for (int plane = 0; plane < 6 && count >= 3; ++plane) {
        if (!(outside_any & (1u << plane)))
            continue;
        count = clip_against(source, count, plane, target);
        ClipVertex* swap = source;
        source = target;
        target = swap;
    }
    if (count < 3)
        return 0;
    if (source != out) {
        for (int i = 0; i < count; ++i)
            out[i] = source[i];
    }
    return count;
}
