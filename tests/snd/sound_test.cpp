// The sound manager: the slot table, WAV loading from disk, and plays.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "res/files.h"
#include "snd/dsound.h"
#include "snd/sound.h"
#include "snd/wav_bytes.h"
#include "test_util.h"

namespace
{

class SoundTable : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        mf_set_search_dirs(nullptr, 0);
        std::filesystem::create_directories("sound");
        ASSERT_EQ(snd_init_null_output(), 1);
    }
    void TearDown() override { snd_deinit(); }

    // A short 16-bit mono sound at `path`.
    void write_sound(const std::string& path, int frames = 480, uint32_t rate = 48000)
    {
        WavFields fields;
        fields.rate = rate;
        ASSERT_TRUE(
            write_bytes(path, make_wav(fields, pcm16(std::vector<float>(size_t(frames), 0.1f)))));
    }

    std::vector<uint8_t> buffer_bytes(int slot)
    {
        void* bytes = nullptr;
        DWORD length = 0;
        g_sounds[slot].buffer->Lock(0, 0, &bytes, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER);
        std::vector<uint8_t> copy(static_cast<uint8_t*>(bytes),
                                  static_cast<uint8_t*>(bytes) + length);
        g_sounds[slot].buffer->Unlock(bytes, length, nullptr, 0);
        return copy;
    }

    bool table_is_empty()
    {
        for (const SoundSlot& slot : g_sounds) {
            if (slot.buffer || slot.name[0])
                return false;
        }
        return true;
    }

    ScratchDir scratch_;
};

TEST_F(SoundTable, SlotsAreHandedOutFromTheTopAndFoundAgainInAnyCase)
{
    write_sound("sound/rain.wav");
    write_sound("sound/thunder1.wav");
    EXPECT_EQ(snd_get("sound/rain.wav"), 2047);
    EXPECT_EQ(snd_get("sound/thunder1.wav"), 2046);
    EXPECT_STREQ(g_sounds[2047].name, "sound/rain.wav"); // as asked, slashes kept

    // Found by name, not loaded again: the file is gone by now.
    std::filesystem::remove("sound/rain.wav");
    EXPECT_EQ(snd_get("SOUND/Rain.WAV"), 2047);
    EXPECT_EQ(snd_find("sound/RAIN.wav"), 2047);
    EXPECT_EQ(snd_find("sound/rain"), -1);
    EXPECT_EQ(snd_find(""), -1);
    EXPECT_EQ(ds_buffers_alive(), 2);

    // A freed slot is the next one used.
    snd_free(2047);
    EXPECT_EQ(g_sounds[2047].name[0], '\0');
    EXPECT_EQ(snd_get("sound/thunder1.wav"), 2046);
    write_sound("sound/bgthunder.wav");
    EXPECT_EQ(snd_get("sound/bgthunder.wav"), 2047);
}

TEST_F(SoundTable, AThousandByteWavGivesExactlyThoseThousandBytes)
{
    std::vector<uint8_t> samples(1000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = uint8_t(i * 7 + 3);
    WavFields fields;
    fields.bits = 8;
    fields.rate = 11025;
    ASSERT_TRUE(write_bytes("sound/clip.wav", make_wav(fields, samples)));
    int slot = snd_get("sound/clip.wav");
    ASSERT_EQ(slot, 2047);
    EXPECT_EQ(buffer_bytes(slot), samples);
}

TEST_F(SoundTable, AFileShorterThanItsDataLeavesTheRestSilent)
{
    WavFields fields;
    fields.bits = 8;
    fields.declared_length = 1000;
    ASSERT_TRUE(write_bytes("sound/short8.wav", make_wav(fields, std::vector<uint8_t>(400, 0xF0))));
    int slot = snd_get("sound/short8.wav");
    ASSERT_NE(slot, -1);
    std::vector<uint8_t> bytes = buffer_bytes(slot);
    ASSERT_EQ(bytes.size(), 1000u);
    for (size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], i < 400 ? 0xF0 : 0x80) << "byte " << i; // 8-bit silence is 128

    fields.bits = 16;
    fields.declared_length = 1000;
    ASSERT_TRUE(write_bytes("sound/short16.wav", make_wav(fields, std::vector<uint8_t>(10, 0x55))));
    slot = snd_get("sound/short16.wav");
    ASSERT_NE(slot, -1);
    bytes = buffer_bytes(slot);
    ASSERT_EQ(bytes.size(), 1000u);
    for (size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], i < 10 ? 0x55 : 0x00) << "byte " << i;
}

TEST_F(SoundTable, CorruptFilesLoadAsNothing)
{
    std::vector<uint8_t> samples(200, 0x40);
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    };
    std::vector<Case> cases;
    auto add = [&](const char* what, auto change) {
        WavFields fields;
        change(fields);
        cases.push_back({what, make_wav(fields, samples)});
    };
    add("float format", [](WavFields& s) { s.format_tag = 3; });
    add("five channels", [](WavFields& s) { s.channels = 5; });
    add("12-bit", [](WavFields& s) { s.bits = 12; });
    add("block align", [](WavFields& s) { s.block_align = 4; });
    add("bytes a second", [](WavFields& s) { s.bytes_per_second = 12345; });
    add("no data", [](WavFields& s) { s.declared_length = 0; });
    add("rate zero", [](WavFields& s) { s.rate = 0; });
    std::vector<uint8_t> header = make_wav(WavFields{}, samples);
    cases.push_back(
        {"cut inside the header", std::vector<uint8_t>(header.begin(), header.begin() + 30)});
    cases.push_back({"empty file", {}});

    for (const Case& c : cases) {
        ASSERT_TRUE(write_bytes("sound/bad.wav", c.file));
        EXPECT_EQ(snd_load("sound/bad.wav", 100), -1) << c.what;
        EXPECT_EQ(snd_get("sound/bad.wav"), -1) << c.what;
        EXPECT_TRUE(table_is_empty()) << c.what;
    }
    EXPECT_EQ(snd_get("sound/missing.wav"), -1);
    EXPECT_EQ(snd_load("sound/bad.wav", -1), -1);
    EXPECT_EQ(snd_load("sound/bad.wav", SOUND_SLOTS), -1);
    EXPECT_EQ(ds_buffers_alive(), 0);
}

TEST_F(SoundTable, OneShotPlaysOverlapAndLoopsUseTheSlotsOwnBuffer)
{
    write_sound("sound/thunder2.wav", 4800);
    write_sound("sound/rain.wav", 4800, 22050);
    int thunder = snd_get("sound/thunder2.wav");
    int rain = snd_get("sound/rain.wav");

    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(snd_play(thunder, 0, 0, -3000, 0), DS_OK);
    EXPECT_EQ(ds_buffers_playing(), 3);
    DWORD status = 1;
    g_sounds[thunder].buffer->GetStatus(&status);
    EXPECT_EQ(status, 0u);

    EXPECT_EQ(snd_play(rain, DSBPLAY_LOOPING, -500, 700, 0), DS_OK);
    EXPECT_EQ(ds_buffers_playing(), 4);
    IDirectSoundBuffer8* own = g_sounds[rain].buffer;
    LONG volume = 0, pan = 0;
    DWORD frequency = 0;
    own->GetStatus(&status);
    own->GetVolume(&volume);
    own->GetPan(&pan);
    own->GetFrequency(&frequency);
    EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
    EXPECT_EQ(volume, -500);
    EXPECT_EQ(pan, 700);
    EXPECT_EQ(frequency, 22050u);
}

TEST_F(SoundTable, PlaysOfNothingDoNothing)
{
    write_sound("sound/rain.wav");
    snd_get("sound/rain.wav");
    EXPECT_LT(snd_play(-1, 0, 0, 0, 0), 0);
    EXPECT_LT(snd_play(SOUND_SLOTS, 0, 0, 0, 0), 0);
    EXPECT_LT(snd_play(5, DSBPLAY_LOOPING, 0, 0, 0), 0);
    EXPECT_EQ(ds_buffers_playing(), 0);
    EXPECT_EQ(ds_buffers_alive(), 1);
}

TEST_F(SoundTable, DeinitReleasesEveryBufferAndTheObject)
{
    write_sound("sound/rain.wav");
    write_sound("sound/thunder3.wav");
    int rain = snd_get("sound/rain.wav");
    int thunder = snd_get("sound/thunder3.wav");
    snd_play(rain, DSBPLAY_LOOPING, -500, 0, 0);
    snd_play(thunder, 0, 0, 4000, 0);
    snd_play(thunder, 0, 0, -4000, 0);
    EXPECT_EQ(ds_buffers_alive(), 4);
    snd_deinit();
    EXPECT_EQ(g_dsound, nullptr);
    EXPECT_EQ(ds_buffers_alive(), 0);
    EXPECT_TRUE(table_is_empty());
    snd_deinit(); // twice is harmless

    // Silent from here on: loads fail without touching the table.
    write_sound("sound/other.wav");
    EXPECT_EQ(snd_get("sound/other.wav"), -1);
    EXPECT_LT(snd_play(rain, 0, 0, 0, 0), 0);
    EXPECT_TRUE(table_is_empty());
}

// A headless run (or a machine without audio) has no sound object: the
// program runs on with every sound missing.
TEST(SoundSilent, WithoutAnOutputEverySoundIsMissing)
{
    ScratchDir scratch;
    mf_set_search_dirs(nullptr, 0);
    ASSERT_EQ(sys_init(true), 1);
    EXPECT_EQ(snd_init(nullptr), 0);
    EXPECT_EQ(g_dsound, nullptr);
    std::filesystem::create_directories("sound");
    WavFields fields;
    ASSERT_TRUE(write_bytes("sound/rain.wav", make_wav(fields, std::vector<uint8_t>(100))));
    EXPECT_EQ(snd_get("sound/rain.wav"), -1);
    EXPECT_LT(snd_play(2047, DSBPLAY_LOOPING, -500, 0, 0), 0);
    snd_deinit();
    sys_shutdown();
}

} // namespace
