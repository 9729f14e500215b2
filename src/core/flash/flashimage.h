// The flash image of service mode: the 128 KiB of board flash from 0xD0000
// to 0xEFFFF that a firmware file is loaded into and written from, in 64
// blocks of 2048 bytes. Its last two bytes hold a checksum of the rest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/link/flash_blocks.h"

namespace qm730 {

// The two halves the board erases one command each.
inline constexpr std::uint32_t kEraseLow = 0xD0000;
inline constexpr std::uint32_t kEraseHigh = 0xE0000;
// Offsets of the checksum's low and high byte (board addresses 0xEFFFE, 0xEFFFF).
inline constexpr std::size_t kChecksumLow = kFlashSize - 2;
inline constexpr std::size_t kChecksumHigh = kFlashSize - 1;
// What an erased byte of the board's flash holds.
inline constexpr std::uint8_t kErasedByte = 0xFF;

struct FlashImage {
    FlashImage() { bytes.fill(kErasedByte); }

    std::array<std::uint8_t, kFlashSize> bytes;
    // Data bytes stored by the load (a byte stored twice counts twice); it
    // sizes the progress bar of a write.
    std::uint32_t BytesLoaded = 0;

    // Sum of offsets 0 to 0x1FFFD, modulo 65536.
    std::uint16_t computeChecksum() const;
    // Stores computeChecksum() low byte first in the last two bytes.
    void storeChecksum();
    std::uint16_t storedChecksum() const {
        return static_cast<std::uint16_t>(bytes[kChecksumLow] | bytes[kChecksumHigh] << 8);
    }

    std::span<const std::uint8_t, kFlashBlockSize> block(int k) const {
        return std::span<const std::uint8_t, kFlashBlockSize>(bytes.data() + static_cast<std::size_t>(k) * kFlashBlockSize,
                                                              kFlashBlockSize);
    }
    static std::uint32_t blockAddress(int k) { return kFlashBase + static_cast<std::uint32_t>(k) * kFlashBlockSize; }

    // A block that holds only erased bytes is already right on the board
    // after the erases: it is neither written nor read back.
    bool isBlank(int k) const;
    // The blocks a write sends and reads back, in increasing order.
    std::vector<int> blocksToProgram() const;
};

}  // namespace qm730
