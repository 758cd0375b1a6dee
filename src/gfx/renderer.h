// Renderer core: the one vertex buffer every draw goes through, the
// transforms of the 3D and 2D passes, and the few shapes the scene draws.
#pragma once
#include <cstdint>

#include "gfx/d3d8.h"
#include "gfx/math3d.h"

constexpr int MESH_MAX_VERTICES = 1024;
constexpr int MESH_MAX_INDICES = 1024;

// The most primitives one draw takes, whatever the device claims: 3 x 21845
// = 65535 vertices, what 16-bit indices address, in a 1.8 MB buffer. The
// largest draw of the program is a mesh of 1024 indices.
constexpr int32_t R_MAX_PRIMS = 21845;

// A shared triangle model: three indices per triangle into its vertices.
struct Mesh {
    Vertex vertices[MESH_MAX_VERTICES];
    int32_t indices[MESH_MAX_INDICES];
    int32_t vertex_count;   // vertices in use; indices at or above it are refused
    int32_t triangle_count; // the first 3 x triangle_count indices are used
};

// A placed instance of a mesh. Larger records may begin with these fields.
struct MeshObject {
    Mesh* mesh; // null: nothing to draw
    Vec3 pos;
    float yaw, pitch, roll; // radians, as mat_rotation takes them
};

// Camera: the scene writes position, target, reference up and vertical field
// of view (degrees); r_set_camera writes the unit basis vectors, which stay
// valid for the rest of the frame (billboards read them).
extern Vec3 g_cam_pos;
extern Vec3 g_cam_target;
extern Vec3 g_cam_ref_up;
extern float g_cam_fov;
extern Vec3 g_cam_forward;
extern Vec3 g_cam_right;
extern Vec3 g_cam_up;

// g_world always holds the device's world transform as last set outside
// r_draw_mesh; g_scratch_matrix is r_draw_mesh's work space.
extern Matrix g_world;
extern Matrix g_view;
extern Matrix g_proj;
extern Matrix g_scratch_matrix;

extern IDirect3DVertexBuffer8* g_vertex_buffer; // holds 3 x g_max_prims vertices
extern int32_t g_max_prims; // the device's MaxPrimitiveCount, capped at R_MAX_PRIMS

// Sets up the renderer once the device exists: the vertex buffer, the
// stage-0 filters and the missing-texture image. Returns 1.
int _r_init();
// Releases the vertex buffer, then every texture.
void _r_deinit();
// 3D pass: camera basis, view and projection (aspect negated, so the image is
// mirrored left to right), world = identity.
void r_set_camera();
// 2D pass: one unit per pixel of width x height, origin at the bottom-left,
// z = 1 at depth 0.5.
void r_set_ortho(float width, float height);
// Draws count vertices as a D3DPT_TRIANGLELIST (split into chunks of
// g_max_prims triangles), STRIP or FAN (capped at g_max_prims triangles).
void r_draw_vertices(const Vertex* vertices, int count, int primitive_type);
// A textured rectangle in the 2D pass from (x0, y0) with texture coordinates
// (s0, t0) to (x1, y1) with (s1, t1), stage 0 bound to `slot`.
void r_draw_quad2d(int slot, float x0, float y0, float x1, float y1, float s0, float t0, float s1,
                   float t1);
// A rectangle of size[0] x size[1] around `centre`, facing the camera (edges
// along g_cam_right and g_cam_up), stage 0 bound to `slot`.
void r_draw_billboard(const Vec3* centre, const float* size, int slot);
// Draws one mesh instance: rolled, pitched, yawed, then the current world,
// then moved to its position. Binds nothing; g_world is left as it was.
void r_draw_mesh(const MeshObject* object);
// Binds a slot's texture to a stage. -1 keeps whatever the stage had; an
// empty slot binds the missing-texture image.
void r_bind_texture(int slot, int stage);
