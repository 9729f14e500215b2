// The board link: framed commands to the board's flash loader over a serial
// line, and the one-byte presence probe. The frames themselves are
// boardframe.h's; this is the exchange: opening the port, sending, waiting
// for each byte within its window, the operation's bound and the failures.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/config/notice.h"
#include "core/link/boardframe.h"
#include "core/link/operation_bound.h"
#include "core/link/operation_host.h"
#include "core/link/serial_line.h"

namespace qm730 {

// Waits. Each is the longest silence tolerated before one expected byte,
// counted as 101 polls of the interval; measured on a monotonic clock and
// never shorter, whatever the system's sleep granularity.
inline constexpr int kPollsPerByte = 101;
inline constexpr std::chrono::milliseconds kReplyWindow{kPollsPerByte * 50};  // 5,050 ms
inline constexpr std::chrono::milliseconds kQuietWindow{kPollsPerByte * 3};   // 303 ms, the board check
inline constexpr std::chrono::milliseconds kProbeWindow{kPollsPerByte * 10};  // 1,010 ms
// The pause between opening the port and the board check.
inline constexpr int kPortSettleMs = 100;
// A byte the line has counted is read within this long, or the line has
// failed ("no byte arrived").
inline constexpr std::chrono::milliseconds kByteArrival{1000};
// The connection check probes this often until the board answers.
inline constexpr int kProbeIntervalMs = 100;

// Texts shown for the serial port.
inline constexpr const char* kPortInUseText = "Error opening comm port. Port already in use?";
inline constexpr const char* kPortErrorText = "Error opening comm port.";
inline constexpr const char* kConnectionSuccessText = "Connection Success !";

// The link's state, which a program keeps for its whole run as it keeps its
// port: Htag runs on across writes and connection checks.
struct LinkState {
    std::uint8_t Htag = kFirstHtag;
    // Set by a reply that times out or refuses, by a failed read and by a
    // failing line; only the callers clear it.
    bool LinkError = false;
    // Set only while the board check's frame is exchanged: its reply is
    // waited for with the short window, and its failure means "no board".
    bool QuietWait = false;
    // The progress bar's position as the link has advanced it.
    int progress = 0;
    // A write or a connection check holds the port; other commands that
    // would open the same port should wait for it to end.
    bool busy = false;
};

// Marks the link busy for a scope.
class LinkBusy {
public:
    explicit LinkBusy(LinkState& state) : state_(state), previous_(state.busy) { state_.busy = true; }
    ~LinkBusy() { state_.busy = previous_; }
    LinkBusy(const LinkBusy&) = delete;
    LinkBusy& operator=(const LinkBusy&) = delete;

private:
    LinkState& state_;
    bool previous_;
};

enum class ProbeResult {
    Answered,     // 06
    NoAnswer,     // nothing within 1,010 ms
    WrongAnswer,  // a byte other than 06
    PortNotOpen,  // also when the port is closed while the probe waits (the dialog was cancelled)
    LineFailed,   // the port is closed again and "Error opening comm port." was shown: stop probing
};

class BoardLink {
public:
    // While the link lives, the line gives the host its turns when it waits.
    BoardLink(SerialLine& line, OperationHost& host, LinkState& state);

    // Opens the port at 19200 baud, 8 data bits, no parity, two stop bits.
    // On failure shows the port message and returns false (lastFailure()
    // is PortFailed, failureDetail() the system's complaint).
    bool OpenLinkPort(const std::string& portName);
    // Opens the port and runs the board check; true when the board accepted
    // it, and the port stays open. Otherwise the port is closed again.
    bool OpenBoardLink(const std::string& portName);

    // Builds, stuffs and sends one frame after discarding any stray input;
    // for every command but a block read, then waits for the 4-byte reply
    // and sets LinkError unless its byte 1 is 06. A block write takes its
    // data from the image at (address - 0xD0000). Returns whether the frame
    // went out (block read) or the reply was read in full.
    bool SendFrame(std::uint32_t address, std::uint16_t count, std::uint8_t command, std::uint8_t complement,
                   std::span<const std::uint8_t> image = {});
    // Writes the bytes if the port is open and advances the progress bar by
    // their number.
    bool SendRaw(std::span<const std::uint8_t> bytes);
    // Reads exactly buffer.size() bytes, each within the reply window (the
    // short one while QuietWait is set). On a time-out the input is purged
    // and LinkError set.
    bool ReadReply(std::span<std::uint8_t> buffer);
    // Collects a data frame up to its end byte (not stored), still stuffed;
    // every stored byte advances the progress bar. A frame longer than the
    // frame buffer fails. A port that is not open fails without touching
    // LinkError; every other failure sets it.
    bool ReadDataFrame(std::vector<std::uint8_t>& frame);
    // The checked answer to a block read: collects and unstuffs the data
    // frame and hands over bytes 14 to 2061. Any failure (not read, too
    // long, too short, a broken escape) sets LinkError. With frameSize, the
    // frames of a series are held to one size: a byte lost or added on the
    // line shifts the block without any other sign. 0 takes the size of the
    // frame that comes; any other value fails a frame of another size.
    bool ReadBlockData(std::span<std::uint8_t, kFlashBlockSize> block, std::size_t* frameSize = nullptr);
    // As ReadBlockData, and the whole frame is checked as checkDataFrame()
    // says: a block kept as the board's flash must be the block the board
    // sent for that address, as it sent it. failureDetail() tells what is
    // wrong with a damaged frame.
    bool ReadCheckedBlock(std::uint32_t address, std::span<std::uint8_t, kFlashBlockSize> block,
                          std::size_t* frameSize);
    // Sends 0E and waits up to 1,010 ms for the answer; 06 purges the port.
    ProbeResult ProbeBoard();

    // Discards pending input and output; false (the port closed, LinkError
    // set) when the line has failed.
    bool Purge();
    // Closes the port; never throws, and the port counts as closed after it.
    void ClosePort() noexcept;

    void SetProgress(int position);
    void AdvanceProgress(std::size_t by);

    // The bound of one operation (a firmware write, a read of the flash):
    // from now on every wait and every write of the link ends by twice the
    // wire time plus 30 s (or by the time limit, when one is set), and an
    // exchange still going then fails as TooSlow. extendOperation() adds the
    // time of work taken on later (a block read again, at twice its wire
    // time); endOperation() lifts the bound.
    void beginOperation(const WireTime& wire);
    void extendOperation(const WireTime& more);
    void endOperation();
    // Replaces the limit that the wire time gives, for trying the bound
    // without waiting for it.
    void setTimeLimit(std::chrono::milliseconds limit) { timeLimit_ = limit; }

    LinkFailure lastFailure() const { return failure_; }
    // The system's complaint behind PortFailed or LineFailed, what is wrong
    // with a damaged data frame, or how slow the line was (TooSlow).
    const std::string& failureDetail() const { return failureDetail_; }

    SerialLine& line() { return line_; }
    OperationHost& host() { return host_; }
    LinkState& state() { return state_; }

private:
    bool awaitByte(std::chrono::milliseconds window);
    std::uint8_t takeByte();
    bool collectFrame(std::vector<std::uint8_t>& frame);
    bool fail(LinkFailure failure);
    bool lineFailed(const SerialError& error);
    void purgeBoth();
    // No byte within its window: a time-out, or the operation's bound passed.
    bool noByte();
    bool timedOut();
    bool tooSlow();

    SerialLine& line_;
    OperationHost& host_;
    LinkState& state_;
    HostedWaits waits_;
    LinkFailure failure_ = LinkFailure::None;
    std::string failureDetail_;
    std::optional<std::chrono::milliseconds> timeLimit_;
    OperationBound bound_;
    std::uint64_t expectedBytes_ = 0;  // on the line both ways, as the operation's wire time counts them
    std::uint64_t lineBytes_ = 0;      // written and read since the operation began
};

// Probes on the given port until the board answers or the time-out has
// passed (at least one probe), 100 ms apart, then closes the port. For a
// connection check without a dialog.
struct ProbeOutcome {
    ProbeResult result = ProbeResult::NoAnswer;
    int probes = 0;
    std::string detail;  // the system's complaint when the port failed
    bool ok() const { return result == ProbeResult::Answered; }
};
ProbeOutcome ProbeUntilAnswered(BoardLink& link, const std::string& portName, std::chrono::milliseconds timeout);
std::string describeProbe(const ProbeOutcome& outcome);

}  // namespace qm730
