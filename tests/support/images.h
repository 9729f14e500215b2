// Configuration images for tests, each with something that shows where it
// went: in every region, in every byte, or arbitrary in every record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

#include "core/config/image.h"

namespace qm730 {

// The default image with every 97th byte set and the last one too, so a
// save that drops bytes shows.
inline ConfigImage patternedImage() {
    ConfigImage image = defaultImage();
    for (std::size_t i = 0; i < kImageSize; i += 97) image[i] = static_cast<std::uint8_t>(i * 7);
    image[kImageSize - 1] = 0xEE;
    return image;
}

// Every byte from its offset and the seed: two seeds give two images that
// differ nearly everywhere.
inline ConfigImage seededImage(int seed) {
    ConfigImage image;
    for (std::size_t i = 0; i < kImageSize; ++i) image[i] = static_cast<std::uint8_t>(i * 13 + seed + (i >> 8));
    return image;
}

// The default image with every byte of the records, messages and alarms
// arbitrary, as a file from elsewhere may hold them.
inline ConfigImage scrambledImage(unsigned seed) {
    ConfigImage image = defaultImage();
    std::mt19937 random(seed);
    for (std::size_t offset = capcode::kTable; offset < kReservedTail; ++offset)
        image[offset] = static_cast<std::uint8_t>(random());
    return image;
}

}  // namespace qm730
