// The sound manager: the slot table, WAV loading from disk, and plays.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "res/files.h"
#include "snd/dsound.h"
#include "snd/snd_test_util.h"
#include "snd/sound.h"
#include "test_util.h"

namespace
{

bool table_is_empty()
{
    for (const SoundSlot& slot : g_sounds)
        if (slot.buffer || slot.name[0])
            return false;
    return true;
}

class SoundTable : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        mf_set_search_dirs(nullptr, 0);
        ASSERT_EQ(snd_init_null_output(), 1);
    }
    void TearDown() override { snd_deinit(); }

    // A 16-bit mono sound, or `samples` in `format`.
    void write(const std::string& path, WAVEFORMATEX format = pcm(1, 48000, 16),
               const std::vector<uint8_t>& samples = std::vector<uint8_t>(960), int64_t length = -1)
    {
        write_bytes(path, make_wav(format, samples, length));
    }

    ScratchDir scratch_;
};

TEST_F(SoundTable, SlotsAreHandedOutFromTheTopAndFoundAgainInAnyCase)
{
    write("sound/rain.wav");
    write("sound/Thunder1.wav");
    EXPECT_EQ(snd_get("sound/rain.wav"), 2047);
    EXPECT_EQ(snd_get("sound/Thunder1.wav"), 2046);
    // Found by name in any case, not loaded again: the files are gone by now.
    std::filesystem::remove_all("sound");
    EXPECT_EQ(snd_get("SOUND/Rain.WAV"), 2047);
    EXPECT_EQ(snd_find("sound/THUNDER1.wav"), 2046);
    EXPECT_EQ(snd_find("sound/rain"), -1);
    EXPECT_EQ(snd_find(""), -1);
    EXPECT_EQ(ds_buffers_alive(), 2);
    // A freed slot is the next one used.
    snd_free(2047);
    write("sound/bgthunder.wav");
    EXPECT_EQ(snd_get("sound/bgthunder.wav"), 2047);
}

TEST_F(SoundTable, TheDataIsCopiedAndWhatTheFileLacksIsSilent)
{
    std::vector<uint8_t> clip(1000);
    for (size_t i = 0; i < clip.size(); ++i)
        clip[i] = uint8_t(i * 7 + 3);
    write("sound/clip.wav", pcm(1, 11025, 8), clip);
    ASSERT_EQ(snd_get("sound/clip.wav"), 2047);
    EXPECT_EQ(buffer_bytes(g_sounds[2047].buffer), clip);

    // A data length beyond the file: 8-bit silence is 0x80, 16-bit 0.
    for (uint16_t bits : {8, 16}) {
        std::string name = "sound/short" + std::to_string(bits) + ".wav";
        write(name, pcm(1, 48000, bits), std::vector<uint8_t>(400, 0x55), 1000);
        int slot = snd_get(name.c_str());
        ASSERT_NE(slot, -1);
        std::vector<uint8_t> bytes = buffer_bytes(g_sounds[slot].buffer);
        ASSERT_EQ(bytes.size(), 1000u);
        for (size_t i = 0; i < bytes.size(); ++i)
            ASSERT_EQ(bytes[i], i < 400 ? 0x55 : bits == 8 ? 0x80 : 0) << bits << " " << i;
    }
}

TEST_F(SoundTable, CorruptFilesLoadAsNothing)
{
    std::vector<uint8_t> samples(200);
    WAVEFORMATEX floats = pcm(1, 48000, 16);
    floats.wFormatTag = 3; // the object's own checks are tested with it
    std::vector<uint8_t> good = make_wav(pcm(1, 48000, 16), samples);
    const std::vector<uint8_t> files[] = {
        make_wav(floats, samples),
        make_wav(pcm(1, 48000, 16), samples, 0),               // no data
        std::vector<uint8_t>(good.begin(), good.begin() + 30), // cut inside the header
        {},
    };
    for (const std::vector<uint8_t>& file : files) {
        write_bytes("sound/bad.wav", file);
        EXPECT_EQ(snd_get("sound/bad.wav"), -1) << file.size();
        EXPECT_TRUE(table_is_empty());
    }
    EXPECT_EQ(snd_get("sound/missing.wav"), -1);
    EXPECT_EQ(snd_load("sound/bad.wav", SOUND_SLOTS), -1);
    EXPECT_EQ(ds_buffers_alive(), 0);
}

TEST_F(SoundTable, OneShotsOverlapLoopsUseTheSlotAndDeinitTakesAll)
{
    write("sound/thunder2.wav");
    write("sound/rain.wav", pcm(1, 22050, 16));
    int thunder = snd_get("sound/thunder2.wav");
    int rain = snd_get("sound/rain.wav");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(snd_play(thunder, 0, 0, -3000, 0), DS_OK);
    EXPECT_EQ(snd_play(rain, DSBPLAY_LOOPING, -500, 700, 0), DS_OK);
    EXPECT_EQ(ds_buffers_playing(), 4);
    EXPECT_EQ(ds_buffers_alive(), 5);
    DWORD status = 0;
    g_sounds[rain].buffer->GetStatus(&status);
    EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
    EXPECT_LT(snd_play(-1, 0, 0, 0, 0), 0);
    EXPECT_LT(snd_play(5, DSBPLAY_LOOPING, 0, 0, 0), 0);

    snd_deinit();
    EXPECT_EQ(g_dsound, nullptr);
    EXPECT_EQ(ds_buffers_alive(), 0);
    EXPECT_TRUE(table_is_empty());
}

// A headless run has no audio device and so no sound object: every sound is
// missing, nothing fails.
TEST(SoundSilent, WithoutAnOutputEverySoundIsMissing)
{
    ScratchDir scratch;
    mf_set_search_dirs(nullptr, 0);
    EXPECT_EQ(snd_init(nullptr), 0);
    EXPECT_EQ(g_dsound, nullptr);
    write_bytes("sound/rain.wav", make_wav(pcm(1, 48000, 16), std::vector<uint8_t>(100)));
    EXPECT_EQ(snd_get("sound/rain.wav"), -1);
    EXPECT_LT(snd_play(2047, DSBPLAY_LOOPING, -500, 0, 0), 0);
    snd_deinit();
}

} // namespace
