// Device set-up: the back-buffer format ladder with its log lines, the early
// failures, and the aspect ratio rules.
#include "gfx/gfx_test_util.h"

namespace {

struct Ladder : public ::testing::Test {
    void SetUp() override
    {
        soft_config_reset();
        scratch = std::make_unique<ScratchDir>();
        ASSERT_EQ(sys_init(true), 1);
        ASSERT_NE(create_main_window(320, 400, nullptr, false), nullptr);
        log_open();
        g_gfx_ready = 0;
    }
    void TearDown() override
    {
        _gfx_deinit();
        g_gfx_ready = 0;
        log_close();
        sys_shutdown();
        soft_config_reset();
        scratch.reset();
    }
    std::unique_ptr<ScratchDir> scratch;
};

TEST_F(Ladder, FirstAttemptLogsTryAndDone)
{
    ASSERT_EQ(_gfx_init(640, 480, 0), 1);
    log_close();
    EXPECT_EQ(log_lines(), (std::vector<std::string>{"trying 640 x 480 x 32", "done ...",
                                                     "_gfx_init() is done"}));
    EXPECT_FLOAT_EQ(g_aspect, 640.0f / 480.0f);
    EXPECT_EQ(g_gfx_ready, 1);
}

TEST_F(Ladder, SixteenBitOnlyHardwareWalksDownTheLadder)
{
    soft_config().refused_format[D3DFMT_X8R8G8B8] = true;
    soft_config().refused_format[D3DFMT_R8G8B8] = true;
    ASSERT_EQ(_gfx_init(800, 600, 1), 1);
    log_close();
    EXPECT_EQ(log_lines(), (std::vector<std::string>{
                               "trying 800 x 600 x 32", "failed ... trying 800 x 600 x 24",
                               "failed ... trying 800 x 600 x 16", "done ...",
                               "_gfx_init() is done"}));
    // The device runs: a 16-bit frame keeps 5 bits of red.
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0F0F0F, 1.0f, 0);
    g_device->Present(nullptr, nullptr, nullptr, nullptr);
    int w = 0, h = 0;
    const uint32_t* pixels = soft_device_pixels(g_device, &w, &h);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels[0] & 0xFF0000u, 0x080000u);
}

TEST_F(Ladder, SoftwareVertexProcessingIsTheSecondChance)
{
    soft_config().refuse_hardware_vp = true;
    ASSERT_EQ(_gfx_init(640, 480, 0), 1);
    log_close();
    EXPECT_EQ(log_lines().size(), 3u); // no "failed" line between the two 32-bit tries
}

TEST_F(Ladder, FailuresAreLoggedAndReported)
{
    soft_config().refused_format[D3DFMT_X8R8G8B8] = true;
    soft_config().refused_format[D3DFMT_R5G6B5] = true;
    EXPECT_EQ(_gfx_init(640, 480, 0), 0);
    EXPECT_EQ(g_gfx_ready, 0);
    log_close();
    EXPECT_EQ(log_lines(), (std::vector<std::string>{
                               "trying 640 x 480 x 32", "failed ... trying 640 x 480 x 24",
                               "failed ... trying 640 x 480 x 16", "failed ..."}));
}

TEST_F(Ladder, NoDirect3DOrNoDisplayModeEndsEarly)
{
    soft_config().fail_create = true;
    EXPECT_EQ(_gfx_init(640, 480, 0), 0);
    soft_config().fail_create = false;
    soft_config().fail_display_mode = true;
    EXPECT_EQ(_gfx_init(640, 480, 0), 0);
    log_close();
    EXPECT_EQ(log_lines(), (std::vector<std::string>{"failed to create direct 3d object",
                                                     "failed to retrieve current display mode"}));
}

TEST_F(Ladder, AspectClampsOnlyWindowedAndResizesAlwaysClamp)
{
    EXPECT_EQ(_gfx_resize(100, 10, 0), 0); // before the device: ignored
    ASSERT_EQ(_gfx_init(320, 400, 0), 1);
    EXPECT_FLOAT_EQ(g_aspect, 1.0f);
    _gfx_deinit();
    g_gfx_ready = 0;
    ASSERT_EQ(_gfx_init(320, 400, 1), 1);
    EXPECT_FLOAT_EQ(g_aspect, 0.8f);
    EXPECT_EQ(_gfx_resize(320, 400, 0), 1);
    EXPECT_FLOAT_EQ(g_aspect, 1.0f);
    EXPECT_EQ(_gfx_resize(0, 0, 0), 1); // minimised: height counts as 1
    EXPECT_FLOAT_EQ(g_aspect, 1.0f);
}

} // namespace
