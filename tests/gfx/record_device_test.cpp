// The recording device: calls kept in order with their arguments and results,
// forwarded to the device underneath, and holding what it wraps.
#include <tuple>

#include "gfx_test_util.h"

namespace
{

using Recorder = GfxTest;

TEST_F(Recorder, KeepsCallsInOrderWithTheirResultsAndForwardsEveryCall)
{
    g_device->SetRenderState(D3DRS_FOGENABLE, 1);
    g_device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    g_device->SetRenderState(D3DRENDERSTATETYPE(400), 1);
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456, 1.0f, 0);
    g_device->Present(nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(rec_->calls.size(), 5u);
    const RecordedCall& stage = rec_->calls[1];
    EXPECT_EQ(rec_->calls[0].type, DWORD(D3DRS_FOGENABLE));
    EXPECT_EQ(std::make_tuple(stage.kind, stage.stage, stage.type, stage.value, stage.result),
              std::make_tuple(REC_SET_STAGE_STATE, DWORD(1), DWORD(D3DTSS_COLOROP),
                              DWORD(D3DTOP_MODULATE2X), D3D_OK));
    // Errors are kept as the device underneath answered them.
    EXPECT_EQ(rec_->calls[2].result, D3DERR_INVALIDCALL);
    EXPECT_EQ(rec_->calls[4].kind, REC_PRESENT);

    // The frame reached the software device underneath.
    int width = 0, height = 0;
    EXPECT_EQ(record_log(record_inner(g_device)), nullptr);
    const uint32_t* pixels = soft_device_pixels(record_inner(g_device), &width, &height);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels[0], 0xFF123456u);
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
    // A draw past the buffer's end is recorded only as far as whole
    // primitives in the buffer go.
    g_device->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 5);
    EXPECT_EQ(rec_->calls[1].vertices.size(), 3u);
}

} // namespace
