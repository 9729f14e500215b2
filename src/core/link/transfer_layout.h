// The byte layouts of the configuration transfer: the upload stream that is
// sent to the board in blocks, and the download frame the board sends back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/config/image.h"

namespace qm730 {

inline constexpr std::size_t kTransferBufferSize = 32768;
inline constexpr std::size_t kUploadStreamSize = 28522;
inline constexpr std::size_t kDownloadFrameSize = 8846;
// The frame's first six bytes are the board's own and are not examined.
inline constexpr std::size_t kFrameDataOffset = 6;
inline constexpr std::size_t kFrameChecksumOffset = 8844;  // high byte, then low byte

// Image to upload stream: the system block, 22 bytes of capcode slots 0..998,
// the alarm records whole and 60 bytes of message slots 0..99.
void packUploadStream(const ConfigImage& image, std::uint8_t* stream);

// Download frame to image. The frame carries the system block, capcode slots
// 0..98 and the first slot of each later hundred up to 799, the alarm records
// and message slots 0..98; everything else in the image keeps its value.
void unpackDownloadFrame(const std::uint8_t* frame, ConfigImage& image);

// The low 16 bits of the sum of frame bytes 6..8843.
std::uint16_t frameChecksum(const std::uint8_t* frame);
bool frameChecksumMatches(const std::uint8_t* frame);

}  // namespace qm730
