// Vector and matrix math: the three-component vector operations, the helpers
// that move and turn packed Vertex arrays, and the 4x4 matrix builders behind
// the camera, the projections and the mesh placement.
//
// Conventions are the device's: row vectors multiplied on the left (v' = v x M),
// so a x b applies a first, then b; a left-handed system with y up; the
// translation in row 3 of a row-major Matrix. Matrix angles are radians; only
// vertices_rotate takes degrees, as the scene code thinks in degrees there.
// Everything works on caller-owned memory: nothing allocates, nothing fails.
// Sine, cosine and square root go through double precision and the results
// are stored as 32-bit floats.

#include "gfx/math3d.h"

#include <cassert>
#include <cmath>

#include "base/trig.h"

// The single-precision pi that vertices_rotate converts degrees with.
static const float VERTEX_ROTATE_PI = 3.1415927f;

// Look-at tolerance: squared lengths this close to 1 count as unit already, and
// squared lengths at or below the floor count as no direction at all.
static const float LOOK_UNIT_TOLERANCE = 1e-5f;
static const float LOOK_MIN_SQUARED_LENGTH = 1e-10f;

void vec_set(Vec3* v, float x, float y, float z)
{
    v->x = x;
    v->y = y;
    v->z = z;
}

void vec_copy(const Vec3* src, Vec3* dst)
{
    *dst = *src;
}

void vec_add(const Vec3* a, const Vec3* b, Vec3* out)
{
    out->x = a->x + b->x;
    out->y = a->y + b->y;
    out->z = a->z + b->z;
}

void vec_sub(const Vec3* a, const Vec3* b, Vec3* out)
{
    out->x = a->x - b->x;
    out->y = a->y - b->y;
    out->z = a->z - b->z;
}

void vec_scale(const Vec3* v, float s, Vec3* out)
{
    out->x = v->x * s;
    out->y = v->y * s;
    out->z = v->z * s;
}

float vec_dot(const Vec3* a, const Vec3* b)
{
    return a->x * b->x + a->y * b->y + a->z * b->z;
}

void vec_cross(const Vec3* a, const Vec3* b, Vec3* out)
{
    // Each component goes straight into out, so an aliased out would feed
    // half-written values into the next component.
    assert(out != a && out != b);
    out->x = a->y * b->z - a->z * b->y;
    out->y = a->z * b->x - a->x * b->z;
    out->z = a->x * b->y - a->y * b->x;
}

float vec_length(const Vec3* v)
{
    float sum = v->x * v->x + v->y * v->y;
    sum += v->z * v->z;
    return (float)std::sqrt((double)sum);
}

void vec_normalize(Vec3* v, Vec3* out)
{
    if (out == nullptr)
        out = v;
    float len = vec_length(v);
    // A zero length would scale by infinity and send NaN to the device; a
    // vector with no direction stays the zero vector instead.
    if (!(len > 0.0f)) {
        vec_set(out, 0.0f, 0.0f, 0.0f);
        return;
    }
    float s = 1.0f / len;
    vec_scale(v, s, out);
}

void vertex_set(Vertex* vtx, float x, float y, float z, float u0, float v0, float u1, float v1)
{
    vtx->pos.x = x;
    vtx->pos.y = y;
    vtx->pos.z = z;
    vtx->u0 = u0;
    vtx->v0 = v0;
    vtx->u1 = u1;
    vtx->v1 = v1;
}

void vertex_copy(const Vertex* src, Vertex* dst)
{
    *dst = *src;
}

void vertices_translate(Vertex* vertices, int count, const Vec3* offset)
{
    for (int i = 0; i < count; i++)
        vec_add(vertex_pos(&vertices[i]), offset, vertex_pos(&vertices[i]));
}

void vertices_rotate(Vertex* vertices, int count, float angle_degrees)
{
    for (int i = 0; i < count; i++) {
        float a = angle_degrees / 180.0f * VERTEX_ROTATE_PI;
        double c = trig_cos((double)a);
        double s = trig_sin((double)a);
        Vertex turned = vertices[i];
        turned.pos.x = (float)(vertices[i].pos.x * c - vertices[i].pos.z * s);
        turned.pos.z = (float)(vertices[i].pos.x * s + vertices[i].pos.z * c);
        vertices[i] = turned;
    }
}

Matrix* mat_multiply(Matrix* out, const Matrix* a, const Matrix* b)
{
    if (out == a && out == b) {
        // Squaring in place: every element of b is read after out is written,
        // so square from a copy (out is then only a, handled row by row).
        Matrix b_copy = *b;
        return mat_multiply(out, a, &b_copy);
    }
    if (out != b) {
        // Row i of out only depends on row i of a, which is read first.
        for (int i = 0; i < 4; i++) {
            float a0 = a->m[4 * i + 0];
            float a1 = a->m[4 * i + 1];
            float a2 = a->m[4 * i + 2];
            float a3 = a->m[4 * i + 3];
            for (int j = 0; j < 4; j++)
                out->m[4 * i + j] =
                    a0 * b->m[j] + a1 * b->m[4 + j] + a2 * b->m[8 + j] + a3 * b->m[12 + j];
        }
        return out;
    }
    // out is b: column j of out only depends on column j of b, read first.
    for (int j = 0; j < 4; j++) {
        float b0 = b->m[j];
        float b1 = b->m[4 + j];
        float b2 = b->m[8 + j];
        float b3 = b->m[12 + j];
        for (int i = 0; i < 4; i++)
            out->m[4 * i + j] = a->m[4 * i] * b0 + a->m[4 * i + 1] * b1 + a->m[4 * i + 2] * b2 +
                                a->m[4 * i + 3] * b3;
    }
    return out;
}

// Fills out with the given four rows.
static Matrix* mat_set_rows(Matrix* out, float m00, float m01, float m02, float m03, float m10,
                            float m11, float m12, float m13, float m20, float m21, float m22,
                            float m23, float m30, float m31, float m32, float m33)
{
    float* m = out->m;
    m[0] = m00;
    m[1] = m01;
    m[2] = m02;
    m[3] = m03;
    m[4] = m10;
    m[5] = m11;
    m[6] = m12;
    m[7] = m13;
    m[8] = m20;
    m[9] = m21;
    m[10] = m22;
    m[11] = m23;
    m[12] = m30;
    m[13] = m31;
    m[14] = m32;
    m[15] = m33;
    return out;
}

Matrix* mat_translation(Matrix* out, float x, float y, float z)
{
    return mat_set_rows(out, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1);
}

// Quaternion of mat_rotation's yaw, pitch and roll (radians); returns out.
static Quat* quat_from_yaw_pitch_roll(Quat* out, float yaw, float pitch, float roll)
{
    double sy = trig_sin(yaw * 0.5), cy = trig_cos(yaw * 0.5);
    double sp = trig_sin(pitch * 0.5), cp = trig_cos(pitch * 0.5);
    double sr = trig_sin(roll * 0.5), cr = trig_cos(roll * 0.5);
    out->x = (float)(cy * sp * cr + sy * cp * sr);
    out->y = (float)(sy * cp * cr - cy * sp * sr);
    out->z = (float)(cy * cp * sr - sy * sp * cr);
    out->w = (float)(cy * cp * cr + sy * sp * sr);
    return out;
}

// Rotation matrix of q, which is used as given, not normalised.
static Matrix* mat_from_quat(Matrix* out, const Quat* q)
{
    float x = q->x, y = q->y, z = q->z, w = q->w;
    return mat_set_rows(out, 1 - 2 * y * y - 2 * z * z, 2 * x * y + 2 * w * z,
                        2 * x * z - 2 * w * y, 0, 2 * x * y - 2 * w * z, 1 - 2 * x * x - 2 * z * z,
                        2 * y * z + 2 * w * x, 0, 2 * x * z + 2 * w * y, 2 * y * z - 2 * w * x,
                        1 - 2 * x * x - 2 * y * y, 0, 0, 0, 0, 1);
}

Matrix* mat_rotation(Matrix* out, float yaw, float pitch, float roll)
{
    Quat q;
    return mat_from_quat(out, quat_from_yaw_pitch_roll(&q, yaw, pitch, roll));
}

// The look-at's normalisation: near-unit vectors pass unscaled, vectors too
// short to have a direction (or NaN) become zero, so a degenerate camera gives
// zero axes instead of a division by zero. out may be v.
static void look_normalize(const Vec3* v, Vec3* out)
{
    float s = v->x * v->x + v->y * v->y + v->z * v->z;
    float off = s - 1.0f;
    if (off >= -LOOK_UNIT_TOLERANCE && off <= LOOK_UNIT_TOLERANCE) {
        *out = *v;
    } else if (s > LOOK_MIN_SQUARED_LENGTH) {
        float inv = (float)(1.0 / std::sqrt((double)s));
        vec_scale(v, inv, out);
    } else {
        vec_set(out, 0.0f, 0.0f, 0.0f);
    }
}

// Cross product that reads every input before storing, so out may be a or b.
static void look_cross(const Vec3* a, const Vec3* b, Vec3* out)
{
    Vec3 r;
    r.x = a->y * b->z - a->z * b->y;
    r.y = a->z * b->x - a->x * b->z;
    r.z = a->x * b->y - a->y * b->x;
    *out = r;
}

Matrix* mat_look_at_lh(Matrix* out, const Vec3* eye, const Vec3* at, const Vec3* up)
{
    Vec3 zaxis, xaxis, yaxis;
    vec_sub(at, eye, &zaxis);
    look_normalize(&zaxis, &zaxis);
    look_cross(up, &zaxis, &xaxis);
    look_normalize(&xaxis, &xaxis);
    look_cross(&zaxis, &xaxis, &yaxis);
    return mat_set_rows(out, xaxis.x, yaxis.x, zaxis.x, 0, xaxis.y, yaxis.y, zaxis.y, 0, xaxis.z,
                        yaxis.z, zaxis.z, 0, -vec_dot(&xaxis, eye), -vec_dot(&yaxis, eye),
                        -vec_dot(&zaxis, eye), 1);
}

Matrix* mat_perspective_fov_lh(Matrix* out, float fovy, float aspect, float zn, float zf)
{
    double half = fovy * 0.5;
    float ys = (float)(trig_cos(half) / trig_sin(half));
    float xs = ys / aspect;
    float q = zf / (zf - zn);
    return mat_set_rows(out, xs, 0, 0, 0, 0, ys, 0, 0, 0, 0, q, 1, 0, 0, -q * zn, 0);
}

Matrix* mat_ortho_lh(Matrix* out, float w, float h, float zn, float zf)
{
    float q = 1.0f / (zf - zn);
    return mat_set_rows(out, 2 / w, 0, 0, 0, 0, 2 / h, 0, 0, 0, 0, q, 0, 0, 0, -q * zn, 1);
}
