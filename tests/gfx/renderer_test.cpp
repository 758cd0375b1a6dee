// The renderer core through the recording device: set-up, list splitting and
// fan capping, the two transform set-ups, quads, billboards, meshes and the
// texture binding rules.
#include "gfx_test_util.h"
#include <array>
#include <cstring>

namespace
{

using Kinds = std::vector<RecordCallKind>;
using Floats = std::vector<float>;

// Vertex i sits at x = i.
std::vector<Vertex> numbered_vertices(int count)
{
    std::vector<Vertex> v(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        vertex_set(&v[size_t(i)], float(i), float(i % 7), 1.0f, 0.5f, 0.25f, 0.0f, 0.0f);
    return v;
}

Floats xs(const RecordedCall& draw)
{
    Floats out;
    for (const Vertex& v : draw.vertices)
        out.push_back(v.pos.x);
    return out;
}

void expect_matrix_near(const Matrix& got, const Matrix& want, float tolerance = 1e-4f)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(got.m[i], want.m[i], tolerance) << "element " << i;
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
    // The one draw recorded; an empty call when there is not exactly one.
    RecordedCall draw() const
    {
        std::vector<const RecordedCall*> draws = rec_->of(REC_DRAW);
        EXPECT_EQ(draws.size(), 1u);
        return draws.size() == 1 ? *draws[0] : RecordedCall{};
    }
    Kinds kinds() const
    {
        Kinds out;
        for (const RecordedCall& call : rec_->calls)
            out.push_back(call.kind);
        return out;
    }
    // The matrix last set for a transform.
    Matrix set_matrix(D3DTRANSFORMSTATETYPE which) const
    {
        Matrix m = {};
        for (const RecordedCall* call : rec_->of(REC_SET_TRANSFORM))
            if (call->type == which)
                m = call->matrix;
        return m;
    }
    IDirect3DTexture8* missing() const { return g_textures[MISSING_TEXTURE_SLOT].texture; }
};

TEST_F(GfxTest, InitMakesTheBufferSetsStageZeroFiltersAndLoadsTheMissingTexture)
{
    write_missing_texture();
    ASSERT_EQ(_r_init(), 1);
    EXPECT_EQ(g_max_prims, R_MAX_PRIMS); // the soft device claims 0xFFFFF
    std::vector<const RecordedCall*> buffers = rec_->of(REC_CREATE_VERTEX_BUFFER);
    ASSERT_EQ(buffers.size(), 1u);
    EXPECT_EQ(buffers[0]->value, 3u * R_MAX_PRIMS * 28u);
    std::vector<std::array<DWORD, 3>> stages;
    for (const RecordedCall* call : rec_->of(REC_SET_STAGE_STATE))
        stages.push_back({call->stage, call->type, call->value});
    EXPECT_EQ(stages,
              (std::vector<std::array<DWORD, 3>>{{0, D3DTSS_MINFILTER, D3DTEXF_ANISOTROPIC},
                                                 {0, D3DTSS_MIPFILTER, D3DTEXF_ANISOTROPIC},
                                                 {0, D3DTSS_MAGFILTER, D3DTEXF_ANISOTROPIC}}));
    EXPECT_EQ(rec_->count(REC_SET_RENDER_STATE), 0u);
    EXPECT_NE(g_textures[MISSING_TEXTURE_SLOT].texture, nullptr);

    _r_deinit();
    EXPECT_EQ(g_vertex_buffer, nullptr);
    EXPECT_EQ(g_textures[MISSING_TEXTURE_SLOT].texture, nullptr);
    EXPECT_EQ(log_lines(), (std::vector<std::string>{
                               "_r_init()", "loading texture \"textures/common/notfound\" as #2047",
                               "_r_deinit()"}));
}

TEST_F(Renderer, LongListsAreSplitIntoChunksOfTheCappedCount)
{
    const int g = g_max_prims;
    std::vector<Vertex> list = numbered_vertices(3 * g + 5);
    r_draw_vertices(list.data(), int(list.size()), D3DPT_TRIANGLELIST);
    // Each draw binds the buffer and the vertex format first and starts it afresh.
    EXPECT_EQ(kinds(), (Kinds{REC_SET_STREAM, REC_SET_SHADER, REC_DRAW, REC_SET_STREAM,
                              REC_SET_SHADER, REC_DRAW}));
    ASSERT_EQ(rec_->calls.size(), 6u);
    EXPECT_EQ(rec_->calls[0].object, g_vertex_buffer);
    EXPECT_EQ(rec_->calls[0].value, 28u);
    EXPECT_EQ(rec_->calls[1].value, VERTEX_FVF);
    const RecordedCall &first = rec_->calls[2], &second = rec_->calls[5];
    EXPECT_EQ(first.type, D3DPT_TRIANGLELIST);
    EXPECT_EQ(first.value, UINT(g));
    EXPECT_EQ(second.value, 1u); // the last two vertices are not drawn
    EXPECT_EQ(first.extra + second.extra, 0u);
    ASSERT_EQ(first.vertices.size(), size_t(3 * g));
    EXPECT_EQ(first.vertices.back().pos.x, float(3 * g - 1));
    EXPECT_EQ(xs(second), (Floats{float(3 * g), float(3 * g + 1), float(3 * g + 2)}));
}

TEST_F(Renderer, SmallDevicesCapFansAndStripsAndListsDrawWhatFits)
{
    soft_config().caps.MaxPrimitiveCount = 4; // below the cap: the device's own limit
    ASSERT_EQ(_r_init(), 1);
    ASSERT_EQ(g_max_prims, 4);
    std::vector<Vertex> v = numbered_vertices(20);
    for (int type : {D3DPT_TRIANGLEFAN, D3DPT_TRIANGLESTRIP}) {
        rec_->clear();
        r_draw_vertices(v.data(), 20, type);
        EXPECT_EQ(draw().type, DWORD(type));
        EXPECT_EQ(draw().value, 4u); // the rest is not drawn
        EXPECT_EQ(xs(draw()), (Floats{0, 1, 2, 3, 4, 5}));
    }
    // A list two vertices past the buffer: the copy stops at the buffer's end.
    rec_->clear();
    r_draw_vertices(v.data(), 14, D3DPT_TRIANGLELIST);
    EXPECT_EQ(draw().value, 4u);

    soft_config().caps.MaxPrimitiveCount = 0; // no buffer, no draws, and no endless loop
    ASSERT_EQ(_r_init(), 1);
    EXPECT_EQ(g_vertex_buffer, nullptr);
    rec_->clear();
    r_draw_vertices(v.data(), 9, D3DPT_TRIANGLELIST);
    EXPECT_TRUE(rec_->calls.empty());
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

    BYTE* held = nullptr; // a buffer that cannot be locked skips the draw
    ASSERT_EQ(g_vertex_buffer->Lock(0, 0, &held, 0), D3D_OK);
    r_draw_vertices(v.data(), 4, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(rec_->count(REC_DRAW), 0u);
    g_vertex_buffer->Unlock();
    r_draw_vertices(v.data(), 4, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(rec_->count(REC_DRAW), 1u);
}

TEST_F(Renderer, CameraProjectionIsMirroredWithTheNegatedAspect)
{
    g_cam_pos = {0.0f, 2.0f, 0.0f};
    g_cam_target = {0.0f, 2.0f, 10.0f};
    g_cam_ref_up = {0.0f, 1.0f, 0.0f};
    g_cam_fov = 45.0f;
    g_aspect = 640.0f / 480.0f;
    r_set_camera();
    EXPECT_EQ(rec_->count(REC_SET_TRANSFORM), 3u); // view, projection and world
    // m[0] = -cot(fov / 2) / aspect: the negated aspect mirrors the picture.
    expect_matrix_near(
        set_matrix(D3DTS_PROJECTION),
        {{-1.81066f, 0, 0, 0, 0, 2.4142134f, 0, 0, 0, 0, 1.00002f, 1, 0, 0, -0.100002f, 0}}, 1e-6f);
}

TEST_F(Renderer, BindingRules)
{
    ASSERT_EQ(tex_create(4, 4, "*five", 5), 5);
    const void* five = g_textures[5].texture;
    ASSERT_NE(missing(), nullptr);
    r_bind_texture(5, 0);
    r_bind_texture(-1, 0); // keeps slot 5's texture
    r_bind_texture(5, 1);
    r_bind_texture(5, 1); // no cache: set again
    r_bind_texture(9, 0); // empty slot
    r_bind_texture(-7, 1);
    r_bind_texture(TEXTURE_SLOT_COUNT, 1);
    std::vector<std::pair<DWORD, const void*>> binds;
    for (const RecordedCall* call : rec_->of(REC_SET_TEXTURE))
        binds.emplace_back(call->stage, call->object);
    EXPECT_EQ(
        binds,
        (std::vector<std::pair<DWORD, const void*>>{
            {0, five}, {1, five}, {1, five}, {0, missing()}, {1, missing()}, {1, missing()}}));

    // Without the missing-texture image an empty slot unbinds the stage.
    tex_free_all();
    rec_->clear();
    r_bind_texture(9, 0);
    ASSERT_EQ(rec_->count(REC_SET_TEXTURE), 1u);
    EXPECT_EQ(rec_->calls[0].object, nullptr);
}

TEST_F(Renderer, MeshesAreRolledPitchedYawedPlacedAndLeaveOutBadTriangles)
{
    r_draw_mesh(nullptr);
    MeshObject empty = {nullptr, {1, 2, 3}, 0.1f, 0.2f, 0.3f};
    r_draw_mesh(&empty);
    EXPECT_TRUE(rec_->calls.empty()); // no object or no mesh: no device call

    auto mesh = std::make_unique<Mesh>();
    mesh->vertex_count = 4;
    mesh->triangle_count = 2;
    std::vector<Vertex> corners = numbered_vertices(4);
    std::copy(corners.begin(), corners.end(), mesh->vertices);
    // Two triangles, then two with an index outside the vertices and a good one.
    const int32_t indices[15] = {0, 1, 2, 2, 3, 0, 2, 4, 0, 3, -1, 0, 1, 2, 3};
    std::copy(indices, indices + 15, mesh->indices);
    r_set_ortho(640, 480); // a world other than the identity
    const Matrix world = g_world;
    rec_->clear();
    MeshObject leaf = {mesh.get(), {3.0f, -2.0f, 7.5f}, 0.7f, -1.2f, 2.5f};
    r_draw_mesh(&leaf);
    // Placed, drawn (the caller binds the texture), then the world restored.
    ASSERT_EQ(kinds(), (Kinds{REC_SET_TRANSFORM, REC_SET_STREAM, REC_SET_SHADER, REC_DRAW,
                              REC_SET_TRANSFORM}));
    EXPECT_EQ(rec_->calls[0].type, D3DTS_WORLD);
    Matrix rotation, move, want;
    mat_multiply(&want, mat_rotation(&rotation, leaf.yaw, leaf.pitch, leaf.roll), &world);
    mat_multiply(&want, &want, mat_translation(&move, 3.0f, -2.0f, 7.5f));
    expect_matrix_near(rec_->calls[0].matrix, want);
    expect_matrix_near(rec_->calls[4].matrix, world);
    expect_matrix_near(g_world, world);
    EXPECT_EQ(rec_->calls[3].type, D3DPT_TRIANGLELIST);
    EXPECT_EQ(xs(rec_->calls[3]), (Floats{0, 1, 2, 2, 3, 0}));

    rec_->clear(); // triangles with an index outside the vertices are left out
    mesh->triangle_count = 5;
    r_draw_mesh(&leaf);
    EXPECT_EQ(xs(draw()), (Floats{0, 1, 2, 2, 3, 0, 1, 2, 3}));

    rec_->clear(); // counts past the arrays are held to them; nothing is read beyond
    mesh->vertex_count = 5000;
    mesh->triangle_count = 100000;
    for (int i = 0; i < MESH_MAX_INDICES; ++i)
        mesh->indices[i] = i % 4;
    r_draw_mesh(&leaf);
    EXPECT_EQ(draw().value, UINT(MESH_MAX_INDICES / 3));

    rec_->clear();
    mesh->triangle_count = -2;
    r_draw_mesh(&leaf);
    EXPECT_EQ(kinds(), (Kinds{REC_SET_TRANSFORM, REC_SET_TRANSFORM})); // placed, restored
}

} // namespace

// A device lost for good is replaced on another backend without the program
// noticing: the table's textures keep every level's texels, the states and
// transforms stay as set, and the renderer has a vertex buffer on the new
// device.
TEST_F(GfxTest, AMovedDeviceKeepsTexturesStatesAndTransforms)
{
    write_missing_texture();
    ASSERT_EQ(_r_init(), 1);
    int slot = tex_create_named(8, 8, "moved");
    ASSERT_GE(slot, 0);
    IDirect3DTexture8* old_texture = g_textures[slot].texture;
    ASSERT_GE(old_texture->GetLevelCount(), 2u);
    write_texel(old_texture, 0, 5, 6, 0xFF123456u);
    write_texel(old_texture, 1, 1, 2, 0xFF654321u);
    g_device->SetRenderState(D3DRS_FOGEND, 0x42C80000u);
    g_device->SetTextureStageState(1, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    Matrix world;
    g_device->SetTransform(D3DTS_WORLD, mat_translation(&world, 1.0f, 2.0f, 3.0f));
    IDirect3DDevice8* old_device = g_device;

    gfx_select_backend("ref");
    ASSERT_EQ(_gfx_move_device(64, 48, 0), 1);
    EXPECT_NE(g_device, old_device);
    IDirect3DTexture8* texture = g_textures[slot].texture;
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texel_at(texture, 0, 5, 6), 0xFF123456u);
    EXPECT_EQ(texel_at(texture, 1, 1, 2), 0xFF654321u);
    EXPECT_EQ(texture->GetLevelCount(), 4u); // 8, 4, 2 and 1 texels wide
    EXPECT_NE(g_textures[MISSING_TEXTURE_SLOT].texture, nullptr);
    DWORD value = 0;
    EXPECT_EQ(g_device->GetRenderState(D3DRS_FOGEND, &value), D3D_OK);
    EXPECT_EQ(value, 0x42C80000u);
    EXPECT_EQ(g_device->GetTextureStageState(1, D3DTSS_ADDRESSU, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DTADDRESS_CLAMP));
    Matrix kept;
    EXPECT_EQ(g_device->GetTransform(D3DTS_WORLD, &kept), D3D_OK);
    EXPECT_EQ(std::memcmp(&kept, &world, sizeof kept), 0);
    EXPECT_NE(g_vertex_buffer, nullptr);
    tex_free_all();
}
