// Files as bytes, for tests of what the program writes and reads: the whole
// contents of a file, a file of one repeated byte, and an image with
// something in every region so a save that drops bytes shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/config/image.h"

namespace qm730 {

inline std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void writeBytes(const std::filesystem::path& path, std::size_t count, std::uint8_t value) {
    std::ofstream out(path, std::ios::binary);
    out << std::string(count, static_cast<char>(value));
}

inline ConfigImage patternedImage() {
    ConfigImage image = defaultImage();
    for (std::size_t i = 0; i < kImageSize; i += 97) image[i] = static_cast<std::uint8_t>(i * 7);
    image[kImageSize - 1] = 0xEE;
    return image;
}

}  // namespace qm730
