// Writing the firmware into the board's flash: the board check, an erase of
// each 64 KiB half, the block writes and the read-back of every written
// block, reported to the window (or the terminal) as it goes and returned
// as a typed outcome at the end.
#pragma once

#include <cstdint>
#include <string>

#include "core/flash/firmwarefile.h"
#include "core/link/boardlink.h"

namespace qm730 {

// The status panel's texts and the run's messages.
inline constexpr const char* kVerifyStatus = " Verify ......";
inline constexpr const char* kEraseStatus = " Erase ......";
inline constexpr const char* kWriteStatus = " Write ......";
inline constexpr const char* kReadStatus = " Read ......";
inline constexpr const char* kErrorStatus = " Error";
inline constexpr const char* kReadyStatus = " Ready";
inline constexpr const char* kOpenFileFirstText = "Please open file first !";
inline constexpr const char* kBoardNotFoundText = "The target board is not found !";
inline constexpr const char* kTransmitErrorText = "Transmit Error!";
inline constexpr const char* kTransmitSuccessText = "Transmit Success!";
// "Read Error! Htag = 133": the sequence byte of the block read that differed.
std::string readErrorText(std::uint8_t htag);

// Progress maxima: a check or erase frame is 27 bytes on the line; the
// block passes count the loaded bytes and a reserve.
inline constexpr int kCommandProgressMaximum = 27;
inline constexpr int kBlockProgressReserve = 30000;
// After each erase the board is given this long before the next frame.
inline constexpr int kErasePauseMs = 1000;

enum class FlashResult {
    Success,
    NoFile,          // no firmware loaded: "Please open file first !"
    PortFailed,      // the port could not be opened
    BoardNotFound,   // the board check failed
    TransmitError,   // an erase, write or read failed (see failure)
    VerifyMismatch,  // a block read back differs from the image
};

// Read is the read-back of a write; ReadOut the read of a flash backup.
enum class FlashStep { None, Check, Erase, Write, Read, ReadOut };

struct FlashOutcome {
    FlashResult result = FlashResult::Success;
    FlashStep step = FlashStep::None;
    LinkFailure failure = LinkFailure::None;  // why the step failed
    std::uint32_t address = 0;                // of the erase or block that failed
    int block = -1;                           // 0..63 for a write or read
    std::uint8_t htag = 0;                    // of the frame that failed or differed
    std::string detail;                       // the system's complaint, if any
    int blocksWritten = 0;
    int blocksVerified = 0;
    int blocksRead = 0;  // by a flash backup
    int reads = 0;       // how often a backup read the block that failed (a damaged one is read again)

    bool ok() const { return result == FlashResult::Success; }
};

// One line for a terminal or a tool tip, e.g. "block 3 (D1800) read back
// differs from the image (Htag = 133)".
std::string describeFlashOutcome(const FlashOutcome& outcome);

// Runs the whole write on the named port ("COM1".."COM5" or a device path)
// through the link's host: status texts, progress, messages and the Write
// command's enabled state. The port is closed at the end whatever happens.
FlashOutcome WriteFirmware(BoardLink& link, const std::string& portName, const Firmware& firmware);

// A read of the whole flash takes 64 block reads: each request frame (27
// bytes) and the data frame it is answered with (2064 bytes or more).
inline constexpr int kReadOutProgressMaximum = kFlashBlockCount * (27 + 2064);

// A block whose data frame arrives damaged is read this often in all before
// the read of the flash gives up.
inline constexpr int kReadsPerBlock = 3;

// Reads the board's whole flash, D0000 to EFFFF, so that it can be kept
// before new firmware is written: the board check, then a block read of each
// of the 64 blocks in increasing order. Nothing else holds the data read, so
// every data frame is checked whole (its size and layout, its sum, the
// address asked for; see checkDataFrame), and as long as the first. A block
// whose frame arrives damaged is read again, up to kReadsPerBlock reads in
// all; a block that never arrives sound, a time-out or a failing line ends
// the run as a failed write does (" Ready", "Transmit Error!" or "The target
// board is not found !", the port closed). Status, progress and the Write
// command are reported through the link's host. On success the image holds
// the flash as read (BytesLoaded counts its bytes) and the run ends with
// status " Ready" but no message: keeping the result is the caller's part.
// On failure the image is left as it was. The port is closed at the end
// whatever happens.
FlashOutcome ReadFirmware(BoardLink& link, const std::string& portName, FlashImage& image);

}  // namespace qm730
