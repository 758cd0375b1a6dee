// The canonical WAV layout: every field where the sound loader reads it.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "res/files.h"
#include "res/wav.h"

namespace
{

uint32_t le32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

MemFile* stereo_three_frames()
{
    const int16_t samples[] = {1, -2, 300, -300, 32767, -32768};
    return wav_encode_pcm16(samples, 3, 2, 44100);
}

TEST(WavTest, EncodesEveryFieldAtItsFixedOffset)
{
    MemFile* f = stereo_three_frames();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->size, 44 + 12);
    const uint8_t* d = f->data;
    EXPECT_EQ(memcmp(d, "RIFF", 4), 0);
    EXPECT_EQ(le32(d + 4), uint32_t(f->size - 8));
    EXPECT_EQ(memcmp(d + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(le32(d + WAV_FMT_LENGTH_OFFSET), 16u);
    EXPECT_EQ(le16(d + 20), WAV_FORMAT_PCM);
    EXPECT_EQ(le16(d + 22), 2);
    EXPECT_EQ(le32(d + 24), 44100u);
    EXPECT_EQ(le32(d + 28), 44100u * 4);
    EXPECT_EQ(le16(d + 32), 4);
    EXPECT_EQ(le16(d + 34), 16);
    EXPECT_EQ(memcmp(d + 36, "data", 4), 0);
    EXPECT_EQ(le32(d + WAV_DATA_LENGTH_OFFSET), 12u);
    const uint8_t samples[] = {1, 0, 0xFE, 0xFF, 0x2C, 0x01, 0xD4, 0xFE, 0xFF, 0x7F, 0x00, 0x80};
    EXPECT_EQ(memcmp(d + WAV_DATA_OFFSET, samples, 12), 0);
    EXPECT_EQ(wav_is_canonical(f), 1);

    WavHeader h;
    ASSERT_EQ(wav_read_header(f, &h), 1);
    EXPECT_EQ(h.fmt_length, 16);
    EXPECT_EQ(h.format.channels, 2);
    EXPECT_EQ(h.format.samples_per_sec, 44100u);
    EXPECT_EQ(h.format.block_align, 4);
    EXPECT_EQ(h.format.bits_per_sample, 16);
    EXPECT_EQ(h.data_length, 12);
    EXPECT_EQ(h.data_available, 12);
    EXPECT_EQ(f->pos, WAV_DATA_OFFSET);
    mf_close(f);
}

TEST(WavTest, DamagedOrForeignLayoutsAreNotCanonical)
{
    MemFile* good = stereo_three_frames();
    std::vector<uint8_t> bytes(good->data, good->data + good->size);
    mf_close(good);
    auto check = [&](std::vector<uint8_t> b, const char* what) {
        MemFile* f = mf_open_memory(b.data(), int32_t(b.size()));
        EXPECT_EQ(wav_is_canonical(f), 0) << what;
        mf_close(f);
    };
    {
        std::vector<uint8_t> b = bytes;
        b.resize(50); // samples cut short; the RIFF size says otherwise
        MemFile* f = mf_open_memory(b.data(), int32_t(b.size()));
        WavHeader h;
        ASSERT_EQ(wav_read_header(f, &h), 1);
        EXPECT_EQ(h.data_length, 12);
        EXPECT_EQ(h.data_available, 6) << "a copy must stop at the end of the file";
        EXPECT_EQ(wav_is_canonical(f), 0);
        mf_close(f);
    }
    std::vector<uint8_t> b = bytes;
    b[16] = 18; // a longer fmt chunk moves every later field
    check(b, "fmt length 18");
    b = bytes;
    b[32] = 2; // block align that does not match two 16-bit channels
    check(b, "block align");
    b = bytes;
    b[20] = 3; // IEEE float, not PCM
    check(b, "format tag");
    b = bytes;
    b[40] = 11; // half a frame
    check(b, "odd data length");
    b = bytes;
    b[36] = 'L', b[37] = 'I', b[38] = 'S', b[39] = 'T';
    check(b, "another chunk before the data");

    MemFile* tiny = mf_open_memory(bytes.data(), 43);
    WavHeader h;
    h.data_length = 99;
    EXPECT_EQ(wav_read_header(tiny, &h), 0);
    EXPECT_EQ(h.data_length, 0);
    EXPECT_EQ(wav_is_canonical(tiny), 0);
    mf_close(tiny);
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
    EXPECT_EQ(empty->size, 44);
    EXPECT_EQ(wav_is_canonical(empty), 1);
    mf_close(empty);
}

} // namespace
