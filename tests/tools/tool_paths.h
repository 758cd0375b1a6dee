// Where the built tools and the data set lie: in the build tree the tests
// were built in, wherever the tests are run from.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::filesystem::path build_dir()
{
    return STORM_BUILD_DIR;
}

inline std::filesystem::path pak_tool()
{
    return build_dir() / "tools" / "pak" / "storm-pak";
}
inline std::filesystem::path asset_tool()
{
    return build_dir() / "tools" / "assetgen" / "storm-assets";
}

inline std::filesystem::path data_pak()
{
    const char* env = std::getenv("STORM_DATA_PAK");
    return env && *env ? std::filesystem::path(env) : build_dir() / "data.pak";
}

// Runs a shell command line; returns its exit code (-1 if it did not exit).
inline int run_command(const std::string& line)
{
    int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string quoted(const std::filesystem::path& p)
{
    return "'" + p.string() + "'";
}

inline std::vector<uint8_t> read_bytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

inline std::string read_text(const std::filesystem::path& p)
{
    std::vector<uint8_t> b = read_bytes(p);
    return std::string(b.begin(), b.end());
}

inline void write_bytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes)
{
    if (!p.parent_path().empty())
        std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
