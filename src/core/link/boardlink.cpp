#include "core/link/boardlink.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "core/link/line_opening.h"

namespace qm730 {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Clears QuietWait however the check's exchange ends.
class QuietScope {
public:
    explicit QuietScope(LinkState& state) : state_(state) { state_.QuietWait = true; }
    ~QuietScope() { state_.QuietWait = false; }
    QuietScope(const QuietScope&) = delete;
    QuietScope& operator=(const QuietScope&) = delete;

private:
    LinkState& state_;
};

}  // namespace

BoardLink::BoardLink(SerialLine& line, OperationHost& host, LinkState& state)
    : line_(line), host_(host), state_(state), waits_(line, host) {}

bool BoardLink::fail(LinkFailure failure) {
    failure_ = failure;
    state_.LinkError = true;
    return false;
}

// A device that fails in the middle of an exchange is given up: the port is
// closed so that the next operation starts clean. A write cut off at the
// operation's deadline is the bound, not the device.
bool BoardLink::lineFailed(const SerialError& error) {
    if (bound_.passed(host_.now())) return tooSlow();
    failureDetail_ = error.reason();
    ClosePort();
    return fail(LinkFailure::LineFailed);
}

bool BoardLink::tooSlow() {
    failureDetail_ =
        farSlowerText("the line carried", lineBytes_, expectedBytes_, bound_.elapsed(host_.now()));
    return fail(LinkFailure::TooSlow);
}

void BoardLink::beginOperation(const WireTime& wire) {
    bound_.start(host_.now(), timeLimit_.value_or(wire.limit()));
    expectedBytes_ = wire.bytes;
    lineBytes_ = 0;
    line_.setWriteDeadline(bound_.deadline());
}

void BoardLink::extendOperation(const WireTime& more) {
    bound_.extend(2 * more.duration());
    expectedBytes_ += more.bytes;
    if (bound_.running()) line_.setWriteDeadline(bound_.deadline());
}

void BoardLink::endOperation() {
    bound_.stop();
    line_.setWriteDeadline(std::nullopt);
}

bool BoardLink::noByte() { return bound_.passed(host_.now()) ? tooSlow() : timedOut(); }

// Called once the line has counted input. Should the byte still not come,
// the line has failed rather than the board fallen silent.
std::uint8_t BoardLink::takeByte() {
    std::uint8_t byte = 0;
    if (line_.readAvailable(&byte, 1) == 0 &&
        !(line_.waitReadable(kByteArrival) && line_.readAvailable(&byte, 1) == 1))
        throw SerialError(SerialStep::Read, 0, "no byte arrived");
    ++lineBytes_;
    return byte;
}

void BoardLink::purgeBoth() {
    line_.purgeInput();
    line_.purgeOutput();
}

bool BoardLink::timedOut() {
    try {
        purgeBoth();
    } catch (const SerialError& error) {
        return lineFailed(error);
    }
    return fail(LinkFailure::Timeout);
}

void BoardLink::ClosePort() noexcept {
    try {
        line_.close();
    } catch (const SerialError&) {
        // The descriptor is released whatever close() said; nothing is left to do.
    }
}

bool BoardLink::Purge() {
    try {
        purgeBoth();
        return true;
    } catch (const SerialError& error) {
        return lineFailed(error);
    }
}

void BoardLink::SetProgress(int position) {
    state_.progress = position;
    host_.setProgress(position);
}

void BoardLink::AdvanceProgress(std::size_t by) {
    SetProgress(state_.progress + static_cast<int>(by));
}

// Blocks on the device until a byte is waiting or the window has passed
// without one; the line gives the host its turns meanwhile. A byte is taken
// as soon as it arrives. Throws SerialError when the line fails.
bool BoardLink::awaitByte(std::chrono::milliseconds window) {
    const Clock::time_point start = host_.now();
    // Past the operation's bound no byte is taken, however many wait.
    if (bound_.passed(start)) return false;
    const Clock::time_point deadline = start + bound_.clip(window, start);
    for (;;) {
        if (line_.bytesWaiting() > 0) return true;
        const Clock::time_point now = host_.now();
        if (now >= deadline) return false;
        // A device that reports input it then does not count must not turn
        // the wait into a spin.
        if (line_.waitReadable(std::chrono::ceil<std::chrono::milliseconds>(deadline - now)) &&
            line_.bytesWaiting() == 0)
            std::this_thread::sleep_for(1ms);
    }
}

bool BoardLink::OpenLinkPort(const std::string& portName) {
    failure_ = LinkFailure::None;
    failureDetail_.clear();
    const LineOpening opening = openLine(line_, portName, kBoardLine);
    if (opening.opened) {
        host_.note("port open at 19200 baud, 8 data bits, no parity, 2 stop bits");
        return true;
    }
    failure_ = LinkFailure::PortFailed;
    failureDetail_ = opening.error->reason();
    ClosePort();
    // A device that cannot be had is most likely held by another program.
    host_.showNotice(plainNotice(opening.deviceUnavailable() ? kPortInUseText : kPortErrorText));
    return false;
}

bool BoardLink::OpenBoardLink(const std::string& portName) {
    if (!OpenLinkPort(portName)) return false;
    host_.delay(std::chrono::milliseconds(kPortSettleMs));
    state_.LinkError = false;
    {
        QuietScope quiet(state_);
        SendFrame(0, 0, board_command::kCheck, static_cast<std::uint8_t>(~board_command::kCheck));
    }
    if (!state_.LinkError) {
        host_.note("board check accepted");
        return true;
    }
    ClosePort();
    return false;
}

bool BoardLink::SendFrame(std::uint32_t address, std::uint16_t count, std::uint8_t command, std::uint8_t complement,
                          std::span<const std::uint8_t> image) {
    failure_ = LinkFailure::None;
    state_.Htag = NextHtag(state_.Htag);
    std::span<const std::uint8_t> data;
    if (count != 0 && command != board_command::kReadBlock) {
        if (address < kFlashBase || address - kFlashBase + count > image.size())
            throw std::out_of_range("block write outside the flash image");
        data = image.subspan(address - kFlashBase, count);
    }
    std::vector<std::uint8_t> frame = BuildRequestFrame(state_.Htag, command, complement, address, count, data);
    EscapeFrame(frame);
    frame.push_back(kFrameEnd);

    // A stray byte left on the line must not be taken for this frame's answer.
    if (line_.isOpen() && !Purge()) return false;
    const bool sent = SendRaw(frame);
    if (command == board_command::kReadBlock) return sent;
    if (!sent) {
        if (failure_ == LinkFailure::NotOpen) state_.LinkError = true;
        return false;
    }
    std::array<std::uint8_t, kReplySize> reply{};
    if (!ReadReply(reply)) {
        state_.LinkError = true;
        return false;
    }
    // Only byte 1 says anything; the other three are the board's own.
    if (reply[1] != kAcceptedByte) fail(LinkFailure::Refused);
    return true;
}

bool BoardLink::SendRaw(std::span<const std::uint8_t> bytes) {
    if (!line_.isOpen()) {
        failure_ = LinkFailure::NotOpen;
        return false;
    }
    try {
        line_.write(bytes.data(), bytes.size());
    } catch (const SerialError& error) {
        return lineFailed(error);
    }
    lineBytes_ += bytes.size();
    AdvanceProgress(bytes.size());
    return true;
}

bool BoardLink::ReadReply(std::span<std::uint8_t> buffer) {
    if (!line_.isOpen()) {
        failure_ = LinkFailure::NotOpen;
        return false;
    }
    const auto window = state_.QuietWait ? kQuietWindow : kReplyWindow;
    try {
        for (std::uint8_t& byte : buffer) {
            if (!awaitByte(window)) return noByte();
            byte = takeByte();
        }
    } catch (const SerialError& error) {
        return lineFailed(error);
    }
    return true;
}

bool BoardLink::ReadDataFrame(std::vector<std::uint8_t>& frame) {
    failure_ = LinkFailure::None;
    frame.clear();
    if (!line_.isOpen()) {
        failure_ = LinkFailure::NotOpen;
        return false;
    }
    frame.reserve(kFrameBufferSize);
    try {
        for (;;) {
            if (!awaitByte(kReplyWindow)) return noByte();
            const std::uint8_t byte = takeByte();
            if (byte == kFrameEnd) {
                if (frame.size() >= kDataFrameMinimumBeforeEnd) return true;
                continue;
            }
            if (frame.size() == kFrameBufferSize) {
                purgeBoth();
                return fail(LinkFailure::FrameTooLong);
            }
            frame.push_back(byte);
            AdvanceProgress(1);
        }
    } catch (const SerialError& error) {
        return lineFailed(error);
    }
}

// The data frame, collected and unstuffed, at least long enough to hold a block.
bool BoardLink::collectFrame(std::vector<std::uint8_t>& frame) {
    if (!ReadDataFrame(frame)) return fail(failure_);
    const std::optional<std::size_t> length = UnescapeFrame(frame);
    if (!length) return fail(LinkFailure::FrameBadEscape);
    if (*length < kDataFrameMinimumSize) return fail(LinkFailure::FrameTooShort);
    return true;
}

bool BoardLink::ReadBlockData(std::span<std::uint8_t, kFlashBlockSize> block, std::size_t* frameSize) {
    std::vector<std::uint8_t> frame;
    if (!collectFrame(frame)) return false;
    if (frameSize && *frameSize != 0 && *frameSize != frame.size()) return fail(LinkFailure::FrameSizeChanged);
    if (frameSize) *frameSize = frame.size();
    std::copy_n(frame.begin() + kDataFrameBlockStart, kFlashBlockSize, block.begin());
    return true;
}

bool BoardLink::ReadCheckedBlock(std::uint32_t address, std::span<std::uint8_t, kFlashBlockSize> block,
                                 std::size_t* frameSize) {
    failureDetail_.clear();
    std::vector<std::uint8_t> frame;
    if (!collectFrame(frame)) return false;
    if (const std::optional<FrameProblem> problem = checkDataFrame(frame, address)) {
        failureDetail_ = problem->detail;
        return fail(problem->failure);
    }
    if (frameSize && *frameSize != 0 && *frameSize != frame.size()) return fail(LinkFailure::FrameSizeChanged);
    if (frameSize) *frameSize = frame.size();
    std::copy_n(frame.begin() + kDataFrameBlockStart, kFlashBlockSize, block.begin());
    return true;
}

ProbeResult BoardLink::ProbeBoard() {
    failure_ = LinkFailure::None;
    if (!line_.isOpen()) {
        failure_ = LinkFailure::NotOpen;
        return ProbeResult::PortNotOpen;
    }
    try {
        purgeBoth();
        line_.write(&kProbeByte, 1);
        ++lineBytes_;
        AdvanceProgress(1);
        if (!awaitByte(kProbeWindow)) {
            failure_ = LinkFailure::Timeout;
            return ProbeResult::NoAnswer;
        }
        if (takeByte() != kAcceptedByte) {
            failure_ = LinkFailure::Refused;
            return ProbeResult::WrongAnswer;
        }
        purgeBoth();
        return ProbeResult::Answered;
    } catch (const SerialError& error) {
        // The dialog closing while its probe waits closes the port: that is
        // the operator's cancel, not a failing line.
        if (error.step() == SerialStep::NotOpen) {
            failure_ = LinkFailure::NotOpen;
            return ProbeResult::PortNotOpen;
        }
        failure_ = LinkFailure::LineFailed;
        failureDetail_ = error.reason();
        ClosePort();
        host_.showNotice(plainNotice(kPortErrorText));
        return ProbeResult::LineFailed;
    }
}

ProbeOutcome ProbeUntilAnswered(BoardLink& link, const std::string& portName, std::chrono::milliseconds timeout) {
    LinkBusy busy(link.state());
    ProbeOutcome outcome;
    if (!link.OpenLinkPort(portName)) {
        outcome.result = ProbeResult::PortNotOpen;
        outcome.detail = link.failureDetail();
        return outcome;
    }
    // The first probe comes a tick after the port opens, as the connection
    // dialog's first comes on its timer's first tick.
    link.host().delay(std::chrono::milliseconds(kProbeIntervalMs));
    const Clock::time_point start = link.host().now();
    for (;;) {
        link.SetProgress(0);
        outcome.result = link.ProbeBoard();
        ++outcome.probes;
        const std::string probe = "probe " + std::to_string(outcome.probes) + ": 0E sent, ";
        if (outcome.result == ProbeResult::Answered) link.host().note(probe + "answered 06");
        if (outcome.result == ProbeResult::NoAnswer)
            link.host().note(probe + "no answer within " + std::to_string(kProbeWindow.count()) + " ms");
        if (outcome.result == ProbeResult::WrongAnswer) link.host().note(probe + "answered another byte than 06");
        if (outcome.result == ProbeResult::LineFailed) outcome.detail = link.failureDetail();
        if (outcome.result != ProbeResult::NoAnswer && outcome.result != ProbeResult::WrongAnswer) break;
        if (link.host().now() - start >= timeout) break;
        link.host().delay(std::chrono::milliseconds(kProbeIntervalMs));
    }
    link.ClosePort();
    return outcome;
}

std::string describeProbe(const ProbeOutcome& outcome) {
    const auto probes = [&] {
        return " (" + std::to_string(outcome.probes) + (outcome.probes == 1 ? " probe)" : " probes)");
    };
    switch (outcome.result) {
        case ProbeResult::Answered: return "the board's flash loader answered";
        case ProbeResult::NoAnswer: return "no answer from the board's flash loader" + probes();
        case ProbeResult::WrongAnswer: return "something answered, but not the board's flash loader" + probes();
        case ProbeResult::PortNotOpen:
            return outcome.detail.empty() ? "the port is not open" : "cannot open the port: " + outcome.detail;
        case ProbeResult::LineFailed: return "the serial line failed: " + outcome.detail;
    }
    return "unknown result";
}

}  // namespace qm730
