#include "core/link/transfer_protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>


namespace qm730 {

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kLogonAnswer = "ID=";
constexpr std::uint8_t kGoAhead[] = {ascii::ACK, ascii::CR, ascii::ESC, '[', 'p'};
constexpr char kUploadService = '2';
constexpr char kDownloadService = '3';
// The last blocks are marked ETX once fewer stream bytes than this remain.
constexpr std::size_t kLastBlockThreshold = 220;
// The logon on the line: CR, the answer "ID=" CR, the service request
// ESC P G d CR; and the go-ahead with its CR.
constexpr std::size_t kLogonLineBytes = 1 + 4 + 5;
constexpr std::size_t kGoAheadLineBytes = sizeof kGoAhead + 1;

// The text up to the first zero byte, without trailing blanks and control
// characters; leading and inner ones stay.
std::string answerText(const std::uint8_t* bytes, std::size_t count) {
    std::size_t length = 0;
    while (length < count && bytes[length] != 0) ++length;
    while (length > 0 && bytes[length - 1] <= 0x20) --length;
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

}  // namespace

Notice commandResponseErrorNotice() {
    return {"Command & Response Error!!!", "Transfermission Error", NoticeButtons::Ok, NoticeIcon::None};
}

std::string describeAnswer(std::string_view bytes) {
    static constexpr const char* kControlNames[32] = {
        "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",  "VT",  "FF", "CR",  "SO",  "SI",
        "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS", "GS",  "RS",  "US"};
    std::string out;
    bool quoting = false;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            if (!quoting) {
                if (!out.empty()) out += ' ';
                out += '"';
                quoting = true;
            }
            if (c == '"' || c == '\\') out += '\\';
            out += c;
            continue;
        }
        if (quoting) out += '"';
        quoting = false;
        if (!out.empty()) out += ' ';
        if (byte < 0x20) {
            out += kControlNames[byte];
        } else if (byte == 0x7F) {
            out += "DEL";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", byte);
            out += hex;
        }
    }
    if (quoting) out += '"';
    return out;
}

std::string ConfigTransfer::failureReason() const {
    const auto answer = [&] {
        if (answerBytes_.size() <= kAnswerKept) return describeAnswer(answerBytes_);
        return describeAnswer(std::string_view(answerBytes_).substr(0, kAnswerKept)) + " ...";
    };
    switch (failure_) {
        case TransferFailure::None: return "no failure";
        case TransferFailure::NoLogonAnswer: return "the board did not answer the logon within 2 seconds";
        case TransferFailure::WrongLogonAnswer: return "the board answered " + answer() + " instead of \"ID=\"";
        case TransferFailure::NoGoAhead: return "the board did not answer the upload request within 2 seconds";
        case TransferFailure::WrongGoAhead: return "the board answered " + answer() + " instead of the go-ahead";
        case TransferFailure::InputFlood: return "more than 9,000 unexpected bytes were waiting on the line";
        case TransferFailure::NoFrame: return "the board sent no configuration within 2 seconds of the request";
        case TransferFailure::FrameTimeout:
            // A few bytes are an answer of another kind (a NAK, say), and
            // the operator is shown it; more are a frame broken off.
            if (frameReceived_ <= kAnswerKept) return "the board answered " + answer() + " instead of the configuration";
            return "the board stopped sending after " + std::to_string(frameReceived_) + " of " +
                   std::to_string(kDownloadFrameSize) + " bytes of the configuration";
        case TransferFailure::FrameChecksum: return "the configuration from the board has a wrong checksum";
        case TransferFailure::LineFailed:
            return lineError_.empty() ? "the serial line failed" : "the serial line failed: " + lineError_;
        case TransferFailure::TooSlow: return tooSlowText_;
    }
    return "unknown failure";
}

ConfigTransfer::ConfigTransfer(ConfigImage& image, SerialLine& line, OperationHost& host)
    : image_(image), line_(line), host_(host) {}

// The bound of one transfer: it starts with the transfer and is lifted when
// the transfer ends, however it ends. Writes are held to it in the line
// itself, so a line that drains, but far too slowly, cannot outlast it.
// Meanwhile the line gives the host its turns while it waits.
class ConfigTransfer::Bounded {
public:
    Bounded(ConfigTransfer& transfer, const WireTime& wire) : transfer_(transfer), waits_(transfer.line_, transfer.host_) {
        const std::chrono::milliseconds limit = transfer_.timeLimit_.value_or(wire.limit());
        transfer_.bound_.start(transfer_.host_.now(), limit);
        transfer_.line_.setWriteDeadline(transfer_.host_.now() + limit);
    }
    ~Bounded() {
        transfer_.bound_.stop();
        transfer_.line_.setWriteDeadline(std::nullopt);
    }
    Bounded(const Bounded&) = delete;
    Bounded& operator=(const Bounded&) = delete;

private:
    ConfigTransfer& transfer_;
    HostedWaits waits_;
};

bool ConfigTransfer::fail(TransferFailure failure) {
    failure_ = failure;
    return false;
}

bool ConfigTransfer::tooSlow(const char* who, std::size_t done, std::size_t expected) {
    tooSlowText_ = farSlowerText(who, done, expected, bound_.elapsed(host_.now()));
    return fail(TransferFailure::TooSlow);
}

// A board that sent something, even blanks or a NAK, answered; only one
// that sent nothing at all did not.
bool ConfigTransfer::failAnswer(TransferFailure none, TransferFailure wrong) {
    if (answerFlooded_) return fail(TransferFailure::InputFlood);
    return fail(answerBytes_.empty() ? none : wrong);
}

void ConfigTransfer::sendByte(std::uint8_t byte) { line_.write(&byte, 1); }

void ConfigTransfer::PackConfiguration() { packUploadStream(image_, transferBuffer_.data()); }

void ConfigTransfer::UnpackConfiguration() { unpackDownloadFrame(transferBuffer_.data(), image_); }

void ConfigTransfer::BuildBlock(std::size_t start, bool first, bool last) {
    block_ = buildUploadBlock(std::span<const std::uint8_t>(transferBuffer_).subspan(start), first, last);
    blockCursor_ = start + block_.streamTaken;
}

void ConfigTransfer::WaitResponse() {
    const auto start = host_.now();
    answerBytes_.clear();
    answerFlooded_ = false;
    for (;;) {
        const std::size_t waiting = line_.bytesWaiting();
        if (waiting > kResponseBufferSize) {
            line_.purgeInput();
            responseText_.clear();
            answerFlooded_ = true;
            return;
        }
        const std::size_t got = line_.readAvailable(responseBuffer_.data(), waiting);
        // One byte more than is shown tells that the answer went on.
        const std::size_t keep = std::min(got, kAnswerKept + 1 - std::min(answerBytes_.size(), kAnswerKept + 1));
        answerBytes_.append(reinterpret_cast<const char*>(responseBuffer_.data()), keep);
        responseBuffer_[got] = 0;
        responseText_ = answerText(responseBuffer_.data(), got);
        if (!responseText_.empty()) return;
        const auto elapsed = host_.now() - start;
        if (elapsed > kAnswerWindow) return;
        // Sleep on the device for the rest of the window (and one tick more,
        // so a last look comes after the window has passed).
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(kAnswerWindow - elapsed) + 1ms;
        if (line_.waitReadable(left)) host_.pause(kAnswerSettle);
    }
}

bool ConfigTransfer::logon(char service) {
    sendByte(ascii::CR);
    WaitResponse();
    if (responseText_.size() < kLogonAnswer.size() || responseText_.compare(0, kLogonAnswer.size(), kLogonAnswer) != 0) {
        host_.logLine(kLogonError);
        return failAnswer(TransferFailure::NoLogonAnswer, TransferFailure::WrongLogonAnswer);
    }
    host_.logLine(kLogonOk);
    host_.note("logon answered " + describeAnswer(answerBytes_));
    DelayMs(kLogonPauseMs);
    const std::uint8_t request[] = {ascii::ESC, 'P', 'G', static_cast<std::uint8_t>(service), ascii::CR};
    for (std::uint8_t byte : request) sendByte(byte);
    host_.note("service request " +
                  describeAnswer(std::string_view(reinterpret_cast<const char*>(request), sizeof request)) + " sent");
    return true;
}

bool ConfigTransfer::checkGoAhead() {
    DelayMs(kGoAheadPauseMs);
    WaitResponse();
    const bool matches = responseText_.size() >= sizeof kGoAhead &&
                         std::memcmp(responseText_.data(), kGoAhead, sizeof kGoAhead) == 0;
    if (!matches) {
        host_.logLine(kGoAheadError);
        return failAnswer(TransferFailure::NoGoAhead, TransferFailure::WrongGoAhead);
    }
    host_.logLine(kGoAheadOk);
    host_.note("go-ahead received");
    return true;
}

std::pair<std::size_t, std::size_t> ConfigTransfer::countBlocks() {
    const std::span<const std::uint8_t> stream(transferBuffer_);
    UploadBlock block = buildUploadBlock(stream, true, false);
    std::size_t blocks = 1, lineBytes = block.length;
    for (std::size_t cursor = block.streamTaken; cursor < kUploadStreamSize; ++blocks) {
        block = buildUploadBlock(stream.subspan(cursor), false, kUploadStreamSize - cursor < kLastBlockThreshold);
        cursor += block.streamTaken;
        lineBytes += block.length;
    }
    return {blocks, lineBytes};
}

// Blocks follow one another without a pause; each goes out in one write.
bool ConfigTransfer::sendBlocks(std::size_t blocks, std::size_t lineBytes) {
    const std::string ofBlocks = " of " + std::to_string(blocks) + " sent";
    std::size_t sent = 0;
    const auto send = [&] {
        line_.write(block_.bytes.data(), block_.length);
        uploadWritten_ += block_.length;
        host_.note("block " + std::to_string(++sent) + ofBlocks);
        return !bound_.passed(host_.now());
    };
    BuildBlock(0, true, false);
    if (!send()) return tooSlow("the port sent", uploadWritten_, lineBytes);
    while (blockCursor_ < kUploadStreamSize) {
        host_.setProgress(static_cast<int>(blockCursor_));
        host_.refresh();
        const bool last = kUploadStreamSize - blockCursor_ < kLastBlockThreshold;
        BuildBlock(blockCursor_, false, last);
        if (!send()) return tooSlow("the port sent", uploadWritten_, lineBytes);
    }
    return true;
}

// Success means the blocks have left the computer, not that they wait in the
// driver's buffer (a few seconds of line time on a UART), so the operator is
// not told to disconnect while the board is still receiving. A driver that
// stops sending fails the line; one that sends, but far too slowly, runs
// into the bound.
bool ConfigTransfer::waitUntilSent(std::size_t lineBytes) {
    std::size_t unsent = line_.bytesUnsent();
    auto lastProgress = host_.now();
    while (unsent > 0) {
        if (bound_.passed(host_.now())) return tooSlow("the port sent", lineBytes - std::min(unsent, lineBytes), lineBytes);
        if (host_.now() - lastProgress > kDrainStallTimeout) {
            lineError_ = "the port stopped sending the last bytes";
            return fail(TransferFailure::LineFailed);
        }
        DelayMs(kDrainPollMs);
        const std::size_t now = line_.bytesUnsent();
        if (now < unsent) lastProgress = host_.now();
        unsent = now;
    }
    return true;
}

bool ConfigTransfer::SendConfiguration() {
    failure_ = TransferFailure::None;
    PackConfiguration();
    const auto [blocks, lineBytes] = countBlocks();
    const Bounded bounded(*this, {kLogonLineBytes + kGoAheadLineBytes + lineBytes,
                                  std::chrono::milliseconds(kLogonPauseMs + kGoAheadPauseMs)});
    uploadWritten_ = 0;
    host_.setStatus(kSendingStatus);
    host_.setProgressRange(0, static_cast<int>(kUploadStreamSize));
    bool accepted = false;
    try {
        line_.purgeOutput();
        line_.purgeInput();
        accepted = logon(kUploadService) && checkGoAhead();
    } catch (const SerialError& e) {
        lineError_ = e.reason();
        fail(TransferFailure::LineFailed);
    }
    if (!accepted) {
        host_.showNotice(commandResponseErrorNotice());
        return false;
    }
    try {
        if (!sendBlocks(blocks, lineBytes) || !waitUntilSent(lineBytes)) return false;
    } catch (const SerialError& e) {
        if (e.step() == SerialStep::OutOfTime) return tooSlow("the port sent", uploadWritten_, lineBytes);
        lineError_ = e.reason();
        return fail(TransferFailure::LineFailed);
    }
    host_.note("the last block has left the port");
    return true;
}

bool ConfigTransfer::receiveFrame() {
    if (line_.bytesWaiting() > kResponseBufferSize) {
        line_.purgeInput();
        return fail(TransferFailure::InputFlood);
    }
    std::size_t received = 0;
    auto lastByteAt = host_.now();
    while (received < kDownloadFrameSize) {
        const auto now = host_.now();
        if (bound_.passed(now)) return tooSlow("the board sent", received, kDownloadFrameSize);
        const auto silent = now - lastByteAt;
        const auto left = bound_.clip(std::chrono::ceil<std::chrono::milliseconds>(kFrameSilenceTimeout - silent), now);
        if (silent >= kFrameSilenceTimeout || !line_.waitReadable(left)) {
            if (bound_.passed(host_.now())) return tooSlow("the board sent", received, kDownloadFrameSize);
            if (received == 0) return fail(TransferFailure::NoFrame);
            frameReceived_ = received;
            answerBytes_.assign(reinterpret_cast<const char*>(transferBuffer_.data()), std::min(received, kAnswerKept));
            return fail(TransferFailure::FrameTimeout);
        }
        const std::size_t got = line_.readAvailable(transferBuffer_.data() + received, kDownloadFrameSize - received);
        if (got == 0) {
            host_.pause(1ms);  // readable but empty: do not spin on it
            continue;
        }
        lastByteAt = host_.now();
        received += got;
        host_.setProgress(static_cast<int>(received - 1));
        host_.refresh();
    }
    host_.note("frame of " + std::to_string(kDownloadFrameSize) + " bytes received");
    if (!frameChecksumMatches(transferBuffer_.data())) return fail(TransferFailure::FrameChecksum);
    char sum[8];
    std::snprintf(sum, sizeof sum, "%04X", frameChecksum(transferBuffer_.data()));
    host_.note(std::string("checksum matches (") + sum + ")");
    return true;
}

bool ConfigTransfer::ReceiveConfiguration() {
    failure_ = TransferFailure::None;
    const Bounded bounded(*this, {kLogonLineBytes + kDownloadFrameSize,
                                  std::chrono::milliseconds(kLogonPauseMs + kFramePauseMs)});
    // Shown before the line is touched, so it is up even when the port fails.
    host_.setStatus(kReceivingStatus);
    host_.setProgressRange(0, static_cast<int>(kDownloadFrameSize));
    try {
        line_.purgeOutput();
        line_.purgeInput();
        if (!logon(kDownloadService)) return false;
        DelayMs(kFramePauseMs);
        if (!receiveFrame()) return false;
    } catch (const SerialError& e) {
        lineError_ = e.reason();
        return fail(TransferFailure::LineFailed);
    }
    UnpackConfiguration();
    return true;
}

}  // namespace qm730
