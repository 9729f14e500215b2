#include "core/link/boardlink.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace qm730 {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

void putLittleEndian(std::vector<std::uint8_t>& frame, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) frame.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t littleEndian(std::span<const std::uint8_t> frame, std::size_t at, std::size_t bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = bytes; i-- > 0;) value = value << 8 | frame[at + i];
    return value;
}

std::string hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
    return text;
}

// Where the fields of a data frame lie once it is unstuffed.
constexpr std::size_t kDataLengthAt = 2, kDataCommandAt = 4, kDataAddressAt = 6, kDataComplementAt = 9,
                      kDataCountAt = 12;
constexpr std::uint32_t kDataLength = kFlashBlockSize + 10;

std::optional<FrameProblem> layoutProblem(std::span<const std::uint8_t> frame) {
    const auto problem = [](std::string detail) { return FrameProblem{LinkFailure::FrameLayout, std::move(detail)}; };
    if (frame.size() != kDataFrameSize)
        return problem("it is " + std::to_string(frame.size()) + " bytes instead of " + std::to_string(kDataFrameSize));
    if (frame[0] != kFrameStart) return problem("it begins with " + hex(frame[0], 2) + " instead of 02");
    const std::uint8_t command = board_command::kReadBlock;
    if (frame[kDataCommandAt] != command || frame[kDataCommandAt + 1] != static_cast<std::uint8_t>(~command))
        return problem("its command is " + hex(frame[kDataCommandAt], 2) + " " + hex(frame[kDataCommandAt + 1], 2) +
                       " instead of 12 ED");
    if (const std::uint32_t length = littleEndian(frame, kDataLengthAt, 2); length != kDataLength)
        return problem("its length field says " + std::to_string(length) + " instead of " + std::to_string(kDataLength));
    if (const std::uint32_t count = littleEndian(frame, kDataCountAt, 2); count != kFlashBlockSize)
        return problem("its count says " + std::to_string(count) + " instead of " + std::to_string(kFlashBlockSize));
    return std::nullopt;
}

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

Notice portOpenNotice(const ECommError& error) {
    return plainNotice(error.ErrorCode == comm_error::kOpenFailed ? kPortInUseText : kPortErrorText);
}

std::uint8_t NextHtag(std::uint8_t htag) {
    const auto next = static_cast<std::uint8_t>(htag + 1);
    return next == 0xFF ? kFirstHtag : next;
}

std::vector<std::uint8_t> BuildRequestFrame(std::uint8_t htag, std::uint8_t command, std::uint8_t complement,
                                            std::uint32_t address, std::uint16_t count,
                                            std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> frame;
    frame.reserve(kRequestHeaderSize + data.size() + 2);
    frame.push_back(kFrameStart);
    frame.push_back(htag);
    putLittleEndian(frame, static_cast<std::uint16_t>(count + 10), 2);
    frame.push_back(command);
    frame.push_back(complement);
    frame.insert(frame.end(), kBoardKey.begin(), kBoardKey.end());
    putLittleEndian(frame, address & 0xFFFFFF, 3);
    putLittleEndian(frame, ~address & 0xFFFFFF, 3);
    putLittleEndian(frame, count, 2);
    frame.insert(frame.end(), data.begin(), data.end());
    std::uint16_t sum = 0;
    for (std::uint8_t byte : frame) sum = static_cast<std::uint16_t>(sum + byte);
    putLittleEndian(frame, sum, 2);
    return frame;
}

std::size_t EscapeFrame(std::vector<std::uint8_t>& frame) {
    std::vector<std::uint8_t> stuffed;
    stuffed.reserve(frame.size() + frame.size() / 8 + 4);
    for (std::uint8_t byte : frame) {
        if (byte == kFrameEnd || byte == kFrameEscape) {
            stuffed.push_back(kFrameEscape);
            stuffed.push_back(static_cast<std::uint8_t>(~byte));
        } else {
            stuffed.push_back(byte);
        }
    }
    frame.swap(stuffed);
    return frame.size();
}

std::optional<std::size_t> UnescapeFrame(std::vector<std::uint8_t>& frame) {
    std::vector<std::uint8_t> plain;
    plain.reserve(frame.size());
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (frame[i] != kFrameEscape) {
            plain.push_back(frame[i]);
            continue;
        }
        if (i + 1 == frame.size()) return std::nullopt;
        const std::uint8_t standsFor = static_cast<std::uint8_t>(~frame[++i]);
        if (standsFor != kFrameEnd && standsFor != kFrameEscape) return std::nullopt;
        plain.push_back(standsFor);
    }
    frame.swap(plain);
    return frame.size();
}

std::optional<FrameProblem> checkDataFrame(std::span<const std::uint8_t> frame, std::uint32_t address) {
    if (auto problem = layoutProblem(frame)) return problem;
    // A bit that flipped anywhere on the way shows in the sum.
    const std::size_t sumAt = kDataFrameSize - 2;
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < sumAt; ++i) sum = static_cast<std::uint16_t>(sum + frame[i]);
    if (const std::uint32_t carried = littleEndian(frame, sumAt, 2); carried != sum)
        return FrameProblem{LinkFailure::FrameChecksum,
                            "it carries the sum " + hex(carried, 4) + ", its bytes add up to " + hex(sum, 4)};
    // A sound frame of another block would be kept in this one's place.
    const std::uint32_t carried = littleEndian(frame, kDataAddressAt, 3);
    if (carried != (address & 0xFFFFFF))
        return FrameProblem{LinkFailure::FrameWrongBlock,
                            "it carries address " + hex(carried, 5) + " where " + hex(address, 5) + " was asked for"};
    if (const std::uint32_t complement = littleEndian(frame, kDataComplementAt, 3); complement != (~address & 0xFFFFFF))
        return FrameProblem{LinkFailure::FrameLayout, "its address complement " + hex(complement, 6) +
                                                          " does not match address " + hex(carried, 5)};
    return std::nullopt;
}

LinkState& linkState() {
    static LinkState state;
    return state;
}

std::string describeLinkFailure(LinkFailure failure) {
    switch (failure) {
        case LinkFailure::None: return "no failure";
        case LinkFailure::PortFailed: return "the port could not be opened";
        case LinkFailure::NotOpen: return "the port was not open";
        case LinkFailure::Timeout: return "the board did not answer in time";
        case LinkFailure::Refused: return "the board refused the command";
        case LinkFailure::FrameTooLong: return "the board's data frame did not end within 10000 bytes";
        case LinkFailure::FrameTooShort: return "the board's data frame was too short to hold a block";
        case LinkFailure::FrameBadEscape: return "the board's data frame held a broken escape sequence";
        case LinkFailure::FrameSizeChanged: return "the board's data frame differed in size from the ones before it";
        case LinkFailure::FrameLayout: return "the board's data frame was not laid out as the answer to a block read";
        case LinkFailure::FrameChecksum: return "the board's data frame had a wrong checksum";
        case LinkFailure::FrameWrongBlock: return "the board's data frame held another block than the one asked for";
        case LinkFailure::LineFailed: return "the serial line failed";
        case LinkFailure::TooSlow: return "the board answered far slower than the line";
    }
    return "unknown failure";
}

bool isDamagedFrame(LinkFailure failure) {
    switch (failure) {
        case LinkFailure::FrameTooLong:
        case LinkFailure::FrameTooShort:
        case LinkFailure::FrameBadEscape:
        case LinkFailure::FrameSizeChanged:
        case LinkFailure::FrameLayout:
        case LinkFailure::FrameChecksum:
        case LinkFailure::FrameWrongBlock: return true;
        default: return false;
    }
}

BoardLink::BoardLink(TCommPort& port, LinkHost& host, LinkState& state) : port_(port), host_(host), state_(state) {}

bool BoardLink::fail(LinkFailure failure) {
    failure_ = failure;
    state_.LinkError = true;
    return false;
}

// A device that fails in the middle of an exchange is given up: the port is
// closed so that the next operation starts clean. A write cut off at the
// operation's deadline is the bound, not the device.
bool BoardLink::lineFailed(const ECommError& error) {
    if (bound_.passed(Clock::now())) return tooSlow();
    failureDetail_ = error.reason();
    ClosePort();
    return fail(LinkFailure::LineFailed);
}

bool BoardLink::tooSlow() {
    failureDetail_ =
        farSlowerText("the line carried", lineBytes_, expectedBytes_, bound_.elapsed(Clock::now()));
    return fail(LinkFailure::TooSlow);
}

void BoardLink::beginOperation(const WireTime& wire) {
    bound_.start(Clock::now(), timeLimit_.value_or(wire.limit()));
    expectedBytes_ = wire.bytes;
    lineBytes_ = 0;
    port_.SetWriteDeadline(bound_.deadline());
}

void BoardLink::extendOperation(const WireTime& more) {
    bound_.extend(2 * more.duration());
    expectedBytes_ += more.bytes;
    if (bound_.running()) port_.SetWriteDeadline(bound_.deadline());
}

void BoardLink::endOperation() {
    bound_.stop();
    port_.SetWriteDeadline(std::nullopt);
}

bool BoardLink::noByte() { return bound_.passed(Clock::now()) ? tooSlow() : timedOut(); }

std::uint8_t BoardLink::takeByte() {
    const std::uint8_t byte = port_.ReadByte();
    ++lineBytes_;
    return byte;
}

bool BoardLink::timedOut() {
    try {
        port_.Purge();
    } catch (const ECommError& error) {
        return lineFailed(error);
    }
    return fail(LinkFailure::Timeout);
}

void BoardLink::ClosePort() noexcept {
    try {
        port_.ClosePort();
    } catch (const ECommError&) {
        // The descriptor is released whatever close() said; nothing is left to do.
    }
}

bool BoardLink::Purge() {
    try {
        port_.Purge();
        return true;
    } catch (const ECommError& error) {
        return lineFailed(error);
    }
}

void BoardLink::SetProgress(int position) {
    state_.progress = position;
    host_.setProgressPosition(position);
}

void BoardLink::AdvanceProgress(std::size_t by) {
    SetProgress(state_.progress + static_cast<int>(by));
}

// Blocks on the device until a byte is waiting or the window has passed
// without one. Windows get their messages processed between slices; a byte
// is taken as soon as it arrives. Throws ECommError when the line fails.
bool BoardLink::awaitByte(std::chrono::milliseconds window) {
    const Clock::time_point start = Clock::now();
    // Past the operation's bound no byte is taken, however many wait.
    if (bound_.passed(start)) return false;
    const Clock::time_point deadline = start + bound_.clip(window, start);
    for (;;) {
        if (port_.BytesWaiting() > 0) return true;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return false;
        auto slice = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        if (host_.pumpsEvents()) {
            host_.processEvents();
            slice = std::min(slice, kEventSlice);
        }
        // A device that reports input it then does not count must not turn
        // the wait into a spin.
        if (port_.WaitForInput(slice) && port_.BytesWaiting() == 0) std::this_thread::sleep_for(1ms);
    }
}

bool BoardLink::OpenLinkPort(const std::string& portName) {
    failure_ = LinkFailure::None;
    failureDetail_.clear();
    try {
        port_.Configure(kBoardBaudRate, portName, kFormat8N2);
        host_.note("port open at 19200 baud, 8 data bits, no parity, 2 stop bits");
        return true;
    } catch (const ECommError& error) {
        failure_ = LinkFailure::PortFailed;
        failureDetail_ = error.reason();
        ClosePort();
        host_.showNotice(portOpenNotice(error));
        return false;
    }
}

bool BoardLink::OpenBoardLink(const std::string& portName) {
    if (!OpenLinkPort(portName)) return false;
    try {
        port_.PulseRts(false);  // no RTS pulse is wanted; nothing happens on the line
    } catch (const ECommError&) {
    }
    host_.DelayMs(kPortSettleMs);
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
    if (port_.IsOpen() && !Purge()) return false;
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
    if (!port_.IsOpen()) {
        failure_ = LinkFailure::NotOpen;
        return false;
    }
    try {
        port_.Write(bytes.data(), bytes.size());
    } catch (const ECommError& error) {
        return lineFailed(error);
    }
    lineBytes_ += bytes.size();
    AdvanceProgress(bytes.size());
    return true;
}

bool BoardLink::ReadReply(std::span<std::uint8_t> buffer) {
    if (!port_.IsOpen()) {
        failure_ = LinkFailure::NotOpen;
        return false;
    }
    const auto window = state_.QuietWait ? kQuietWindow : kReplyWindow;
    try {
        for (std::uint8_t& byte : buffer) {
            if (!awaitByte(window)) return noByte();
            byte = takeByte();
        }
    } catch (const ECommError& error) {
        return lineFailed(error);
    }
    return true;
}

bool BoardLink::ReadDataFrame(std::vector<std::uint8_t>& frame) {
    failure_ = LinkFailure::None;
    frame.clear();
    if (!port_.IsOpen()) {
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
                port_.Purge();
                return fail(LinkFailure::FrameTooLong);
            }
            frame.push_back(byte);
            AdvanceProgress(1);
        }
    } catch (const ECommError& error) {
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
    if (!port_.IsOpen()) {
        failure_ = LinkFailure::NotOpen;
        return ProbeResult::PortNotOpen;
    }
    try {
        port_.Purge();
        port_.Write(&kProbeByte, 1);
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
        port_.Purge();
        return ProbeResult::Answered;
    } catch (const ECommError& error) {
        // The dialog closing while its probe waits closes the port: that is
        // the operator's cancel, not a failing line.
        if (error.ErrorCode == comm_error::kNotOpen) {
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
    link.host().DelayMs(kProbeIntervalMs);
    const Clock::time_point start = Clock::now();
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
        if (Clock::now() - start >= timeout) break;
        link.host().DelayMs(kProbeIntervalMs);
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
