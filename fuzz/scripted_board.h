// The board's end of a configuration transfer for the fuzz targets: each
// answer is released when the program has written the CR that asks for it
// (the logon, then the service request), on a clock that moves only when the
// program waits, so no input ever takes real time.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/link/transfer_io.h"
#include "core/link/upload_block.h"

namespace qm730::fuzz {

class ScriptedBoard : public TransferPort, public TransferPump, public TransferDisplay {
public:
    // answers[i] becomes readable once the program has written i + 1 CRs;
    // at most `piece` bytes wait at a time (0: all that was released).
    ScriptedBoard(std::vector<std::vector<std::uint8_t>> answers, std::size_t piece)
        : answers_(std::move(answers)), piece_(piece) {}

    // Everything the program wrote after its second CR (the service request).
    const std::vector<std::uint8_t>& upload() const { return upload_; }

    // TransferPort
    void write(const std::uint8_t* data, std::size_t count) override {
        for (std::size_t i = 0; i < count; ++i) {
            if (crs_ >= 2) upload_.push_back(data[i]);
            if (data[i] == ascii::CR && crs_ < 2 && ++crs_ <= answers_.size()) release(answers_[crs_ - 1]);
        }
    }
    std::size_t bytesWaiting() override {
        const std::size_t waiting = line_.size() - taken_;
        return piece_ == 0 ? waiting : std::min(waiting, piece_);
    }
    std::size_t read(std::uint8_t* data, std::size_t count) override {
        const std::size_t n = std::min(count, bytesWaiting());
        if (n == 0) return 0;
        std::memcpy(data, line_.data() + taken_, n);
        taken_ += n;
        return n;
    }
    void purgeOutput() override {}
    void purgeInput() override { taken_ = line_.size(); }
    bool waitReadable(std::chrono::milliseconds timeout) override {
        if (bytesWaiting() > 0) return true;
        elapsed_ += timeout;
        return false;
    }

    // TransferPump
    void DelayMs(int milliseconds) override { elapsed_ += std::chrono::milliseconds(milliseconds); }
    Clock::time_point now() override { return Clock::time_point{} + elapsed_; }
    void pause(std::chrono::milliseconds duration) override { elapsed_ += duration; }

    // TransferDisplay
    void setStatus(const std::string&) override {}
    void setProgressRange(int, int) override {}
    void setProgress(int) override {}
    void repaint() override {}
    void logLine(const std::string&) override {}
    void showNotice(const Notice&) override {}

private:
    void release(const std::vector<std::uint8_t>& bytes) { line_.insert(line_.end(), bytes.begin(), bytes.end()); }

    std::vector<std::vector<std::uint8_t>> answers_;
    std::size_t piece_;
    std::vector<std::uint8_t> line_;
    std::size_t taken_ = 0;
    std::size_t crs_ = 0;
    std::vector<std::uint8_t> upload_;
    std::chrono::milliseconds elapsed_{0};
};

}  // namespace qm730::fuzz
