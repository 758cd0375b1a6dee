// The renderer core through the recording device: set-up, list splitting and
// fan capping, the two transform set-ups, quads, billboards, meshes and the
// texture binding rules.
#include <array>
#include <cmath>

#include "gfx_test_util.h"

namespace
{

// v x M for a point (w = 1): clip coordinates.
std::array<float, 4> transform(const Matrix& m, float x, float y, float z)
{
    std::array<float, 4> out;
    for (int j = 0; j < 4; ++j)
        out[size_t(j)] = x * m.m[j] + y * m.m[4 + j] + z * m.m[8 + j] + m.m[12 + j];
    return out;
}

std::vector<Vertex> numbered_vertices(int count)
{
    std::vector<Vertex> v(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        vertex_set(&v[size_t(i)], float(i), float(i % 7), 1.0f, 0.5f, 0.25f, 0.0f, 0.0f);
    return v;
}

void expect_matrix_near(const Matrix& got, const Matrix& want)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(got.m[i], want.m[i], 1e-4f) << "element " << i;
}

void expect_vertex(const Vertex& v, float x, float y, float z, float u, float t)
{
    EXPECT_FLOAT_EQ(v.pos.x, x);
    EXPECT_FLOAT_EQ(v.pos.y, y);
    EXPECT_FLOAT_EQ(v.pos.z, z);
    EXPECT_FLOAT_EQ(v.u0, u);
    EXPECT_FLOAT_EQ(v.v0, t);
}

class Renderer : public GfxTest
{
  protected:
    void SetUp() override
    {
        GfxTest::SetUp();
        write_missing_texture();
        _r_init();
        rec_->clear();
    }

    // The last transform of a kind that was set.
    Matrix last_transform(D3DTRANSFORMSTATETYPE which)
    {
        Matrix m = {};
        for (const RecordedCall* call : rec_->of(REC_SET_TRANSFORM))
            if (call->type == which)
                m = call->matrix;
        return m;
    }
};

// A device that allows only a few primitives per draw.
class SmallDevice : public Renderer
{
  protected:
    void configure(SoftConfig& config) override { config.caps.MaxPrimitiveCount = 4; }
};

class NoPrimitives : public Renderer
{
  protected:
    void configure(SoftConfig& config) override { config.caps.MaxPrimitiveCount = 0; }
};

TEST_F(GfxTest, InitMakesTheBufferSetsStageZeroFiltersAndLoadsTheMissingTexture)
{
    write_missing_texture();
    ASSERT_EQ(_r_init(), 1);
    // The soft device claims 0xFFFFF primitives; the buffer is capped.
    EXPECT_EQ(g_max_prims, R_MAX_PRIMS);
    ASSERT_EQ(rec_->count(REC_CREATE_VERTEX_BUFFER), 1u);
    const RecordedCall* buffer = rec_->of(REC_CREATE_VERTEX_BUFFER)[0];
    EXPECT_EQ(buffer->value, 3u * R_MAX_PRIMS * 28u);
    EXPECT_EQ(buffer->extra, VERTEX_FVF);
    EXPECT_EQ(buffer->object, g_vertex_buffer);

    std::vector<const RecordedCall*> stages = rec_->of(REC_SET_STAGE_STATE);
    ASSERT_EQ(stages.size(), 3u);
    const DWORD order[3] = {D3DTSS_MINFILTER, D3DTSS_MIPFILTER, D3DTSS_MAGFILTER};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(stages[i]->stage, 0u);
        EXPECT_EQ(stages[i]->type, order[i]);
        EXPECT_EQ(stages[i]->value, D3DTEXF_ANISOTROPIC);
    }
    EXPECT_EQ(rec_->count(REC_SET_RENDER_STATE), 0u);
    EXPECT_NE(g_textures[MISSING_TEXTURE_SLOT].texture, nullptr);

    _r_deinit();
    EXPECT_EQ(g_vertex_buffer, nullptr);
    EXPECT_EQ(g_textures[MISSING_TEXTURE_SLOT].texture, nullptr);
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "_r_init()");
    EXPECT_EQ(lines[1], "loading texture \"textures/common/notfound\" as #2047");
    EXPECT_EQ(lines[2], "_r_deinit()");
}

TEST_F(Renderer, LongListsAreSplitIntoChunksOfTheCappedCount)
{
    const int g = g_max_prims;
    std::vector<Vertex> list = numbered_vertices(3 * g + 5);
    r_draw_vertices(list.data(), int(list.size()), D3DPT_TRIANGLELIST);
    std::vector<const RecordedCall*> draws = rec_->of(REC_DRAW);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0]->type, D3DPT_TRIANGLELIST);
    EXPECT_EQ(draws[0]->value, UINT(g));
    EXPECT_EQ(draws[1]->value, 1u); // the last two vertices are not drawn
    EXPECT_EQ(draws[0]->extra, 0u);
    EXPECT_EQ(draws[1]->extra, 0u); // every draw starts the buffer afresh
    ASSERT_EQ(draws[1]->vertices.size(), 3u);
    EXPECT_FLOAT_EQ(draws[1]->vertices[0].pos.x, float(3 * g));
    EXPECT_FLOAT_EQ(draws[1]->vertices[2].pos.x, float(3 * g + 2));
    ASSERT_EQ(draws[0]->vertices.size(), size_t(3 * g));
    EXPECT_FLOAT_EQ(draws[0]->vertices.back().pos.x, float(3 * g - 1));

    // Each draw binds the buffer and the vertex format first.
    const std::vector<RecordedCall>& calls = rec_->calls;
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].kind, REC_SET_STREAM);
    EXPECT_EQ(calls[0].object, g_vertex_buffer);
    EXPECT_EQ(calls[0].value, 28u);
    EXPECT_EQ(calls[1].kind, REC_SET_SHADER);
    EXPECT_EQ(calls[1].value, VERTEX_FVF);
    EXPECT_EQ(calls[2].kind, REC_DRAW);
}

TEST_F(SmallDevice, ListsSplitFansAndStripsAreCapped)
{
    ASSERT_EQ(g_max_prims, 4); // below the cap: the device's own limit
    std::vector<Vertex> v = numbered_vertices(40);
    r_draw_vertices(v.data(), 3 * 4 * 2 + 5, D3DPT_TRIANGLELIST);
    std::vector<const RecordedCall*> draws = rec_->of(REC_DRAW);
    ASSERT_EQ(draws.size(), 3u);
    EXPECT_EQ(draws[0]->value, 4u);
    EXPECT_EQ(draws[1]->value, 4u);
    EXPECT_EQ(draws[2]->value, 1u);
    EXPECT_FLOAT_EQ(draws[1]->vertices[0].pos.x, 12.0f);
    EXPECT_FLOAT_EQ(draws[2]->vertices[0].pos.x, 24.0f);

    for (int type : {D3DPT_TRIANGLEFAN, D3DPT_TRIANGLESTRIP}) {
        rec_->clear();
        r_draw_vertices(v.data(), 20, type);
        draws = rec_->of(REC_DRAW);
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(draws[0]->type, DWORD(type));
        EXPECT_EQ(draws[0]->value, 4u); // the rest is not drawn
        ASSERT_EQ(draws[0]->vertices.size(), 6u);
        EXPECT_FLOAT_EQ(draws[0]->vertices[5].pos.x, 5.0f);
    }

    // A list one or two vertices past the buffer draws what fits: the copy
    // stops at the buffer's end.
    rec_->clear();
    r_draw_vertices(v.data(), 14, D3DPT_TRIANGLELIST);
    draws = rec_->of(REC_DRAW);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0]->value, 4u);
}

TEST_F(Renderer, DrawsOfNoWholePrimitiveMakeNoDeviceCall)
{
    std::vector<Vertex> v = numbered_vertices(8);
    r_draw_vertices(v.data(), 2, D3DPT_TRIANGLEFAN);
    r_draw_vertices(v.data(), 1, D3DPT_TRIANGLESTRIP);
    r_draw_vertices(v.data(), 2, D3DPT_TRIANGLELIST);
    r_draw_vertices(v.data(), 0, D3DPT_TRIANGLELIST);
    r_draw_vertices(v.data(), -3, D3DPT_TRIANGLEFAN);
    r_draw_vertices(nullptr, 3, D3DPT_TRIANGLELIST);
    r_draw_vertices(v.data(), 8, D3DPT_POINTLIST); // no caller draws other types
    EXPECT_TRUE(rec_->calls.empty());

    // A buffer that cannot be locked skips the draw.
    rec_->faults->fail_buffer_lock = true;
    r_draw_vertices(v.data(), 4, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(rec_->count(REC_DRAW), 0u);
    rec_->faults->fail_buffer_lock = false;
    r_draw_vertices(v.data(), 4, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(rec_->count(REC_DRAW), 1u);
}

TEST_F(NoPrimitives, ADeviceThatClaimsNoPrimitivesGetsNoBufferAndNoDraws)
{
    EXPECT_EQ(g_max_prims, 0);
    EXPECT_EQ(g_vertex_buffer, nullptr);
    std::vector<Vertex> v = numbered_vertices(9);
    r_draw_vertices(v.data(), 9, D3DPT_TRIANGLELIST); // must not loop forever
    EXPECT_EQ(rec_->count(REC_DRAW), 0u);
}

TEST_F(Renderer, CameraProjectionIsMirroredWithTheNegatedAspect)
{
    g_cam_pos = {0.0f, 2.0f, 0.0f};
    g_cam_target = {0.0f, 2.0f, 10.0f};
    g_cam_ref_up = {0.0f, 1.0f, 0.0f};
    g_cam_fov = 45.0f;
    g_aspect = 640.0f / 480.0f;
    r_set_camera();

    std::vector<const RecordedCall*> sets = rec_->of(REC_SET_TRANSFORM);
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0]->type, D3DTS_VIEW);
    EXPECT_EQ(sets[1]->type, D3DTS_PROJECTION);
    EXPECT_EQ(sets[2]->type, D3DTS_WORLD);

    const Matrix& p = sets[1]->matrix;
    EXPECT_NEAR(p.m[5], 2.4142134f, 1e-5f);
    EXPECT_NEAR(p.m[0], -1.81066f, 1e-5f);
    EXPECT_NEAR(p.m[10], 1.00002f, 1e-6f);
    EXPECT_FLOAT_EQ(p.m[11], 1.0f);
    EXPECT_NEAR(p.m[14], -0.100002f, 1e-6f);
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13, 15})
        EXPECT_EQ(p.m[i], 0.0f) << "element " << i;
    Matrix identity;
    mat_translation(&identity, 0, 0, 0);
    expect_matrix_near(sets[2]->matrix, identity);

    // Basis: up x forward gives right, forward x right gives up, all unit
    // length (the target is 10 units away).
    EXPECT_FLOAT_EQ(g_cam_forward.z, 1.0f);
    EXPECT_FLOAT_EQ(g_cam_right.x, 1.0f);
    EXPECT_FLOAT_EQ(g_cam_up.y, 1.0f);

    // A point to the camera's right lands on the left half of the screen.
    Matrix view_proj;
    mat_multiply(&view_proj, &sets[0]->matrix, &p);
    std::array<float, 4> clip = transform(view_proj, 1.0f, 2.0f, 10.0f);
    EXPECT_LT(clip[0] / clip[3], 0.0f);
}

TEST_F(Renderer, OrthoPutsTheOriginBottomLeftAndQuadsKeepTheirCornerOrder)
{
    r_set_ortho(640.0f, 480.0f);
    std::vector<const RecordedCall*> sets = rec_->of(REC_SET_TRANSFORM);
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0]->type, D3DTS_VIEW);
    EXPECT_EQ(sets[1]->type, D3DTS_PROJECTION);
    EXPECT_EQ(sets[2]->type, D3DTS_WORLD);
    Matrix want;
    expect_matrix_near(sets[0]->matrix, *mat_translation(&want, 0, 0, 0));
    expect_matrix_near(sets[1]->matrix, *mat_ortho_lh(&want, 640, 480, 0, 2));
    expect_matrix_near(sets[2]->matrix, *mat_translation(&want, -320, -240, 0));
    expect_matrix_near(g_world, sets[2]->matrix);

    rec_->clear();
    r_draw_quad2d(MISSING_TEXTURE_SLOT, 0, 0, 16, 16, 0, 1, 1, 0);
    ASSERT_EQ(rec_->count(REC_SET_TEXTURE), 1u);
    EXPECT_EQ(rec_->calls[0].kind, REC_SET_TEXTURE); // bound before the draw
    EXPECT_EQ(rec_->calls[0].object, g_textures[MISSING_TEXTURE_SLOT].texture);
    std::vector<const RecordedCall*> draws = rec_->of(REC_DRAW);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0]->type, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(draws[0]->value, 2u);
    const std::vector<Vertex>& q = draws[0]->vertices;
    ASSERT_EQ(q.size(), 4u);
    expect_vertex(q[0], 0, 0, 1, 0, 1);
    expect_vertex(q[1], 16, 0, 1, 1, 1);
    expect_vertex(q[2], 16, 16, 1, 1, 0);
    expect_vertex(q[3], 0, 16, 1, 0, 0);
    EXPECT_EQ(q[2].u1, 0.0f);
    EXPECT_EQ(q[2].v1, 0.0f);

    // Through world, view and projection: the bottom-left 16-pixel square
    // of the screen, at depth 0.5.
    Matrix wvp;
    mat_multiply(&wvp, &g_world, &g_view);
    mat_multiply(&wvp, &wvp, &g_proj);
    std::array<float, 4> low = transform(wvp, 0, 0, 1), high = transform(wvp, 16, 16, 1);
    EXPECT_FLOAT_EQ(low[0], -1.0f);
    EXPECT_FLOAT_EQ(low[1], -1.0f);
    EXPECT_FLOAT_EQ(low[2], 0.5f);
    EXPECT_FLOAT_EQ(low[3], 1.0f);
    EXPECT_FLOAT_EQ(high[0], -1.0f + 32.0f / 640.0f);
    EXPECT_FLOAT_EQ(high[1], -1.0f + 32.0f / 480.0f);
}

TEST_F(Renderer, BillboardsSpanTheCameraRightAndUpVectors)
{
    g_cam_right = {0.0f, 0.0f, 1.0f};
    g_cam_up = {0.0f, 1.0f, 0.0f};
    Vec3 centre = {10.0f, 5.0f, 0.0f};
    const float size[2] = {4.0f, 2.0f};
    r_draw_billboard(&centre, size, 7);
    std::vector<const RecordedCall*> draws = rec_->of(REC_DRAW);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0]->type, D3DPT_TRIANGLEFAN);
    const std::vector<Vertex>& q = draws[0]->vertices;
    ASSERT_EQ(q.size(), 4u);
    expect_vertex(q[0], 10, 6, -2, 0, 0); // P - R + U
    expect_vertex(q[1], 10, 6, 2, 1, 0);  // P + R + U
    expect_vertex(q[2], 10, 4, 2, 1, 1);  // P + R - U
    expect_vertex(q[3], 10, 4, -2, 0, 1); // P - R - U
    // Slot 7 is empty: the missing texture stands in.
    EXPECT_EQ(rec_->of(REC_SET_TEXTURE)[0]->object, g_textures[MISSING_TEXTURE_SLOT].texture);
}

TEST_F(Renderer, BindingRules)
{
    ASSERT_EQ(tex_create(4, 4, "*five", 5), 5);
    IDirect3DTexture8* five = g_textures[5].texture;
    IDirect3DTexture8* missing = g_textures[MISSING_TEXTURE_SLOT].texture;
    ASSERT_NE(missing, nullptr);

    r_bind_texture(5, 0);
    r_bind_texture(-1, 0); // keeps slot 5's texture
    r_bind_texture(5, 1);
    r_bind_texture(5, 1); // no cache: set again
    r_bind_texture(9, 0); // empty slot
    r_bind_texture(-7, 1);
    r_bind_texture(TEXTURE_SLOT_COUNT, 1);
    std::vector<const RecordedCall*> binds = rec_->of(REC_SET_TEXTURE);
    ASSERT_EQ(binds.size(), 6u);
    const std::pair<DWORD, IDirect3DTexture8*> want[6] = {{0, five},    {1, five},    {1, five},
                                                          {0, missing}, {1, missing}, {1, missing}};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(binds[i]->stage, want[i].first) << i;
        EXPECT_EQ(binds[i]->object, want[i].second) << i;
    }

    // Without the missing-texture image an empty slot unbinds the stage.
    tex_free_all();
    rec_->clear();
    r_bind_texture(9, 0);
    ASSERT_EQ(rec_->count(REC_SET_TEXTURE), 1u);
    EXPECT_EQ(rec_->calls[0].object, nullptr);
}

class Meshes : public Renderer
{
  protected:
    void SetUp() override
    {
        Renderer::SetUp();
        mesh_ = std::make_unique<Mesh>();
        Mesh& m = *mesh_;
        m.vertex_count = 4;
        m.triangle_count = 2;
        vertex_set(&m.vertices[0], -0.5f, 0.5f, 0, 0, 0, 0, 0);
        vertex_set(&m.vertices[1], 0.5f, 0.5f, 0, 1, 0, 0, 0);
        vertex_set(&m.vertices[2], 0.5f, -0.5f, 0, 1, 1, 0, 0);
        vertex_set(&m.vertices[3], -0.5f, -0.5f, 0, 0, 1, 0, 0);
        const int32_t indices[6] = {0, 1, 2, 2, 3, 0};
        std::copy(indices, indices + 6, m.indices);
    }
    std::unique_ptr<Mesh> mesh_;
};

TEST_F(Meshes, NoObjectOrNoMeshMakesNoDeviceCall)
{
    r_draw_mesh(nullptr);
    MeshObject empty = {nullptr, {1, 2, 3}, 0.1f, 0.2f, 0.3f};
    r_draw_mesh(&empty);
    EXPECT_TRUE(rec_->calls.empty());
}

TEST_F(Meshes, InstancesAreRolledPitchedYawedThenPlacedAndTheWorldComesBack)
{
    r_set_ortho(640, 480); // a world other than the identity
    Matrix world = g_world;
    rec_->clear();
    MeshObject leaf = {mesh_.get(), {3.0f, -2.0f, 7.5f}, 0.7f, -1.2f, 2.5f};
    r_draw_mesh(&leaf);

    ASSERT_EQ(rec_->calls.size(), 5u);
    ASSERT_EQ(rec_->calls[0].kind, REC_SET_TRANSFORM);
    EXPECT_EQ(rec_->calls[0].type, D3DTS_WORLD);
    Matrix rotation, move, want;
    mat_rotation(&rotation, leaf.yaw, leaf.pitch, leaf.roll);
    mat_multiply(&want, &rotation, &world);
    mat_multiply(&want, &want, mat_translation(&move, 3.0f, -2.0f, 7.5f));
    expect_matrix_near(rec_->calls[0].matrix, want);

    const RecordedCall& draw = rec_->calls[3];
    ASSERT_EQ(draw.kind, REC_DRAW);
    EXPECT_EQ(draw.type, D3DPT_TRIANGLELIST);
    EXPECT_EQ(draw.value, 2u);
    ASSERT_EQ(draw.vertices.size(), 6u);
    const int order[6] = {0, 1, 2, 2, 3, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(draw.vertices[size_t(i)].pos.x, mesh_->vertices[order[i]].pos.x) << i;

    ASSERT_EQ(rec_->calls[4].kind, REC_SET_TRANSFORM);
    expect_matrix_near(rec_->calls[4].matrix, world);
    expect_matrix_near(g_world, world);
    EXPECT_EQ(rec_->count(REC_SET_TEXTURE), 0u); // the caller binds
}

TEST_F(Meshes, TrianglesWithIndicesOutsideTheVerticesAreLeftOut)
{
    Mesh& m = *mesh_;
    m.triangle_count = 4;
    const int32_t indices[12] = {0, 1, 2, 2, 4, 0, 3, -1, 0, 1, 2, 3};
    std::copy(indices, indices + 12, m.indices);
    MeshObject object = {mesh_.get(), {0, 0, 0}, 0, 0, 0};
    r_draw_mesh(&object);
    std::vector<const RecordedCall*> draws = rec_->of(REC_DRAW);
    ASSERT_EQ(draws.size(), 1u);
    ASSERT_EQ(draws[0]->vertices.size(), 6u);
    EXPECT_EQ(draws[0]->vertices[3].pos.x, m.vertices[1].pos.x);
    EXPECT_EQ(draws[0]->vertices[5].pos.y, m.vertices[3].pos.y);

    // Counts past the arrays are held to them; nothing is read beyond.
    rec_->clear();
    m.vertex_count = 5000;
    m.triangle_count = 100000;
    for (int i = 0; i < MESH_MAX_INDICES; ++i)
        m.indices[i] = i % 4;
    r_draw_mesh(&object);
    draws = rec_->of(REC_DRAW);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0]->value, UINT(MESH_MAX_INDICES / 3));

    rec_->clear();
    m.triangle_count = -2;
    r_draw_mesh(&object);
    EXPECT_EQ(rec_->count(REC_DRAW), 0u);
    EXPECT_EQ(rec_->count(REC_SET_TRANSFORM), 2u); // placed and restored all the same
}

} // namespace
