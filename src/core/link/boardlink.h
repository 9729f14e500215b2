// The board link: framed commands to the board's flash loader over the
// program's serial-port object, and the one-byte presence probe.
//
// A request frame is 02, the sequence byte Htag, a length (count + 10), the
// command and its complement, the ten key characters, a 24-bit address and
// its complement, a count, the data of a block write and a 16-bit additive
// checksum; it is byte-stuffed and closed by 03. The board answers with a
// 4-byte reply (byte 1 is 06 when the command was accepted) or, to a block
// read, with a data frame stuffed the same way.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/config/notice.h"
#include "core/link/boardlink_host.h"
#include "core/link/commport.h"
#include "core/link/flash_blocks.h"
#include "core/link/operation_bound.h"
#include "core/link/portname.h"

namespace qm730 {

namespace board_command {
inline constexpr std::uint8_t kCheck = 0x18;
inline constexpr std::uint8_t kErase = 0x10;
inline constexpr std::uint8_t kWriteBlock = 0x11;
inline constexpr std::uint8_t kReadBlock = 0x12;
}  // namespace board_command

inline constexpr std::uint8_t kFrameStart = 0x02;
inline constexpr std::uint8_t kFrameEnd = 0x03;
inline constexpr std::uint8_t kFrameEscape = 0x1B;
inline constexpr std::uint8_t kProbeByte = 0x0E;
inline constexpr std::uint8_t kAcceptedByte = 0x06;
inline constexpr std::uint8_t kFirstHtag = 0x80;
// Copied verbatim into every frame; the loader expects exactly these bytes.
inline constexpr std::array<std::uint8_t, 10> kBoardKey{'V', 'o', 'l', 'm', 'a', 'r', 'K', 'i', 'n', 'e'};

inline constexpr std::uint32_t kBoardBaudRate = 19200;
inline constexpr std::size_t kRequestHeaderSize = 24;
inline constexpr std::size_t kReplySize = 4;
// Frames are built, stuffed and unstuffed within this many bytes; a data
// frame that does not end within it is a failed read.
inline constexpr std::size_t kFrameBufferSize = 10000;
// An end byte ends a data frame only once this many bytes are stored; an
// earlier one is line noise and is dropped.
inline constexpr std::size_t kDataFrameMinimumBeforeEnd = 15;
// An unstuffed data frame carries the block at bytes 14 to 2061.
inline constexpr std::size_t kDataFrameBlockStart = 14;
inline constexpr std::size_t kDataFrameMinimumSize = kDataFrameBlockStart + kFlashBlockSize;  // 2062
// As the board builds it, a data frame is 02, Htag, the length 2058, 12 ED,
// the address and its complement, the count 2048, the block and a 16-bit sum
// of everything before it: 2064 bytes before stuffing.
inline constexpr std::size_t kDataFrameSize = kDataFrameMinimumSize + 2;

// Waits. Each is the longest silence tolerated before one expected byte,
// counted as 101 polls of the interval; measured on a monotonic clock and
// never shorter, whatever the system's sleep granularity.
inline constexpr int kPollsPerByte = 101;
inline constexpr std::chrono::milliseconds kReplyWindow{kPollsPerByte * 50};  // 5,050 ms
inline constexpr std::chrono::milliseconds kQuietWindow{kPollsPerByte * 3};   // 303 ms, the board check
inline constexpr std::chrono::milliseconds kProbeWindow{kPollsPerByte * 10};  // 1,010 ms
// While windows need their messages processed, a wait blocks on the device
// in slices no longer than this.
inline constexpr std::chrono::milliseconds kEventSlice{20};
// The pause between opening the port and the board check.
inline constexpr int kPortSettleMs = 100;
// The connection check probes this often until the board answers.
inline constexpr int kProbeIntervalMs = 100;

// Texts shown for the serial port.
inline constexpr const char* kPortInUseText = "Error opening comm port. Port already in use?";
inline constexpr const char* kPortErrorText = "Error opening comm port.";
inline constexpr const char* kConnectionSuccessText = "Connection Success !";

// The message for a port that could not be opened: code 8 means the device
// itself could not be had, most likely because another program holds it.
Notice portOpenNotice(const ECommError& error);

// The sequence byte after htag: +1 modulo 256, with 0xFF replaced by 0x80.
std::uint8_t NextHtag(std::uint8_t htag);

// A request frame before stuffing, with its checksum. data is sent only by
// a block write; its count is given separately so that a block read carries
// count 2048 (and length 2058) without data.
std::vector<std::uint8_t> BuildRequestFrame(std::uint8_t htag, std::uint8_t command, std::uint8_t complement,
                                            std::uint32_t address, std::uint16_t count,
                                            std::span<const std::uint8_t> data = {});
// Stuffs the frame in place (03 -> 1B FC, 1B -> 1B E4); returns its new length.
std::size_t EscapeFrame(std::vector<std::uint8_t>& frame);
// Undoes the stuffing in place and returns the new length; nothing when the
// frame holds an escape that stands for nothing (1B at the end, or 1B before
// a byte other than FC or E4). The frame is then left as it was.
std::optional<std::size_t> UnescapeFrame(std::vector<std::uint8_t>& frame);

// The link's state lives for the whole run of the program, like its one
// serial-port object: Htag runs on across writes and connection checks.
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
LinkState& linkState();

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

// Why the last exchange failed.
enum class LinkFailure {
    None,
    PortFailed,      // the port could not be opened
    NotOpen,         // the port was not open for the exchange
    Timeout,         // no byte within the window
    Refused,         // a reply whose byte 1 was not 06
    FrameTooLong,    // a data frame that did not end within the frame buffer
    FrameTooShort,   // a data frame too short to hold a block
    FrameBadEscape,  // a data frame with an escape that stands for nothing
    FrameSizeChanged,  // a data frame of another size than the ones before it
    FrameLayout,     // a data frame not laid out as the answer to a block read
    FrameChecksum,   // a data frame whose sum does not match its bytes
    FrameWrongBlock, // a data frame that carries another address than the one asked for
    LineFailed,      // the device failed (an adapter pulled out, ...)
    TooSlow,         // the board still talked, but the operation ran past its bound
};
std::string describeLinkFailure(LinkFailure failure);
// A data frame that came whole but damaged, which reading it again may mend.
bool isDamagedFrame(LinkFailure failure);

// What is wrong with an unstuffed data frame that answers a block read of
// `address`: its size, start, command, length, count, sum, address and
// address complement are checked against the frame the board builds.
struct FrameProblem {
    LinkFailure failure;
    std::string detail;  // "it carries the sum 1A2B, its bytes add up to 1A2C"
};
std::optional<FrameProblem> checkDataFrame(std::span<const std::uint8_t> frame, std::uint32_t address);

enum class ProbeResult {
    Answered,     // 06
    NoAnswer,     // nothing within 1,010 ms
    WrongAnswer,  // a byte other than 06
    PortNotOpen,  // also when the port is closed while the probe waits (the dialog was cancelled)
    LineFailed,   // the port is closed again and "Error opening comm port." was shown: stop probing
};

class BoardLink {
public:
    BoardLink(TCommPort& port, LinkHost& host, LinkState& state = linkState());

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

    TCommPort& port() { return port_; }
    LinkHost& host() { return host_; }
    LinkState& state() { return state_; }

private:
    bool awaitByte(std::chrono::milliseconds window);
    std::uint8_t takeByte();
    bool collectFrame(std::vector<std::uint8_t>& frame);
    bool fail(LinkFailure failure);
    bool lineFailed(const ECommError& error);
    // No byte within its window: a time-out, or the operation's bound passed.
    bool noByte();
    bool timedOut();
    bool tooSlow();

    TCommPort& port_;
    LinkHost& host_;
    LinkState& state_;
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
