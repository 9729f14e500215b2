#include "core/flash/flashimage.h"

#include <algorithm>

namespace qm730 {

std::uint16_t FlashImage::computeChecksum() const {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < kChecksumLow; ++i) sum += bytes[i];
    return static_cast<std::uint16_t>(sum);
}

void FlashImage::storeChecksum() {
    const std::uint16_t sum = computeChecksum();
    bytes[kChecksumLow] = static_cast<std::uint8_t>(sum & 0xFF);
    bytes[kChecksumHigh] = static_cast<std::uint8_t>(sum >> 8);
}

bool FlashImage::isBlank(int k) const {
    const auto data = block(k);
    return std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == kErasedByte; });
}

std::vector<int> FlashImage::blocksToProgram() const {
    std::vector<int> blocks;
    for (int k = 0; k < kFlashBlockCount; ++k)
        if (!isBlank(k)) blocks.push_back(k);
    return blocks;
}

}  // namespace qm730
