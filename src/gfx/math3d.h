// Vector, vertex and 4x4 matrix math shared by the renderer and the scene.
// Row vectors, left-handed, y up; see math3d.cpp for the conventions.
#pragma once

#include <cstddef>
#include <type_traits>

// A position, direction or offset; y is up.
struct Vec3 {
    float x, y, z;
};

// The one vertex layout of the system: position, then stage-0 and stage-1
// texture coordinates, seven packed floats. The position is a Vec3 member so
// the vertex helpers can hand it to the vector operations as one object.
struct Vertex {
    Vec3 pos;
    float u0, v0;
    float u1, v1;
};

// Vertex format code of Vertex: position plus two texture coordinate sets.
constexpr unsigned int VERTEX_FVF = 0x202u;

// Sixteen floats, row-major: element (i, j) is m[4 * i + j]; row 3 holds the
// translation. The layout is the one the device takes for its transforms.
struct Matrix {
    float m[16];
};

// Rotation quaternion, vector part first; only used to build rotation matrices.
struct Quat {
    float x, y, z, w;
};

static_assert(sizeof(Vec3) == 12, "Vec3 is three packed floats");
static_assert(sizeof(Vertex) == 28, "Vertex is seven packed floats");
static_assert(std::is_standard_layout_v<Vertex>, "Vertex goes to the device as raw memory");
static_assert(offsetof(Vertex, pos) == 0 && offsetof(Vertex, u0) == 12 &&
                  offsetof(Vertex, v0) == 16 && offsetof(Vertex, u1) == 20 &&
                  offsetof(Vertex, v1) == 24,
              "Vertex fields are x, y, z, u0, v0, u1, v1 with no padding");
static_assert(sizeof(Matrix) == 64, "Matrix is sixteen packed floats");
static_assert(sizeof(Quat) == 16, "Quat is four packed floats");

// The position of a vertex, for use with the vec_ operations.
inline Vec3* vertex_pos(Vertex* vtx)
{
    return &vtx->pos;
}
inline const Vec3* vertex_pos(const Vertex* vtx)
{
    return &vtx->pos;
}

// ---- Vectors. The output may be the same object as an input unless noted. ----

// v = (x, y, z).
void vec_set(Vec3* v, float x, float y, float z);
// dst = src; the source comes first.
void vec_copy(const Vec3* src, Vec3* dst);
// out = a + b.
void vec_add(const Vec3* a, const Vec3* b, Vec3* out);
// out = a - b, first minus second.
void vec_sub(const Vec3* a, const Vec3* b, Vec3* out);
// out = s * v.
void vec_scale(const Vec3* v, float s, Vec3* out);
// Dot product of a and b.
float vec_dot(const Vec3* a, const Vec3* b);
// out = a x b. Components are stored as they are computed, so out must be a
// third object, neither a nor b.
void vec_cross(const Vec3* a, const Vec3* b, Vec3* out);
// Euclidean length of v.
float vec_length(const Vec3* v);
// out = v / |v|; a null out normalises v in place. A zero-length (or NaN)
// vector gives (0, 0, 0) rather than infinities.
void vec_normalize(Vec3* v, Vec3* out);

// ---- Vertices (pointers into caller-owned packed arrays). ----

// Writes all seven floats of one vertex, in memory order.
void vertex_set(Vertex* vtx, float x, float y, float z, float u0, float v0, float u1, float v1);
// dst = src for one whole vertex; the source comes first.
void vertex_copy(const Vertex* src, Vertex* dst);
// Adds offset to the positions of the first count vertices.
void vertices_translate(Vertex* vertices, int count, const Vec3* offset);
// Turns the positions of the first count vertices about the y axis by an
// angle in degrees; positive turns +x towards +z (opposite to mat_rotation's
// yaw). Texture coordinates are left alone.
void vertices_rotate(Vertex* vertices, int count, float angle_degrees);

// ---- Matrices. Each fills all sixteen elements of out and returns out. ----

// out = a x b (a applied first, then b). out may be a, b or both.
Matrix* mat_multiply(Matrix* out, const Matrix* a, const Matrix* b);
// Identity with the translation (x, y, z) in row 3.
Matrix* mat_translation(Matrix* out, float x, float y, float z);
// Rotation by roll about z, then pitch about x, then yaw about y (radians).
Matrix* mat_rotation(Matrix* out, float yaw, float pitch, float roll);
// Left-handed view matrix looking from eye towards at. Degenerate input (eye
// equal to at, up along the view direction) gives zero axes, never NaN.
Matrix* mat_look_at_lh(Matrix* out, const Vec3* eye, const Vec3* at, const Vec3* up);
// Left-handed perspective projection; fovy is the vertical field in radians.
Matrix* mat_perspective_fov_lh(Matrix* out, float fovy, float aspect, float zn, float zf);
// Left-handed orthographic projection of a w x h box centred on the view axis.
Matrix* mat_ortho_lh(Matrix* out, float w, float h, float zn, float zf);
