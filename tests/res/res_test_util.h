// Byte helpers for the resource formats' tests: whole files in and out, and
// archives laid out by hand.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes read_bytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::filesystem::path& p, const Bytes& bytes)
{
    if (!p.parent_path().empty())
        std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void put32(Bytes& b, size_t at, int32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = uint8_t(uint32_t(v) >> (8 * i));
}

// An archive laid out by hand (count, directory, members in order; names cut
// to 128 bytes), so it can hold what the builder would refuse.
inline Bytes raw_pak(const std::vector<std::pair<std::string, std::string>>& members)
{
    Bytes out(4 + members.size() * 136, 0);
    put32(out, 0, int32_t(members.size()));
    for (size_t i = 0; i < members.size(); i++) {
        const auto& [name, body] = members[i];
        std::memcpy(&out[4 + i * 136], name.data(), std::min<size_t>(name.size(), 128));
        put32(out, 4 + i * 136 + 128, int32_t(out.size()));
        put32(out, 4 + i * 136 + 132, int32_t(body.size()));
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}
