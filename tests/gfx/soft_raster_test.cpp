// The software devices on the frames of known pixels: the reference device
// must draw them exactly as expected, and the tiled device, with one thread
// and with small tiles and several threads (so every triangle crosses tile
// edges), exactly as the reference does.
#include "gfx/soft/soft_device.h"
#include "reference_scenes.h"

namespace
{

class SoftRaster : public ::testing::TestWithParam<FrameScene>
{
  protected:
    void TearDown() override { soft_config_reset(); }
};

Frame render(IDirect3D8* d3d, const FrameScene& scene)
{
    Frame frame = render_frame(d3d, SCENE_W, SCENE_H, scene.draw, scene.clear);
    d3d->Release();
    for (uint32_t& pixel : frame)
        pixel &= 0xFFFFFFu;
    return frame;
}

TEST_P(SoftRaster, TheReferenceDrawsItExactlyAndTheTiledDeviceAlike)
{
    soft_config_reset();
    const Frame reference = render(soft_create_reference_direct3d(), GetParam());
    ASSERT_EQ(reference.size(), size_t(SCENE_W * SCENE_H));
    GetParam().check(reference);
    for (auto [threads, tile_size] : {std::pair{1, 64}, {3, 16}}) {
        soft_config().threads = threads;
        soft_config().tile_size = tile_size;
        EXPECT_EQ(render(soft_create_direct3d(), GetParam()), reference)
            << threads << " threads, tiles of " << tile_size;
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, SoftRaster, ::testing::ValuesIn(REFERENCE_SCENES),
                         [](const ::testing::TestParamInfo<FrameScene>& info) {
                             return std::string(info.param.name);
                         });

// A draw of far more triangles than the buffer holds draws only the whole
// ones it does hold; one starting past its end is refused.
TEST(SoftRasterDraws, StopAtTheEndOfTheVertexBuffer)
{
    for (IDirect3D8* d3d : {soft_create_reference_direct3d(), soft_create_direct3d()}) {
        std::vector<uint32_t> lit;
        for (bool overrun : {false, true}) {
            Canvas c(d3d, SCENE_W, SCENE_H);
            c.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
            flat_2d(c, 0xFFFFFFFF);
            c.draw(D3DPT_TRIANGLELIST, {at(0, 0), at(0, 8), at(8, 0)},
                   overrun ? int(c.capacity) : 1);
            const Frame f = c.back_buffer();
            lit.push_back(uint32_t(count_2d(f, WHITE, 0, 0, SCENE_W, SCENE_H)));
            if (overrun) {
                EXPECT_EQ(c.device->DrawPrimitive(D3DPT_TRIANGLEFAN, c.capacity + 1, 2),
                          D3DERR_INVALIDCALL);
            }
        }
        EXPECT_GT(lit[0], 20u);
        EXPECT_EQ(lit[1], lit[0]);
        d3d->Release();
    }
}

} // namespace
