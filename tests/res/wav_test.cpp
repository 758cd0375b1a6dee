// The canonical WAV layout: every field where the sound loader reads it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "res/files.h"
#include "res/res_test_util.h"
#include "res/wav.h"

namespace
{

// Three stereo frames at 44.1 kHz.
Bytes stereo_three_frames()
{
    const int16_t samples[] = {1, -2, 300, -300, 32767, -32768};
    MemFile* f = wav_encode_pcm16(samples, 3, 2, 44100);
    Bytes b = f ? Bytes(f->data, f->data + f->size) : Bytes();
    mf_close(f);
    return b;
}

TEST(WavTest, EncodesEveryFieldAtItsFixedOffset)
{
    // RIFF size 48; fmt: 16 bytes, PCM, 2 channels, 44100 Hz, 176400 bytes/s, align 4, 16 bits.
    const std::string expected("RIFF\x30\0\0\0WAVEfmt \x10\0\0\0\1\0\2\0\x44\xAC\0\0\x10\xB1\2\0"
                               "\4\0\x10\0data\x0C\0\0\0\1\0\xFE\xFF\x2C\1\xD4\xFE\xFF\x7F\0\x80",
                               56);
    Bytes bytes = stereo_three_frames();
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
    MemFile* f = mf_open_memory(bytes.data(), int32_t(bytes.size()));
    EXPECT_EQ(wav_is_canonical(f), 1);
    WavHeader h;
    ASSERT_EQ(wav_read_header(f, &h), 1);
    EXPECT_EQ(h.format.channels, 2);
    EXPECT_EQ(h.format.samples_per_sec, 44100u);
    EXPECT_EQ(h.data_length, 12);
    EXPECT_EQ(f->pos, WAV_DATA_OFFSET);
    mf_close(f);

    // Samples cut short: the header still reads, but a copy must stop at the end.
    f = mf_open_memory(bytes.data(), 50);
    ASSERT_EQ(wav_read_header(f, &h), 1);
    EXPECT_EQ(h.data_length, 12);
    EXPECT_EQ(h.data_available, 6);
    EXPECT_EQ(wav_is_canonical(f), 0);
    mf_close(f);
    f = mf_open_memory(bytes.data(), 43);
    EXPECT_EQ(wav_read_header(f, &h), 0);
    EXPECT_EQ(h.data_length, 0);
    mf_close(f);
}

TEST(WavTest, DamagedOrForeignLayoutsAreNotCanonical)
{
    const Bytes good = stereo_three_frames();
    struct Case {
        size_t at;
        const char* bytes;
        const char* what;
    } cases[] = {
        {16, "\x12", "a longer fmt chunk moves every later field"},
        {32, "\x02", "block align that does not match two 16-bit channels"},
        {20, "\x03", "IEEE float, not PCM"},
        {40, "\x0B", "half a frame"},
        {36, "LIST", "another chunk before the data"},
    };
    for (const Case& c : cases) {
        Bytes b = good;
        std::memcpy(&b[c.at], c.bytes, std::strlen(c.bytes));
        MemFile* f = mf_open_memory(b.data(), int32_t(b.size()));
        EXPECT_EQ(wav_is_canonical(f), 0) << c.what;
        mf_close(f);
    }
}

TEST(WavTest, EncoderRefusesWhatTheLayoutCannotSay)
{
    const int16_t s[4] = {};
    EXPECT_EQ(wav_encode_pcm16(s, 1, 3, 44100), nullptr);
    EXPECT_EQ(wav_encode_pcm16(s, 1, 1, 0), nullptr);
    EXPECT_EQ(wav_encode_pcm16(s, -1, 1, 44100), nullptr);
    EXPECT_EQ(wav_encode_pcm16(nullptr, 2, 1, 44100), nullptr);
    EXPECT_EQ(wav_encode_pcm16(s, 0x40000000, 2, 44100), nullptr) << "data past 2 GiB";
    MemFile* empty = wav_encode_pcm16(nullptr, 0, 1, 22050);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(wav_is_canonical(empty), 1);
    mf_close(empty);
}

} // namespace
