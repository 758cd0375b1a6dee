// WAV layout: writes and reads the canonical 44-byte-header PCM file. The
// sound loader copies the 16 format bytes at offset 20 straight into its
// buffer description and takes the data length from offset 40, so every field
// must sit at exactly these offsets: one RIFF chunk holding a 16-byte "fmt "
// chunk immediately followed by the "data" chunk, nothing else.

#include "res/wav.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "res/files.h"

static void put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

static void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(v >> (8 * i));
}

static uint32_t get16(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}

static uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int wav_read_header(MemFile* file, WavHeader* header)
{
    if (!header)
        return 0;
    memset(header, 0, sizeof(*header));
    if (!file || !file->data || file->size < WAV_HEADER_SIZE)
        return 0;

    uint8_t raw[WAV_HEADER_SIZE];
    mf_seek(file, 0, 0);
    mf_read(raw, WAV_HEADER_SIZE, 1, file);
    header->fmt_length = int32_t(get32(raw + WAV_FMT_LENGTH_OFFSET));
    const uint8_t* f = raw + WAV_FORMAT_OFFSET;
    header->format.format_tag = uint16_t(get16(f));
    header->format.channels = uint16_t(get16(f + 2));
    header->format.samples_per_sec = get32(f + 4);
    header->format.avg_bytes_per_sec = get32(f + 8);
    header->format.block_align = uint16_t(get16(f + 12));
    header->format.bits_per_sample = uint16_t(get16(f + 14));
    header->data_length = int32_t(get32(raw + WAV_DATA_LENGTH_OFFSET));

    // A declared length that is negative or runs past the file is cut to the
    // bytes really there: a copy of data_available bytes is always safe.
    int32_t held = file->size - WAV_DATA_OFFSET;
    int32_t length = header->data_length;
    header->data_available = length < 0 ? 0 : (length < held ? length : held);
    return 1;
}

int wav_is_canonical(MemFile* file)
{
    WavHeader h;
    if (!wav_read_header(file, &h))
        return 0;
    const uint8_t* d = file->data;
    if (memcmp(d, "RIFF", 4) != 0 || memcmp(d + 8, "WAVE", 4) != 0)
        return 0;
    if (memcmp(d + 12, "fmt ", 4) != 0 || memcmp(d + 36, "data", 4) != 0)
        return 0;
    if (int64_t(get32(d + 4)) != int64_t(file->size) - 8)
        return 0;
    if (h.fmt_length != WAV_FMT_LENGTH || h.format.format_tag != WAV_FORMAT_PCM)
        return 0;

    const WavFormat& f = h.format;
    if (f.channels != 1 && f.channels != 2)
        return 0;
    if (f.bits_per_sample != 8 && f.bits_per_sample != 16)
        return 0;
    if (f.samples_per_sec == 0)
        return 0;
    uint32_t align = uint32_t(f.channels) * f.bits_per_sample / 8;
    if (f.block_align != align || f.avg_bytes_per_sec != f.samples_per_sec * align)
        return 0;
    if (h.data_length < 0 || h.data_length % int32_t(align) != 0)
        return 0;
    return h.data_length == file->size - WAV_DATA_OFFSET ? 1 : 0;
}

MemFile* wav_encode_pcm16(const int16_t* samples, int32_t frames, int32_t channels, int32_t rate)
{
    if (frames < 0 || (frames > 0 && !samples))
        return nullptr;
    if ((channels != 1 && channels != 2) || rate <= 0)
        return nullptr;
    uint32_t align = uint32_t(channels) * 2;
    int64_t data_length = int64_t(frames) * align;
    if (WAV_HEADER_SIZE + data_length > INT32_MAX)
        return nullptr;
    if (uint64_t(rate) * align > UINT32_MAX)
        return nullptr;

    int32_t size = int32_t(WAV_HEADER_SIZE + data_length);
    uint8_t* bytes = static_cast<uint8_t*>(malloc(size_t(size)));
    if (!bytes)
        return nullptr;
    memcpy(bytes, "RIFF", 4);
    put32(bytes + 4, uint32_t(size - 8));
    memcpy(bytes + 8, "WAVE", 4);
    memcpy(bytes + 12, "fmt ", 4);
    put32(bytes + WAV_FMT_LENGTH_OFFSET, WAV_FMT_LENGTH);
    uint8_t* f = bytes + WAV_FORMAT_OFFSET;
    put16(f, WAV_FORMAT_PCM);
    put16(f + 2, uint32_t(channels));
    put32(f + 4, uint32_t(rate));
    put32(f + 8, uint32_t(rate) * align);
    put16(f + 12, align);
    put16(f + 14, 16);
    memcpy(bytes + 36, "data", 4);
    put32(bytes + WAV_DATA_LENGTH_OFFSET, uint32_t(data_length));
    // Samples are written byte by byte: the file is little-endian whatever
    // the host is.
    uint8_t* out = bytes + WAV_DATA_OFFSET;
    for (int64_t i = 0; i < int64_t(frames) * channels; i++)
        put16(out + 2 * i, uint16_t(samples[i]));

    MemFile* file = mf_open_memory(bytes, size);
    free(bytes);
    return file;
}
