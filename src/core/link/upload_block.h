// One upload block in the style of the paging terminal protocol: STX, the
// payload with control characters escaped, US (more follows) or ETX (last),
// three checksum characters and CR.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qm730 {

namespace ascii {
inline constexpr std::uint8_t NUL = 0x00, STX = 0x02, ETX = 0x03, EOT = 0x04, ACK = 0x06, LF = 0x0A, CR = 0x0D,
                              ETB = 0x17, SUB = 0x1A, ESC = 0x1B, US = 0x1F;
}

// The first block carries the 96 system-block bytes; each continuation block
// carries stream bytes until its payload has at least 240 characters.
inline constexpr std::size_t kFirstBlockStreamBytes = 96;
inline constexpr std::size_t kContinuationPayload = 240;
inline constexpr std::size_t kBlockBufferSize = 256;

// Bytes that would be taken for protocol characters go out as SUB and the
// byte plus 0x40.
bool needsEscape(std::uint8_t byte);

// The three checksum characters for the sum of a block's bytes from STX to
// its terminator: 0x30 plus bits 11..8, 7..4 and 3..0.
std::array<std::uint8_t, 3> checksumCharacters(std::uint32_t sum);

struct UploadBlock {
    std::array<std::uint8_t, kBlockBufferSize> bytes{};
    std::size_t length = 0;       // bytes to send
    std::size_t streamTaken = 0;  // stream bytes the payload carries

    std::span<const std::uint8_t> wire() const { return {bytes.data(), length}; }
};

// Builds a block from the stream bytes at the front of `source`. A
// continuation block takes bytes past the end of the stream too, so the
// caller hands it the zero-filled rest of its buffer to pad from.
UploadBlock buildUploadBlock(std::span<const std::uint8_t> source, bool first, bool last);

}  // namespace qm730
