// Front of the software pipeline: vertex fetch and transform, primitive
// assembly, then clip and setup per triangle. Vertices go through
// world x view x projection into clip space; triangles are assembled from
// lists, strips and fans as Direct3D numbers them, clipped, divided by w and
// mapped to the viewport (the whole target; pixel centres on integers). The
// set-up triangles go, in submission order, to whoever asked: straight to
// raster for the immediate path, into the scene's tile bins for the deferred
// one. Setup reads nothing of the target, so both see the same triangles.
#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/soft/soft_pipeline.h"

static void transform(const Matrix& m, const Vertex& in, ClipVertex* out)
{
    const float* a = m.m;
    float x = in.pos.x, y = in.pos.y, z = in.pos.z;
    out->x = x * a[0] + y * a[4] + z * a[8] + a[12];
    out->y = x * a[1] + y * a[5] + z * a[9] + a[13];
    out->z = x * a[2] + y * a[6] + z * a[10] + a[14];
    out->w = x * a[3] + y * a[7] + z * a[11] + a[15];
    out->attr[0] = in.u0;
    out->attr[1] = in.v0;
    out->attr[2] = in.u1;
    out->attr[3] = in.v1;
}

static bool finite_vertex(const ClipVertex& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

static ScreenVertex to_screen(const ClipVertex& v, float half_width, float half_height)
{
    ScreenVertex s;
    s.inv_w = 1.0f / v.w;
    s.x = (1.0f + v.x * s.inv_w) * half_width;
    s.y = (1.0f - v.y * s.inv_w) * half_height;
    s.z = v.z * s.inv_w;
    for (int i = 0; i < SOFT_ATTRS; ++i)
        s.attr_w[i] = v.attr[i] * s.inv_w;
    return s;
}

namespace
{

// What one draw's triangles need on their way from clip space to the sink.
struct Assembly {
    DWORD cull;
    int width, height;
    SoftTriangleSink sink;
    void* user;
};

} // namespace

static void draw_triangle(const Assembly& assembly, const ClipVertex& a, const ClipVertex& b,
                          const ClipVertex& c)
{
    if (!finite_vertex(a) || !finite_vertex(b) || !finite_vertex(c))
        return;
    const ClipVertex corners[3] = {a, b, c};
    ClipVertex polygon[SOFT_MAX_POLYGON];
    int count = soft_clip_triangle(corners, polygon);
    if (count < 3)
        return;

    float half_width = float(assembly.width) * 0.5f, half_height = float(assembly.height) * 0.5f;
    ScreenVertex screen[SOFT_MAX_POLYGON];
    for (int i = 0; i < count; ++i)
        screen[i] = to_screen(polygon[i], half_width, half_height);

    for (int i = 1; i + 1 < count; ++i) {
        TriangleSetup setup;
        if (soft_setup_triangle(screen[0], screen[i], screen[i + 1], assembly.cull, assembly.width,
                                assembly.height, &setup))
            assembly.sink(assembly.user, setup);
    }
}

void soft_setup_draw(const FrontState& state, const SoftDrawContext& context, const FrontDraw& draw,
                     SoftTriangleSink sink, void* user)
{
    const D3DPRIMITIVETYPE type = draw.type;
    const UINT primitive_count = draw.primitive_count;
    const UINT used = draw.vertex_count;

    // The terrain's draws all share their matrices: the product is kept for
    // the next draw with the same three.
    static Matrix last[3], wvp;
    static bool have_last = false;
    if (!have_last || std::memcmp(&last[0], &state.world, sizeof(Matrix)) != 0 ||
        std::memcmp(&last[1], &state.view, sizeof(Matrix)) != 0 ||
        std::memcmp(&last[2], &state.proj, sizeof(Matrix)) != 0) {
        Matrix world_view;
        mat_multiply(&world_view, &state.world, &state.view);
        mat_multiply(&wvp, &world_view, &state.proj);
        last[0] = state.world;
        last[1] = state.view;
        last[2] = state.proj;
        have_last = true;
    }

    // Reused from draw to draw: the terrain alone makes 1600 draws a frame.
    static std::vector<ClipVertex> clip;
    clip.resize(used);
    for (UINT i = 0; i < used; ++i) {
        Vertex vertex;
        std::memcpy(&vertex, draw.vertices + size_t(i) * draw.stride, sizeof vertex);
        transform(wvp, vertex, &clip[i]);
    }

    const Assembly assembly = {context.draw.key.cull, context.target.width, context.target.height,
                               sink, user};
    for (UINT p = 0; p < primitive_count; ++p) {
        switch (type) {
        case D3DPT_TRIANGLELIST:
            draw_triangle(assembly, clip[3 * p], clip[3 * p + 1], clip[3 * p + 2]);
            break;
        case D3DPT_TRIANGLESTRIP:
            // Every other strip triangle is flipped so all keep one winding.
            if (p % 2 == 0)
                draw_triangle(assembly, clip[p], clip[p + 1], clip[p + 2]);
            else
                draw_triangle(assembly, clip[p + 1], clip[p], clip[p + 2]);
            break;
        default:
            draw_triangle(assembly, clip[0], clip[p + 1], clip[p + 2]);
            break;
        }
    }
}

static void raster_whole_target(void* context, const TriangleSetup& setup)
{
    const SoftDrawContext& draw = *static_cast<const SoftDrawContext*>(context);
    soft_raster_triangle(draw, setup, 0, 0, draw.target.width, draw.target.height);
}

void soft_draw(const FrontState& state, const SoftTarget& target, const FrontDraw& draw)
{
    SoftDrawContext context;
    soft_prepare_context(state, *draw.described, target, &context);
    soft_setup_draw(state, context, draw, raster_whole_target, &context);
}
