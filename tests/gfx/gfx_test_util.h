// Graphics test set-up (a software device behind the recorder, in a scratch
// directory with the debug log open) and TGA, texel and log helpers.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../test_util.h"
#include "base/log.h"
#include "gfx/backend.h"
#include "gfx/device.h"
#include "gfx/renderer.h"
#include "gfx/soft/soft_device.h"
#include "gfx/texture.h"
#include "platform/sys.h"
#include "support/record_device.h"

// Writes a 32-bit top-row-first TGA whose pixel (x, y) is the A8R8G8B8 word
// texel(x, y); creates the directories on the way.
inline void write_tga(const std::string& path, int width, int height,
                      const std::function<uint32_t(int, int)>& texel)
{
    std::filesystem::path file(path);
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path());
    std::vector<uint8_t> bytes = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0}; // uncompressed true colour
    for (int side : {width, height})
        bytes.insert(bytes.end(), {uint8_t(side), uint8_t(side >> 8)});
    bytes.insert(bytes.end(), {32, 0x28}); // 32 bits, top row first
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int i = 0; i < 4; ++i)
                bytes.push_back(uint8_t(texel(x, y) >> (8 * i)));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A recognisable texel for position (x, y): every channel differs.
inline uint32_t pattern_texel(int x, int y)
{
    return 0x80000000u | uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 |
           uint32_t((x * 7 + y * 13) & 0xFF);
}

// The debug log's lines without the " - " prefix.
inline std::vector<std::string> log_lines()
{
    std::ifstream in("debug.log");
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line.rfind(" - ", 0) == 0 ? line.substr(3) : line);
    return lines;
}

// Reads texel (x, y) of a texture level; 0xDEADBEEF when it cannot be locked.
inline uint32_t texel_at(IDirect3DTexture8* texture, UINT level, int x, int y)
{
    D3DLOCKED_RECT lock;
    if (FAILED(texture->LockRect(level, &lock, nullptr, D3DLOCK_READONLY)))
        return 0xDEADBEEFu;
    uint32_t v = *reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(lock.pBits) +
                                                    y * lock.Pitch + x * 4);
    texture->UnlockRect(level);
    return v;
}

inline void write_texel(IDirect3DTexture8* texture, UINT level, int x, int y, uint32_t v)
{
    D3DLOCKED_RECT lock;
    ASSERT_EQ(texture->LockRect(level, &lock, nullptr, 0), D3D_OK);
    *reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lock.pBits) + y * lock.Pitch + x * 4) = v;
    texture->UnlockRect(level);
}

// Device up, renderer not (tests call _r_init when they need it); the log and
// the call stream start empty. The device is the default software one unless
// a test picks another backend or settings in configure().
class GfxTest : public ::testing::Test
{
  protected:
    virtual void configure() {}

    void SetUp() override
    {
        soft_config_reset();
        gfx_select_backend("soft");
        configure();
        scratch_ = std::make_unique<ScratchDir>();
        ASSERT_EQ(sys_init(true), 1);
        g_hwnd = sys_create_window("test", 64, 48, false);
        ASSERT_NE(g_hwnd, nullptr);
        record_install();
        bool created = _gfx_init(64, 48, 0) == 1;
        record_uninstall();
        ASSERT_TRUE(created);
        rec_ = record_log(g_device);
        ASSERT_NE(rec_, nullptr);
        rec_->clear();
        log_open(); // after the device, so the log holds only what the test does
    }

    void TearDown() override
    {
        _r_deinit();
        _gfx_deinit();
        g_gfx_ready = 0;
        sys_shutdown();
        log_close();
        soft_config_reset();
        gfx_select_backend("soft");
        scratch_.reset();
    }

    // The missing-texture image, so that _r_init fills slot 2047.
    void write_missing_texture() { write_tga("textures/common/notfound.tga", 2, 2, pattern_texel); }

    std::unique_ptr<ScratchDir> scratch_;
    RecordLog* rec_ = nullptr;
};
