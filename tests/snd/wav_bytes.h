// Builds canonical 44-byte-header PCM WAV files in memory for the sound tests.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct WavFields {
    uint16_t format_tag = 1;
    uint16_t channels = 1;
    uint32_t rate = 48000;
    uint16_t bits = 16;
    // Derived from the fields above unless set.
    int64_t block_align = -1;
    int64_t bytes_per_second = -1;
    int64_t declared_length = -1; // the data length field; the sample count by default
};

inline void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

inline void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

inline std::vector<uint8_t> make_wav(const WavFields& fields, const std::vector<uint8_t>& samples)
{
    uint32_t align = fields.block_align >= 0 ? uint32_t(fields.block_align)
                                             : uint32_t(fields.channels * fields.bits / 8);
    uint32_t per_second =
        fields.bytes_per_second >= 0 ? uint32_t(fields.bytes_per_second) : fields.rate * align;
    uint32_t length =
        fields.declared_length >= 0 ? uint32_t(fields.declared_length) : uint32_t(samples.size());
    std::vector<uint8_t> out{'R', 'I', 'F', 'F'};
    put32(out, 36 + length);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(out, 16);
    put16(out, fields.format_tag);
    put16(out, fields.channels);
    put32(out, fields.rate);
    put32(out, per_second);
    put16(out, align);
    put16(out, fields.bits);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, length);
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

// 16-bit little-endian samples from values in -1..1.
inline std::vector<uint8_t> pcm16(const std::vector<float>& values)
{
    std::vector<uint8_t> out;
    for (float v : values) {
        int s = int(v * 32767.0f + (v < 0 ? -0.5f : 0.5f));
        put16(out, uint16_t(int16_t(s)));
    }
    return out;
}

inline bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}
