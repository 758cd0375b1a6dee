// Device set-up: the back-buffer format ladder with its log lines, the early
// failures, the aspect ratio rules, and memory that cannot be had.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

#include "gfx/gfx_test_util.h"

namespace
{

using Lines = std::vector<std::string>;

// GfxTest's recording device is dropped first: these tests make their own.
class Ladder : public GfxTest
{
  protected:
    void SetUp() override
    {
        GfxTest::SetUp();
        reset();
    }
    void reset()
    {
        _gfx_deinit();
        g_gfx_ready = 0;
        soft_config_reset();
    }
    // Initialises a windowed device, on a Direct3D object with `faults`, and
    // returns what it logged.
    Lines init(int width, int height, const RecordSetupFaults& faults = {})
    {
        record_install(faults);
        log_open();
        result = _gfx_init(width, height, 0);
        log_close();
        record_uninstall();
        EXPECT_EQ(g_gfx_ready, result);
        return log_lines();
    }
    int result = -1;
};

TEST_F(Ladder, WalksDownTheFormatsLoggingEachTryAndFailure)
{
    EXPECT_EQ(init(640, 480), (Lines{"trying 640 x 480 x 32", "done ...", "_gfx_init() is done"}));
    EXPECT_EQ(result, 1);
    EXPECT_FLOAT_EQ(g_aspect, 640.0f / 480.0f);

    reset(); // software vertex processing is the second chance at 32 bits: no "failed" line
    EXPECT_EQ(init(640, 480, {.refuse_hardware_vp = true}).size(), 3u);
    EXPECT_EQ(result, 1);

    reset();
    soft_config().refused_format[D3DFMT_X8R8G8B8] = true;
    soft_config().refused_format[D3DFMT_R8G8B8] = true;
    EXPECT_EQ(init(800, 600),
              (Lines{"trying 800 x 600 x 32", "failed ... trying 800 x 600 x 24",
                     "failed ... trying 800 x 600 x 16", "done ...", "_gfx_init() is done"}));
    ASSERT_EQ(result, 1); // the 16-bit frame keeps 5 bits of red
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0F0F0F, 1.0f, 0);
    g_device->Present(nullptr, nullptr, nullptr, nullptr);
    int w = 0, h = 0;
    const uint32_t* pixels = soft_device_pixels(record_inner(g_device), &w, &h);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels[0] & 0xFF0000u, 0x080000u);

    reset(); // failures are logged and reported
    soft_config().refused_format[D3DFMT_X8R8G8B8] = true;
    soft_config().refused_format[D3DFMT_R5G6B5] = true;
    EXPECT_EQ(init(640, 480), (Lines{"trying 640 x 480 x 32", "failed ... trying 640 x 480 x 24",
                                     "failed ... trying 640 x 480 x 16", "failed ..."}));
    EXPECT_EQ(result, 0);
    reset();
    EXPECT_EQ(init(640, 480, {.no_object = true}), Lines{"failed to create direct 3d object"});
    EXPECT_EQ(result, 0);
    reset();
    EXPECT_EQ(init(640, 480, {.fail_display_mode = true}),
              Lines{"failed to retrieve current display mode"});
    EXPECT_EQ(result, 0);
}

TEST_F(Ladder, AspectClampsOnlyWindowedAndResizesAlwaysClamp)
{
    EXPECT_EQ(_gfx_resize(100, 10, 0), 0); // before the device: ignored
    ASSERT_EQ(_gfx_init(320, 400, 0), 1);
    EXPECT_FLOAT_EQ(g_aspect, 1.0f);
    reset();
    ASSERT_EQ(_gfx_init(320, 400, 1), 1);
    EXPECT_FLOAT_EQ(g_aspect, 0.8f);
    EXPECT_EQ(_gfx_resize(320, 400, 0), 1);
    EXPECT_FLOAT_EQ(g_aspect, 1.0f);
    EXPECT_EQ(_gfx_resize(0, 0, 0), 1); // minimised: height counts as 1
    EXPECT_FLOAT_EQ(g_aspect, 1.0f);
}

using SoftMemory = GfxTest;

// In a child whose address space ends 32 MiB above what it uses: a vertex
// buffer of 200 MiB (within the device's bound) cannot be had. 0 when the
// device says so.
[[maybe_unused]] int create_beyond_the_address_space()
{
    unsigned long pages = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm || std::fscanf(statm, "%lu", &pages) != 1)
        return 2;
    std::fclose(statm);
    rlimit limit = {rlim_t(pages) * 4096 + (32u << 20), RLIM_INFINITY};
    if (setrlimit(RLIMIT_AS, &limit) != 0)
        return 2;
    IDirect3DVertexBuffer8* buffer = nullptr;
    HRESULT hr = g_device->CreateVertexBuffer(200u << 20, 0, VERTEX_FVF, D3DPOOL_DEFAULT, &buffer);
    return hr == E_OUTOFMEMORY && !buffer ? 0 : 1;
}

TEST_F(SoftMemory, AVertexBufferThatCannotBeAllocatedIsOutOfMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory needs the address space this limits";
#else
    EXPECT_EXIT(std::_Exit(create_beyond_the_address_space()), ::testing::ExitedWithCode(0), "");
#endif
}

} // namespace
