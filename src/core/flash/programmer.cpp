#include "core/flash/programmer.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <memory>

namespace qm730 {

namespace {

constexpr std::uint8_t complementOf(std::uint8_t command) { return static_cast<std::uint8_t>(~command); }

std::string hexAddress(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%05X", static_cast<unsigned>(address));
    return text;
}

std::string blockText(int k) {
    return "block " + std::to_string(k) + " (" + hexAddress(FlashImage::blockAddress(k)) + ")";
}

// Bytes on the line, as the bound of a run counts them: a check or erase
// frame and its reply; a block write frame (before the escapes its data
// need); a block read frame, and the data frame that answers it with its
// end byte (the escapes of the block aside).
constexpr std::size_t kCommandFrameLine = 27;
constexpr std::size_t kCommandExchange = kCommandFrameLine + kReplySize;
constexpr std::size_t kWriteFrameLine = kRequestHeaderSize + kFlashBlockSize + 2 + 1;
constexpr std::size_t kBlockReadExchange = kCommandFrameLine + kDataFrameSize + 1;

std::size_t escapesIn(std::span<const std::uint8_t> block) {
    return static_cast<std::size_t>(
        std::count_if(block.begin(), block.end(), [](std::uint8_t b) { return b == kFrameEnd || b == kFrameEscape; }));
}

// A write: the check, two erases with their pauses, each block written and
// read back.
WireTime writeWireTime(const FlashImage& image, const std::vector<int>& blocks) {
    WireTime wire{3 * kCommandExchange, std::chrono::milliseconds(kPortSettleMs + 2 * kErasePauseMs)};
    for (int k : blocks) wire.bytes += kWriteFrameLine + kReplySize + kBlockReadExchange + 2 * escapesIn(image.block(k));
    return wire;
}

// A read of the whole flash: the check and 64 block reads.
WireTime readOutWireTime() {
    return {kCommandExchange + kFlashBlockCount * kBlockReadExchange, std::chrono::milliseconds(kPortSettleMs)};
}

// The bound of one run, lifted however it ends.
class OperationScope {
public:
    OperationScope(BoardLink& link, const WireTime& wire) : link_(link) { link_.beginOperation(wire); }
    ~OperationScope() { link_.endOperation(); }
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;

private:
    BoardLink& link_;
};

std::string stepText(const FlashOutcome& outcome) {
    switch (outcome.step) {
        case FlashStep::None: return "the write";
        case FlashStep::Check: return "the board check";
        case FlashStep::Erase: return "the erase of " + hexAddress(outcome.address);
        case FlashStep::Write:
            return "the write of block " + std::to_string(outcome.block) + " (" + hexAddress(outcome.address) + ")";
        case FlashStep::Read:
            if (outcome.block < 0) return "the read-back";
            return "the read-back of block " + std::to_string(outcome.block) + " (" + hexAddress(outcome.address) + ")";
        case FlashStep::ReadOut:
            return "the read of block " + std::to_string(outcome.block) + " (" + hexAddress(outcome.address) + ")";
    }
    return "the write";
}

// A run as it goes, a write or a read of the flash: every way it ends leaves
// the port closed, the Write command enabled and (but for a missing file)
// the status " Ready".
class FlashRun {
public:
    explicit FlashRun(BoardLink& link) : link_(link), host_(link.host()), state_(link.state()) {}

    // The run writes the image as it was when it started, even if a new
    // file is loaded while the windows are served during the waits.
    FlashOutcome write(const std::string& portName, const Firmware& firmware) {
        const auto snapshot = std::make_unique<const FlashImage>(firmware.image);
        const FlashImage& image = *snapshot;
        const std::vector<int> blocks = image.blocksToProgram();
        const OperationScope bounded(link_, writeWireTime(image, blocks));
        LinkBusy busy(state_);
        host_.enableWrite(false);
        state_.LinkError = false;

        beginStep(kVerifyStatus, kCommandProgressMaximum);
        outcome_.step = FlashStep::Check;
        if (!link_.OpenBoardLink(portName)) return boardNotFound();

        beginStep(kEraseStatus, kCommandProgressMaximum);
        for (std::uint32_t half : {kEraseLow, kEraseHigh}) {
            at(FlashStep::Erase, half, -1);
            link_.SendFrame(half, 0, board_command::kErase, complementOf(board_command::kErase));
            if (state_.LinkError) return transmitError();
            host_.note("erase of " + hexAddress(half) + " accepted; the board is given " +
                       std::to_string(kErasePauseMs) + " ms");
            // The board erases meanwhile; the windows stay responsive.
            host_.processEvents();
            host_.delay(std::chrono::milliseconds(kErasePauseMs));
        }

        const std::string ofBlocks = " of " + std::to_string(blocks.size());
        const int maximum = static_cast<int>(
            std::min<std::uint64_t>(std::uint64_t{image.BytesLoaded} + kBlockProgressReserve, INT_MAX));
        beginStep(kWriteStatus, maximum);
        for (int k : blocks) {
            at(FlashStep::Write, FlashImage::blockAddress(k), k);
            link_.SendFrame(FlashImage::blockAddress(k), kFlashBlockSize, board_command::kWriteBlock,
                            complementOf(board_command::kWriteBlock), image.bytes);
            if (state_.LinkError) return transmitError();
            ++outcome_.blocksWritten;
            host_.note(blockText(k) + " written, " + std::to_string(outcome_.blocksWritten) + ofBlocks);
        }

        beginStep(kReadStatus, maximum);
        at(FlashStep::Read, 0, -1);
        if (!link_.Purge()) return transmitError();
        std::array<std::uint8_t, kFlashBlockSize> answer{};
        for (int k : blocks) {
            at(FlashStep::Read, FlashImage::blockAddress(k), k);
            link_.SendFrame(FlashImage::blockAddress(k), kFlashBlockSize, board_command::kReadBlock,
                            complementOf(board_command::kReadBlock));
            if (state_.LinkError || !link_.ReadBlockData(answer)) return transmitError();
            const auto expected = image.block(k);
            if (!std::equal(answer.begin(), answer.end(), expected.begin())) return mismatch();
            ++outcome_.blocksVerified;
            host_.note(blockText(k) + " read back the same, " + std::to_string(outcome_.blocksVerified) + ofBlocks);
        }

        host_.showNotice(plainNotice(kTransmitSuccessText));
        link_.SetProgress(0);
        link_.ClosePort();
        host_.enableWrite(true);
        host_.setStatus(kReadyStatus);
        return succeeded();
    }

    // Every block is read, blank or not: what the board holds is not known
    // beforehand. The image is replaced only once all of them have come.
    FlashOutcome readOut(const std::string& portName, FlashImage& image) {
        const OperationScope bounded(link_, readOutWireTime());
        LinkBusy busy(state_);
        host_.enableWrite(false);
        state_.LinkError = false;

        beginStep(kVerifyStatus, kCommandProgressMaximum);
        outcome_.step = FlashStep::Check;
        if (!link_.OpenBoardLink(portName)) return boardNotFound();

        // Nothing the board sent after its answer to the check may be taken
        // for the head of the first data frame. Nothing else holds the data
        // read, so every frame must be sound and as long as the first.
        beginStep(kReadStatus, kReadOutProgressMaximum);
        at(FlashStep::ReadOut, FlashImage::blockAddress(0), 0);
        if (!link_.Purge()) return transmitError();
        const auto flash = std::make_unique<FlashImage>();
        std::size_t frameSize = 0;
        for (int k = 0; k < kFlashBlockCount; ++k) {
            std::span<std::uint8_t, kFlashBlockSize> block(flash->bytes.data() + static_cast<std::size_t>(k) * kFlashBlockSize,
                                                            kFlashBlockSize);
            if (!readSoundBlock(k, block, frameSize)) return transmitError();
            ++outcome_.blocksRead;
            host_.note(blockText(k) + " read, " + std::to_string(outcome_.blocksRead) + " of " +
                       std::to_string(kFlashBlockCount));
        }
        flash->BytesLoaded = static_cast<std::uint32_t>(kFlashSize);
        image = *flash;

        link_.SetProgress(0);
        link_.ClosePort();
        host_.enableWrite(true);
        host_.setStatus(kReadyStatus);
        return succeeded();
    }

private:
    // A frame damaged on the line comes sound the next time; one that never
    // does is reported with what was wrong with it the last time.
    bool readSoundBlock(int k, std::span<std::uint8_t, kFlashBlockSize> block, std::size_t& frameSize) {
        const std::uint32_t address = FlashImage::blockAddress(k);
        for (int read = 1;; ++read) {
            at(FlashStep::ReadOut, address, k);
            outcome_.reads = read;
            link_.SendFrame(address, kFlashBlockSize, board_command::kReadBlock, complementOf(board_command::kReadBlock));
            if (!state_.LinkError && link_.ReadCheckedBlock(address, block, &frameSize)) return true;
            if (read == kReadsPerBlock || !isDamagedFrame(link_.lastFailure())) return false;
            const std::string why = link_.failureDetail().empty() ? describeLinkFailure(link_.lastFailure())
                                                                  : describeLinkFailure(link_.lastFailure()) + ": " +
                                                                        link_.failureDetail();
            host_.note(blockText(k) + " arrived damaged (" + why + "); read again");
            state_.LinkError = false;
            link_.extendOperation({kBlockReadExchange, std::chrono::milliseconds(0)});
        }
    }

    FlashOutcome succeeded() {
        outcome_.result = FlashResult::Success;
        outcome_.step = FlashStep::None;
        outcome_.block = -1;
        outcome_.address = 0;
        return outcome_;
    }

    void beginStep(const char* status, int progressMaximum) {
        host_.setStatus(status);
        host_.setProgressRange(0, progressMaximum);
        link_.SetProgress(0);
    }

    void at(FlashStep step, std::uint32_t address, int block) {
        outcome_.step = step;
        outcome_.address = address;
        outcome_.block = block;
    }

    void record(FlashResult result) {
        outcome_.result = result;
        outcome_.failure = link_.lastFailure();
        outcome_.detail = link_.failureDetail();
        outcome_.htag = state_.Htag;
    }

    FlashOutcome boardNotFound() {
        record(link_.lastFailure() == LinkFailure::PortFailed ? FlashResult::PortFailed : FlashResult::BoardNotFound);
        host_.setStatus(kErrorStatus);
        host_.showNotice(plainNotice(kBoardNotFoundText));
        link_.ClosePort();
        link_.SetProgress(0);
        host_.setStatus(kReadyStatus);
        host_.enableWrite(true);
        return outcome_;
    }

    // A time-out, a refused command, a bad data frame or a failing line all
    // end the run alike, never in silence.
    FlashOutcome transmitError() {
        record(FlashResult::TransmitError);
        host_.showNotice(plainNotice(kTransmitErrorText));
        host_.setStatus(kReadyStatus);
        link_.SetProgress(0);
        host_.enableWrite(true);
        link_.ClosePort();
        return outcome_;
    }

    FlashOutcome mismatch() {
        record(FlashResult::VerifyMismatch);
        outcome_.failure = LinkFailure::None;
        host_.showNotice(plainNotice(readErrorText(state_.Htag)));
        host_.enableWrite(true);
        link_.SetProgress(0);
        link_.ClosePort();
        host_.setStatus(kReadyStatus);
        return outcome_;
    }

    BoardLink& link_;
    OperationHost& host_;
    LinkState& state_;
    FlashOutcome outcome_;
};

}  // namespace

std::string readErrorText(std::uint8_t htag) { return std::string("Read Error! ") + "Htag = " + std::to_string(htag); }

std::string describeFlashOutcome(const FlashOutcome& outcome) {
    const auto withDetail = [&](std::string text) {
        return outcome.detail.empty() ? text : text + ": " + outcome.detail;
    };
    // "block 20 (DA000) did not arrive sound in 3 reads: ..."
    const auto damaged = [&] {
        const std::string why = withDetail(describeLinkFailure(outcome.failure));
        if (outcome.step != FlashStep::ReadOut) return why + " during " + stepText(outcome);
        return blockText(outcome.block) + " did not arrive sound in " + std::to_string(outcome.reads) +
               (outcome.reads == 1 ? " read: " : " reads: ") + why;
    };
    switch (outcome.result) {
        case FlashResult::Success:
            return "the firmware was written and every written block read back the same (" +
                   std::to_string(outcome.blocksWritten) + " blocks)";
        case FlashResult::NoFile: return "no firmware file is loaded";
        case FlashResult::PortFailed: return withDetail("cannot open the port");
        case FlashResult::BoardNotFound:
            switch (outcome.failure) {
                case LinkFailure::Refused: return "the target board is not found: it refused the board check";
                case LinkFailure::LineFailed: return withDetail("the target board is not found: the serial line failed");
                default: return "the target board is not found: no answer to the board check";
            }
        case FlashResult::TransmitError:
            if (isDamagedFrame(outcome.failure)) return damaged();
            switch (outcome.failure) {
                case LinkFailure::Timeout: return "no answer from the board within 5 seconds during " + stepText(outcome);
                case LinkFailure::Refused: return "the board refused " + stepText(outcome);
                case LinkFailure::LineFailed: return withDetail("the serial line failed during " + stepText(outcome));
                case LinkFailure::NotOpen: return "the port was closed during " + stepText(outcome);
                case LinkFailure::TooSlow: return "during " + stepText(outcome) + ", " + outcome.detail;
                default: return "transmit error during " + stepText(outcome);
            }
        case FlashResult::VerifyMismatch:
            return "block " + std::to_string(outcome.block) + " (" + hexAddress(outcome.address) +
                   ") read back differs from the image (Htag = " + std::to_string(outcome.htag) + ")";
    }
    return "unknown outcome";
}

FlashOutcome WriteFirmware(BoardLink& link, const std::string& portName, const Firmware& firmware) {
    // A run that ended in a read-back mismatch may have left the port open.
    link.ClosePort();
    if (!firmware.loaded()) {
        link.host().showNotice(plainNotice(kOpenFileFirstText));
        FlashOutcome outcome;
        outcome.result = FlashResult::NoFile;
        return outcome;
    }
    return FlashRun(link).write(portName, firmware);
}

FlashOutcome ReadFirmware(BoardLink& link, const std::string& portName, FlashImage& image) {
    link.ClosePort();
    return FlashRun(link).readOut(portName, image);
}

}  // namespace qm730
