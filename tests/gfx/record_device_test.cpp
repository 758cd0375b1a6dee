// The recording device: calls kept in order with their arguments and results,
// forwarded to the device underneath, and holding what it wraps.
#include "app/loop.h"
#include "gfx_test_util.h"

namespace
{

using Recorder = GfxTest;

TEST_F(Recorder, KeepsAFrameInOrderAndForwardsEveryCall)
{
    _r_init();
    SceneOps saved = g_scenes[0];
    g_scenes[0] = SceneOps{nullptr, nullptr, nullptr, nullptr, nullptr};
    rec_->clear();
    g_device->SetRenderState(D3DRS_FOGENABLE, 1);
    g_device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    render_frame();
    g_scenes[0] = saved;

    const RecordCallKind want[] = {REC_SET_RENDER_STATE, REC_SET_STAGE_STATE, REC_CLEAR,
                                   REC_BEGIN_SCENE,      REC_SET_TRANSFORM,   REC_SET_TRANSFORM,
                                   REC_SET_TRANSFORM,    REC_SET_TRANSFORM,   REC_SET_TRANSFORM,
                                   REC_SET_TRANSFORM,    REC_END_SCENE,       REC_PRESENT};
    ASSERT_EQ(rec_->calls.size(), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        EXPECT_EQ(rec_->calls[i].kind, want[i]) << i << ": " << record_describe(rec_->calls[i]);
        EXPECT_EQ(rec_->calls[i].result, D3D_OK) << record_describe(rec_->calls[i]);
    }
    EXPECT_EQ(record_describe(rec_->calls[0]), "SetRenderState(28, 1)");
    EXPECT_EQ(record_describe(rec_->calls[1]), "SetTextureStageState(1, 1, 5)");

    // The frame reached the software device underneath.
    int width = 0, height = 0;
    EXPECT_EQ(record_log(record_inner(g_device)), nullptr);
    const uint32_t* pixels = soft_device_pixels(record_inner(g_device), &width, &height);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels[0], 0xFF000000u | rec_->calls[2].value);

    rec_->clear(); // errors are kept as the device underneath answered them
    g_device->SetRenderState(D3DRENDERSTATETYPE(400), 1);
    EXPECT_EQ(rec_->calls[0].result, D3DERR_INVALIDCALL);
}

TEST_F(Recorder, BoundResourcesOutliveTheirOwnersRelease)
{
    IDirect3DTexture8* texture = nullptr;
    IDirect3DVertexBuffer8* buffer = nullptr;
    ASSERT_EQ(g_device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture),
              D3D_OK);
    ASSERT_EQ(g_device->CreateVertexBuffer(4 * 28, 0, VERTEX_FVF, D3DPOOL_DEFAULT, &buffer),
              D3D_OK);
    EXPECT_EQ(g_device->SetTexture(0, texture), D3D_OK);
    EXPECT_EQ(g_device->SetStreamSource(0, buffer, 28), D3D_OK);
    g_device->SetVertexShader(VERTEX_FVF);
    texture->Release();
    buffer->Release();
    rec_->clear();
    EXPECT_EQ(g_device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2), D3D_OK);
    EXPECT_EQ(rec_->calls[0].vertices.size(), 4u);
    // A draw past the buffer's end is recorded only as far as the buffer goes.
    g_device->DrawPrimitive(D3DPT_TRIANGLELIST, 2, 5);
    EXPECT_EQ(rec_->calls[1].vertices.size(), 2u);
}

} // namespace
