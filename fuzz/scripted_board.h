// The board's end of a configuration transfer for the fuzz targets: a line
// in memory whose answers are released when the program has written the CR
// that asks for each (the logon, then the service request), and a host on
// the same clock, which moves only when the program waits, so no input ever
// takes real time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/link/upload_block.h"
#include "memory_line.h"
#include "recording_host.h"

namespace qm730::fuzz {

class ScriptedBoard {
public:
    // answers[i] becomes readable once the program has written i + 1 CRs;
    // at most `piece` bytes wait at a time (0: all that was released).
    ScriptedBoard(std::vector<std::vector<std::uint8_t>> answers, std::size_t piece)
        : answers_(std::move(answers)) {
        line.piece = piece;
        line.onWrite = [this](test::MemoryLine& written, std::span<const std::uint8_t> data) {
            for (const std::uint8_t byte : data) {
                if (crs_ >= 2) upload_.push_back(byte);
                if (byte == ascii::CR && crs_ < 2 && ++crs_ <= answers_.size()) written.deliver(answers_[crs_ - 1], {});
            }
        };
    }

    // Everything the program wrote after its second CR (the service request).
    const std::vector<std::uint8_t>& upload() const { return upload_; }

    test::VirtualClock clock;
    test::MemoryLine line{clock};
    test::RecordingHost host{&clock};

private:
    std::vector<std::vector<std::uint8_t>> answers_;
    std::size_t crs_ = 0;
    std::vector<std::uint8_t> upload_;
};

}  // namespace qm730::fuzz
