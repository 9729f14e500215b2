// The configuration transfer with the board: a logon ("ID=" answers a CR), a
// service request, then either the upload blocks (after the board's go-ahead)
// or the checksummed download frame.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <string>
#include <string_view>

#include "core/config/image.h"
#include "core/link/operation_bound.h"
#include "core/link/serial_line.h"
#include "core/link/operation_host.h"
#include "core/link/transfer_layout.h"
#include "core/link/upload_block.h"

namespace qm730 {

// Texts the transfer dialog shows and logs.
inline constexpr const char* kSendingStatus = "  Transfering Now ......";
inline constexpr const char* kReceivingStatus = "  Downloading Now ......";
inline constexpr const char* kLogonOk = "+++ID= OK";
inline constexpr const char* kLogonError = "+++ID= Error";
inline constexpr const char* kGoAheadOk = "++[P= OK";
inline constexpr const char* kGoAheadError = "+++[P= Error";

Notice commandResponseErrorNotice();

// The board's answer window, counted from the start of each wait.
inline constexpr std::chrono::milliseconds kAnswerWindow{2000};
// After the first byte of an answer, the rest of it is given this long to
// arrive, as a UART's receive FIFO would hand a short answer over in one
// piece (at 19200 baud a 6-byte answer takes 3.4 ms on the wire).
inline constexpr std::chrono::milliseconds kAnswerSettle{5};
// A board that falls silent this long in the middle of the download frame
// has stopped; the read ends as failed and the image stays as it was.
inline constexpr std::chrono::milliseconds kFrameSilenceTimeout{2000};
// An upload counts as sent once the driver has put its last byte on the
// line; a driver that sends nothing more for this long has stalled.
inline constexpr std::chrono::milliseconds kDrainStallTimeout{2000};
inline constexpr int kDrainPollMs = 10;
inline constexpr int kLogonPauseMs = 200;
inline constexpr int kGoAheadPauseMs = 400;
inline constexpr int kFramePauseMs = 50;
// More input than this waiting means the line carries garbage, not an answer.
inline constexpr std::size_t kResponseBufferSize = 9000;
// Of an answer, this many bytes are kept to tell the operator what came.
inline constexpr std::size_t kAnswerKept = 32;

// Why a transfer ended without success.
enum class TransferFailure {
    None,
    NoLogonAnswer,      // not a byte within the answer window
    WrongLogonAnswer,   // an answer that does not begin with "ID=" (blanks alone included)
    NoGoAhead,          // not a byte in answer to the upload request
    WrongGoAhead,       // an answer other than the go-ahead (a NAK included)
    InputFlood,         // more than 9,000 bytes waiting for an answer or the frame
    NoFrame,            // the board sent nothing after the download request
    FrameTimeout,       // the board stopped part-way through the frame
    FrameChecksum,
    LineFailed,         // the port refused a write, read or purge
    TooSlow,            // the line kept moving, but the transfer ran past its bound
};

// The bytes of an answer as an operator reads them: printable runs quoted,
// control characters by name, other bytes in hex: ACK CR ESC "[p".
std::string describeAnswer(std::string_view bytes);

class ConfigTransfer {
public:
    ConfigTransfer(ConfigImage& image, SerialLine& line, OperationHost& host);

    // Program to board; true when the logon and go-ahead succeeded and every
    // block was written.
    bool SendConfiguration();
    // Board to program; true only when the frame arrived whole with a
    // matching checksum, and only then is the image changed.
    bool ReceiveConfiguration();

    // The whole transfer is given twice its wire time (the bytes both ways
    // at 19200 baud and the fixed delays) plus 30 s; this replaces that
    // limit, for trying the bound without waiting for it.
    void setTimeLimit(std::chrono::milliseconds limit) { timeLimit_ = limit; }

    TransferFailure failure() const { return failure_; }
    // The port's own complaint when failure() is LineFailed.
    const std::string& lineError() const { return lineError_; }
    // Why the transfer failed, in one line for a tool tip, a log or a
    // terminal; the port is not named. What a board answered instead of
    // the expected answer is quoted.
    std::string failureReason() const;
    // Every byte the last wait for an answer read, blanks included (at most
    // kAnswerKept of them).
    const std::string& answerBytes() const { return answerBytes_; }

    // The steps, open for the tests.
    void PackConfiguration();
    void UnpackConfiguration();
    void BuildBlock(std::size_t start, bool first, bool last);
    void WaitResponse();
    void DelayMs(int milliseconds) { host_.delay(std::chrono::milliseconds(milliseconds)); }

    const std::string& responseText() const { return responseText_; }
    std::span<const std::uint8_t> block() const { return block_.wire(); }
    std::size_t blockCursor() const { return blockCursor_; }
    std::span<std::uint8_t> transferBuffer() { return transferBuffer_; }

private:
    class Bounded;  // the bound of one transfer, from its start to its end

    bool logon(char service);
    bool checkGoAhead();
    bool sendBlocks(std::size_t blocks, std::size_t lineBytes);
    bool waitUntilSent(std::size_t lineBytes);
    bool receiveFrame();
    bool fail(TransferFailure failure);
    // Gives up a transfer that has run past its bound; `who` says what moved
    // how many of the expected bytes ("the board sent").
    bool tooSlow(const char* who, std::size_t done, std::size_t expected);
    // The failure of an answer that was not the expected one.
    bool failAnswer(TransferFailure none, TransferFailure wrong);
    void sendByte(std::uint8_t byte);
    // The blocks the stream makes and their bytes on the line; escapes
    // decide both.
    std::pair<std::size_t, std::size_t> countBlocks();

    ConfigImage& image_;
    SerialLine& line_;
    OperationHost& host_;

    // Upload stream and download frame share this buffer. Nothing writes
    // past the stream, so the last block pads from zeros.
    std::array<std::uint8_t, kTransferBufferSize> transferBuffer_{};
    std::array<std::uint8_t, kResponseBufferSize + 1> responseBuffer_{};
    std::string responseText_;
    std::string answerBytes_;
    bool answerFlooded_ = false;
    std::size_t frameReceived_ = 0;  // bytes of a download frame that stopped short
    UploadBlock block_;
    std::size_t blockCursor_ = 0;

    TransferFailure failure_ = TransferFailure::None;
    std::string lineError_;
    std::optional<std::chrono::milliseconds> timeLimit_;
    std::size_t uploadWritten_ = 0;  // bytes of the upload's blocks the port has taken
    OperationBound bound_;
    std::string tooSlowText_;
};

}  // namespace qm730
