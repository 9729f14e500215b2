// The board's flash as its flash loader addresses it: 128 KiB from 0xD0000
// to 0xEFFFF in 64 blocks of 2048 bytes. The board link moves blocks by
// these addresses; the flash image (core/flash) is laid out by them too.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm730 {

inline constexpr std::uint32_t kFlashBase = 0xD0000;
inline constexpr std::size_t kFlashSize = 0x20000;
inline constexpr std::uint32_t kFlashEnd = kFlashBase + kFlashSize;  // 0xF0000, first address past the flash
inline constexpr std::size_t kFlashBlockSize = 2048;
inline constexpr int kFlashBlockCount = static_cast<int>(kFlashSize / kFlashBlockSize);  // 64

}  // namespace qm730
