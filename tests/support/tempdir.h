// A fresh folder per test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <random>
#include <string>

#include <gtest/gtest.h>

class TempDir {
public:
    TempDir() {
#ifdef _WIN32
        // No mkdtemp: a random name that create_directory finds free.
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() / ("qm730-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) path_ = candidate;
        }
        if (path_.empty()) ADD_FAILURE() << "no temporary folder";
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "qm730-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
#endif
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};
