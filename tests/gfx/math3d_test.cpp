#include "gfx/math3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{

const float PI = 3.14159265f;
const float TOL = 1e-5f;

void expect_vec(const Vec3& v, float x, float y, float z, float tol = 0.0f)
{
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

void expect_mat(const Matrix& got, const Matrix& want, float tol = 0.0f)
{
    for (int k = 0; k < 16; k++)
        EXPECT_NEAR(got.m[k], want.m[k], tol) << "element (" << k / 4 << ", " << k % 4 << ")";
}

Matrix rows3(float a00, float a01, float a02, float a10, float a11, float a12, float a20, float a21,
             float a22)
{
    return {{a00, a01, a02, 0, a10, a11, a12, 0, a20, a21, a22, 0, 0, 0, 0, 1}};
}

const auto ry = [](float a) { return rows3(cosf(a), 0, -sinf(a), 0, 1, 0, sinf(a), 0, cosf(a)); };
const auto rx = [](float a) { return rows3(1, 0, 0, 0, cosf(a), sinf(a), 0, -sinf(a), cosf(a)); };
const auto rz = [](float a) { return rows3(cosf(a), sinf(a), 0, -sinf(a), cosf(a), 0, 0, 0, 1); };
const Matrix IDENTITY = rows3(1, 0, 0, 0, 1, 0, 0, 0, 1);

// Independent row-by-column product, to compare the aliased forms against.
Matrix reference_product(const Matrix& a, const Matrix& b)
{
    Matrix r = {};
    for (int i = 0; i < 16; i++)
        for (int k = 0; k < 4; k++)
            r.m[i] += a.m[i / 4 * 4 + k] * b.m[k * 4 + i % 4];
    return r;
}

} // namespace

// The scene's tests exercise the vector arithmetic; these are the parts they
// do not reach.
TEST(Math3dVectors, CopyNormalizeAndVertexOperations)
{
    Vec3 a = {1, 2, 3}, dst = {0, 0, 0};
    vec_copy(&a, &dst); // source first
    expect_vec(dst, 1, 2, 3);
    // No direction to keep: zero stays zero, never inf or NaN; tiny still has one.
    Vec3 zero = {0, 0, 0}, zout = {7, 7, 7}, tiny = {0, 1e-20f, 0};
    vec_normalize(&zero, &zout);
    expect_vec(zout, 0, 0, 0);
    vec_normalize(&tiny, nullptr);
    expect_vec(tiny, 0, 1, 0, TOL);

    Vertex vs[3];
    vertex_set(&vs[0], 1, 5, 0, 0.1f, 0.2f, 0.3f, 0.4f);
    vertex_set(&vs[1], 2, -3, 7, 0.5f, 0.6f, 0.7f, 0.8f);
    vertex_set(&vs[2], 9, 9, 9, 9, 9, 9, 9);
    EXPECT_EQ((std::vector<float>{vs[0].u0, vs[0].v0, vs[0].u1, vs[0].v1}),
              (std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f}));
    vertices_rotate(vs, 2, 90); // +x turns towards +z
    expect_vec(vs[0].pos, 0, 5, 1, TOL);
    expect_vec(vs[1].pos, -7, -3, 2, TOL);
    Vec3 off = {10, -1, 2};
    vertices_translate(vs, 1, &off);
    expect_vec(vs[0].pos, 10, 4, 3, TOL);
    expect_vec(vs[1].pos, -7, -3, 2, TOL);
    expect_vec(vs[2].pos, 9, 9, 9); // beyond count: untouched by either
}

TEST(Math3dMatrices, MultiplyAliasingTranslationAndRotation)
{
    // Non-symmetric small integers: products are exact, so a wrong aliasing
    // order shows as an exact mismatch.
    Matrix a, b, out;
    for (int k = 0; k < 16; k++) {
        a.m[k] = (float)(k + 1);
        b.m[k] = (float)((k * 7) % 16) - 5.0f;
    }
    const Matrix want = reference_product(a, b);
    EXPECT_EQ(mat_multiply(&out, &a, &b), &out);
    expect_mat(out, want);
    Matrix out_a = a, out_b = b, sq = a;
    expect_mat(*mat_multiply(&out_a, &out_a, &b), want);
    expect_mat(*mat_multiply(&out_b, &a, &out_b), want);
    expect_mat(*mat_multiply(&sq, &sq, &sq), reference_product(a, a));

    Matrix t, want_t = IDENTITY;
    want_t.m[12] = 4, want_t.m[13] = 5, want_t.m[14] = 6;
    expect_mat(*mat_translation(&t, 4, 5, 6), want_t);

    Matrix r;
    for (float angle : {0.3f, -1.2f, PI / 2, 2.5f}) {
        expect_mat(*mat_rotation(&r, angle, 0, 0), ry(angle), TOL);
        expect_mat(*mat_rotation(&r, 0, angle, 0), rx(angle), TOL);
        expect_mat(*mat_rotation(&r, 0, 0, angle), rz(angle), TOL);
    }
    const float yaw = 0.7f, pitch = -0.4f, roll = 1.1f; // roll, then pitch, then yaw
    Matrix z = rz(roll), x = rx(pitch), y = ry(yaw), zx, zxy;
    mat_multiply(&zxy, mat_multiply(&zx, &z, &x), &y);
    expect_mat(*mat_rotation(&r, yaw, pitch, roll), zxy, TOL);
}

TEST(Math3dMatrices, LookAtAndProjections)
{
    Vec3 eye = {0, 0, 0}, at = {0, 0, 1}, up = {0, 1, 0};
    Matrix m;
    expect_mat(*mat_look_at_lh(&m, &eye, &at, &up), IDENTITY);

    // A general camera takes at to (0, 0, distance).
    Vec3 eye2 = {3, 2, -5}, at2 = {-1, 4, 7};
    mat_look_at_lh(&m, &eye2, &at2, &up);
    EXPECT_NEAR(at2.x * m.m[0] + at2.y * m.m[4] + at2.z * m.m[8] + m.m[12], 0, 1e-4f);
    EXPECT_NEAR(at2.x * m.m[1] + at2.y * m.m[5] + at2.z * m.m[9] + m.m[13], 0, 1e-4f);
    EXPECT_NEAR(at2.x * m.m[2] + at2.y * m.m[6] + at2.z * m.m[10] + m.m[14], sqrtf(164), 1e-4f);

    // Degenerate inputs give zero axes, never NaN.
    Matrix want = {};
    want.m[15] = 1;
    expect_mat(*mat_look_at_lh(&m, &eye2, &eye2, &up), want);
    Vec3 straight_up = {0, 5, 0};
    mat_look_at_lh(&m, &eye, &straight_up, &up);
    EXPECT_EQ(m.m[0], 0.0f);
    EXPECT_EQ(m.m[6], 1.0f);

    // Within the unit tolerance a direction is kept as given; outside it, normalised.
    Vec3 near_unit = {0, 0, 1.000004f}, outside = {0, 0, 1.00001f};
    EXPECT_EQ(mat_look_at_lh(&m, &eye, &near_unit, &up)->m[10], 1.000004f);
    EXPECT_NEAR(mat_look_at_lh(&m, &eye, &outside, &up)->m[10], 1.0f, 1e-7f);

    Matrix& p = m;
    const Matrix want_p = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 1, 0, 0, -2, 0}};
    expect_mat(*mat_perspective_fov_lh(&p, PI / 2, 1, 1, 2), want_p, 1e-6f);
    EXPECT_NEAR(mat_perspective_fov_lh(&p, PI / 2, 2, 1, 2)->m[0], 0.5f, 1e-6f);
    const Matrix want_o = {{2.0f / 640, 0, 0, 0, 0, 2.0f / 480, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1}};
    expect_mat(*mat_ortho_lh(&p, 640, 480, 0, 2), want_o);
    EXPECT_EQ(mat_ortho_lh(&p, 4, 4, 1, 3)->m[14], -0.5f);
}
