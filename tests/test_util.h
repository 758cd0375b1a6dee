// Helpers shared by the tests.
#pragma once
#include <filesystem>
#include <random>
#include <string>

// A fresh directory that is the current directory for the object's life, so
// tests that write "debug.log" or archives never meet each other when CTest
// runs them in parallel.
class ScratchDir
{
  public:
    ScratchDir()
    {
        std::random_device random;
        previous_ = std::filesystem::current_path();
        path_ = std::filesystem::temp_directory_path() /
                ("storm-test-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(path_);
        std::filesystem::current_path(path_);
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};
