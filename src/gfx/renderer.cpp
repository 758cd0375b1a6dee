// Renderer core. Owns the one vertex buffer (3 x g_max_prims vertices), the
// transforms of the frame (g_world, g_view, g_proj and the mesh scratch
// matrix) and the camera globals. Every draw copies its vertices to the
// start of the buffer and draws at once: no batching across calls, no
// allocation per draw.
//
// Invariants: g_max_prims is the device's MaxPrimitiveCount capped at
// R_MAX_PRIMS, and list splitting, fan and strip capping and the buffer size
// all use that one value, so no draw asks for more than the buffer holds and
// no copy runs past its end. A draw of no whole primitive (fewer than three
// vertices, or nothing after the cap) makes no device call. g_world holds the
// world transform as last set outside r_draw_mesh, which restores it.

#include "gfx/renderer.h"

#include <cmath>
#include <cstring>

#include "base/log.h"
#include "gfx/device.h"
#include "gfx/texture.h"

// A usable camera until the scene places its own.
Vec3 g_cam_pos = {0.0f, 0.0f, 0.0f};
Vec3 g_cam_target = {0.0f, 0.0f, 1.0f};
Vec3 g_cam_ref_up = {0.0f, 1.0f, 0.0f};
float g_cam_fov = 45.0f;
Vec3 g_cam_forward = {0.0f, 0.0f, 1.0f};
Vec3 g_cam_right = {1.0f, 0.0f, 0.0f};
Vec3 g_cam_up = {0.0f, 1.0f, 0.0f};

Matrix g_world;
Matrix g_view;
Matrix g_proj;
Matrix g_scratch_matrix;

IDirect3DVertexBuffer8* g_vertex_buffer = nullptr;
int32_t g_max_prims = 0;

static const float DEGREES_TO_RADIANS = 0.017453292f;
static const float CAMERA_NEAR = 0.1f;
static const float CAMERA_FAR = 5000.0f;
static const float ORTHO_NEAR = 0.0f;
static const float ORTHO_FAR = 2.0f;
static const float QUAD_Z = 1.0f; // depth 0.5 in the 2D pass

// Index-expanded mesh triangles; one mesh at a time, on the one thread.
static Vertex s_mesh_vertices[MESH_MAX_INDICES];

static void set_transform(D3DTRANSFORMSTATETYPE which, const Matrix* matrix)
{
    if (g_device)
        g_device->SetTransform(which, matrix);
}

int _r_init()
{
    log_printf("_r_init()");
    if (g_vertex_buffer) {
        g_vertex_buffer->Release();
        g_vertex_buffer = nullptr;
    }
    g_max_prims = 0;
    if (g_device) {
        D3DCAPS8 caps = {};
        g_device->GetDeviceCaps(&caps);
        g_max_prims = caps.MaxPrimitiveCount < DWORD(R_MAX_PRIMS) ? int32_t(caps.MaxPrimitiveCount)
                                                                  : R_MAX_PRIMS;
        if (g_max_prims > 0)
            g_device->CreateVertexBuffer(UINT(3 * g_max_prims) * UINT(sizeof(Vertex)), 0,
                                         VERTEX_FVF, D3DPOOL_DEFAULT, &g_vertex_buffer);
        // Anisotropic (3) for all three filters; a device that has no such
        // mip filter treats it as linear. The maximum anisotropy stays at
        // the device's default.
        g_device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_ANISOTROPIC);
        g_device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_ANISOTROPIC);
        g_device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_ANISOTROPIC);
    }
    // Without this image empty slots unbind their stage; the program runs on.
    tex_load("textures/common/notfound", MISSING_TEXTURE_SLOT);
    return 1;
}

void _r_deinit()
{
    log_printf("_r_deinit()");
    if (g_vertex_buffer) {
        g_vertex_buffer->Release();
        g_vertex_buffer = nullptr;
    }
    tex_free_all();
}

// Looking straight along the reference up vector leaves no right angle to
// it: the cross product vanishes and the whole basis would collapse. Keep the
// previous right vector instead, made perpendicular to the view, so the
// camera keeps turning smoothly through the pole.
static void keep_right_at_the_pole(const Vec3& previous_right)
{
    float forward_sq = vec_dot(&g_cam_forward, &g_cam_forward);
    if (!(vec_dot(&g_cam_right, &g_cam_right) <= 1e-12f * forward_sq) || forward_sq <= 0.0f)
        return;
    Vec3 forward_unit, along, right = previous_right;
    vec_scale(&g_cam_forward, 1.0f / std::sqrt(forward_sq), &forward_unit);
    for (int attempt = 0; attempt < 2; ++attempt) {
        vec_scale(&forward_unit, vec_dot(&right, &forward_unit), &along);
        vec_sub(&right, &along, &right);
        if (vec_dot(&right, &right) > 1e-6f)
            break;
        vec_set(&right, 1.0f, 0.0f, 0.0f); // no usable previous right either
        if (std::fabs(forward_unit.x) > 0.9f)
            vec_set(&right, 0.0f, 0.0f, 1.0f);
    }
    g_cam_right = right;
}

void r_set_camera()
{
    Vec3 previous_right = g_cam_right;
    vec_sub(&g_cam_target, &g_cam_pos, &g_cam_forward);
    vec_cross(&g_cam_ref_up, &g_cam_forward, &g_cam_right);
    keep_right_at_the_pole(previous_right);
    vec_cross(&g_cam_forward, &g_cam_right, &g_cam_up);
    vec_normalize(&g_cam_forward, nullptr);
    vec_normalize(&g_cam_up, nullptr);
    vec_normalize(&g_cam_right, nullptr);

    mat_look_at_lh(&g_view, &g_cam_pos, &g_cam_target, &g_cam_up);
    set_transform(D3DTS_VIEW, &g_view);
    // The negated aspect mirrors the image left to right: g_cam_right points
    // to the left half of the screen. The scene is built around that.
    mat_perspective_fov_lh(&g_proj, g_cam_fov * DEGREES_TO_RADIANS, -g_aspect, CAMERA_NEAR,
                           CAMERA_FAR);
    set_transform(D3DTS_PROJECTION, &g_proj);
    mat_translation(&g_world, 0.0f, 0.0f, 0.0f);
    set_transform(D3DTS_WORLD, &g_world);
}

void r_set_ortho(float width, float height)
{
    mat_translation(&g_view, 0.0f, 0.0f, 0.0f);
    set_transform(D3DTS_VIEW, &g_view);
    mat_ortho_lh(&g_proj, width, height, ORTHO_NEAR, ORTHO_FAR);
    set_transform(D3DTS_PROJECTION, &g_proj);
    // Moves the origin from the centre to the bottom-left corner; in force
    // until the next frame's r_set_camera.
    mat_translation(&g_world, -width / 2, -height / 2, 0.0f);
    set_transform(D3DTS_WORLD, &g_world);
}

// Copies one batch to the buffer and draws `primitives` of it. The copy
// stops at the buffer's end: a list of 3 x g_max_prims + 1 or + 2 vertices
// draws g_max_prims triangles, and its stray vertices have no room.
static void draw_batch(const Vertex* vertices, int count, D3DPRIMITIVETYPE type, int primitives)
{
    BYTE* data = nullptr;
    if (FAILED(g_vertex_buffer->Lock(0, 0, &data, 0)))
        return;
    if (!data) {
        g_vertex_buffer->Unlock();
        return;
    }
    int capacity = 3 * g_max_prims;
    int copied = count < capacity ? count : capacity;
    std::memcpy(data, vertices, size_t(copied) * sizeof(Vertex));
    g_vertex_buffer->Unlock();
    g_device->SetStreamSource(0, g_vertex_buffer, sizeof(Vertex));
    g_device->SetVertexShader(VERTEX_FVF);
    g_device->DrawPrimitive(type, 0, UINT(primitives));
}

void r_draw_vertices(const Vertex* vertices, int count, int primitive_type)
{
    if (!vertices || count <= 0 || !g_device || !g_vertex_buffer || g_max_prims <= 0)
        return;
    switch (primitive_type) {
    case D3DPT_TRIANGLEFAN:
    case D3DPT_TRIANGLESTRIP: {
        // Capped, not split: the rest of a longer fan or strip is not drawn.
        int primitives = count - 2;
        if (primitives < 1)
            return;
        if (primitives > g_max_prims)
            primitives = g_max_prims;
        draw_batch(vertices, count, D3DPRIMITIVETYPE(primitive_type), primitives);
        return;
    }
    case D3DPT_TRIANGLELIST: {
        // Chunks of g_max_prims triangles, in order; 1 or 2 vertices past the
        // last whole triangle are not drawn.
        int chunk = 3 * g_max_prims;
        while (count / 3 > g_max_prims) {
            draw_batch(vertices, chunk, D3DPT_TRIANGLELIST, g_max_prims);
            vertices += chunk;
            count -= chunk;
        }
        if (count / 3 >= 1)
            draw_batch(vertices, count, D3DPT_TRIANGLELIST, count / 3);
        return;
    }
    default:
        return; // nothing draws other primitive types
    }
}

void r_draw_quad2d(int slot, float x0, float y0, float x1, float y1, float s0, float t0, float s1,
                   float t1)
{
    r_bind_texture(slot, 0);
    Vertex corners[4];
    vertex_set(&corners[0], x0, y0, QUAD_Z, s0, t0, 0.0f, 0.0f);
    vertex_set(&corners[1], x1, y0, QUAD_Z, s1, t0, 0.0f, 0.0f);
    vertex_set(&corners[2], x1, y1, QUAD_Z, s1, t1, 0.0f, 0.0f);
    vertex_set(&corners[3], x0, y1, QUAD_Z, s0, t1, 0.0f, 0.0f);
    r_draw_vertices(corners, 4, D3DPT_TRIANGLEFAN);
}

void r_draw_billboard(const Vec3* centre, const float* size, int slot)
{
    if (!centre || !size)
        return;
    Vec3 right, up;
    vec_scale(&g_cam_right, size[0] / 2, &right);
    vec_scale(&g_cam_up, size[1] / 2, &up);
    Vec3 left_top, right_top, right_bottom, left_bottom;
    vec_sub(centre, &right, &left_top);
    vec_add(&left_top, &up, &left_top);
    vec_add(centre, &right, &right_top);
    vec_add(&right_top, &up, &right_top);
    vec_add(centre, &right, &right_bottom);
    vec_sub(&right_bottom, &up, &right_bottom);
    vec_sub(centre, &right, &left_bottom);
    vec_sub(&left_bottom, &up, &left_bottom);

    // The second coordinate pair is never sampled: billboard passes disable
    // stage 1.
    Vertex corners[4];
    const Vec3* at[4] = {&left_top, &right_top, &right_bottom, &left_bottom};
    const float u[4] = {0.0f, 1.0f, 1.0f, 0.0f};
    const float v[4] = {0.0f, 0.0f, 1.0f, 1.0f};
    for (int i = 0; i < 4; ++i)
        vertex_set(&corners[i], at[i]->x, at[i]->y, at[i]->z, u[i], v[i], 0.0f, 0.0f);
    r_bind_texture(slot, 0);
    r_draw_vertices(corners, 4, D3DPT_TRIANGLEFAN);
}

// Expands the mesh's indices into a plain triangle list. A triangle with an
// index outside the vertices in use is left out rather than read from
// memory the mesh does not hold. Returns the vertex count written.
static int expand_mesh(const Mesh* mesh, Vertex* out)
{
    int vertex_count = mesh->vertex_count;
    if (vertex_count > MESH_MAX_VERTICES)
        vertex_count = MESH_MAX_VERTICES;
    int triangles = mesh->triangle_count;
    if (triangles > MESH_MAX_INDICES / 3)
        triangles = MESH_MAX_INDICES / 3;
    int written = 0;
    for (int t = 0; t < triangles; ++t) {
        const int32_t* corner = &mesh->indices[3 * t];
        bool inside = true;
        for (int j = 0; j < 3; ++j)
            inside = inside && corner[j] >= 0 && corner[j] < vertex_count;
        if (!inside)
            continue;
        for (int j = 0; j < 3; ++j)
            vertex_copy(&mesh->vertices[corner[j]], &out[written++]);
    }
    return written;
}

void r_draw_mesh(const MeshObject* object)
{
    Matrix kept = g_world;
    if (!object || !object->mesh)
        return;

    // With row vectors a model vertex goes through roll, pitch, yaw, the
    // current world, then the move to the position.
    Matrix step;
    mat_multiply(&g_scratch_matrix, mat_rotation(&step, object->yaw, 0.0f, 0.0f), &g_world);
    mat_multiply(&g_scratch_matrix, mat_rotation(&step, 0.0f, object->pitch, 0.0f),
                 &g_scratch_matrix);
    mat_multiply(&g_scratch_matrix, mat_rotation(&step, 0.0f, 0.0f, object->roll),
                 &g_scratch_matrix);
    mat_multiply(&g_scratch_matrix, &g_scratch_matrix,
                 mat_translation(&step, object->pos.x, object->pos.y, object->pos.z));
    set_transform(D3DTS_WORLD, &g_scratch_matrix);

    int count = expand_mesh(object->mesh, s_mesh_vertices);
    r_draw_vertices(s_mesh_vertices, count, D3DPT_TRIANGLELIST);

    g_world = kept;
    set_transform(D3DTS_WORLD, &g_world);
}

void r_bind_texture(int slot, int stage)
{
    if (slot == -1 || !g_device)
        return;
    // A slot number outside the table holds no texture either.
    IDirect3DTexture8* texture = nullptr;
    if (slot >= 0 && slot < TEXTURE_SLOT_COUNT)
        texture = g_textures[slot].texture;
    if (!texture)
        texture = g_textures[MISSING_TEXTURE_SLOT].texture;
    g_device->SetTexture(DWORD(stage), texture);
}
