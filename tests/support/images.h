// Configuration images for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

#include "core/config/image.h"

namespace qm730 {

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
