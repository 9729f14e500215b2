// The board's side of the configuration service wire format: the decoder
// for upload blocks, the stream-to-image mapping and the download frame.
// Written from the wire format alone, apart from the program's own transfer
// code, so that a fault in one cannot hide behind the same fault in the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/config/image.h"

namespace qm730::sim {

inline constexpr std::size_t kStreamLength = 28522;
inline constexpr std::size_t kFrameLength = 8846;

// Feeds upload bytes one at a time and collects the stream they carry.
class BlockDecoder {
public:
    enum class Event { None, BlockDone, BlockMalformed, Stray };

    // Returns what the byte completed, if anything.
    Event feed(std::uint8_t byte);

    const std::vector<std::uint8_t>& stream() const { return stream_; }
    const std::string& lastProblem() const { return problem_; }
    int blocks() const { return blocks_; }
    bool idle() const { return state_ == State::WaitStx; }

private:
    enum class State { WaitStx, HeaderNul, HeaderCr, Payload, Escaped, Check, WaitCr, Skip };
    Event finishBlock();
    Event malformed(std::string problem);

    State state_ = State::WaitStx;
    bool firstBlock_ = true;
    std::vector<std::uint8_t> payload_;
    std::uint32_t sum_ = 0;
    std::uint8_t terminator_ = 0;
    std::uint8_t check_[3] = {};
    int checkCount_ = 0;
    std::vector<std::uint8_t> stream_;
    std::string problem_;
    int blocks_ = 0;
};

// Puts the first 28,522 bytes of a received stream into the image.
void applyUploadStream(const std::vector<std::uint8_t>& stream, ConfigImage& image);

// The 8,846-byte answer to a download request, built from the image.
std::vector<std::uint8_t> buildDownloadFrame(const ConfigImage& image, bool corruptChecksum);

}  // namespace qm730::sim
