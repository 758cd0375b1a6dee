// The built tools and data set in the build tree the tests were built in.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "res/res_test_util.h"

inline std::filesystem::path pak_tool()
{
    return std::filesystem::path(STORM_BUILD_DIR) / "tools" / "pak" / "storm-pak";
}
inline std::filesystem::path asset_tool()
{
    return std::filesystem::path(STORM_BUILD_DIR) / "tools" / "assetgen" / "storm-assets";
}
inline std::filesystem::path data_pak()
{
    const char* env = std::getenv("STORM_DATA_PAK");
    return env && *env ? std::filesystem::path(env)
                       : std::filesystem::path(STORM_BUILD_DIR) / "data.pak";
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

inline std::string read_text(const std::filesystem::path& p)
{
    Bytes b = read_bytes(p);
    return std::string(b.begin(), b.end());
}
