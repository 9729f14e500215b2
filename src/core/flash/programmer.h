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

enum class FlashStep { None, Check, Erase, Write, Read };

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

    bool ok() const { return result == FlashResult::Success; }
};

// One line for a terminal or a tool tip, e.g. "block 3 (D1800) read back
// differs from the image (Htag = 133)".
std::string describeFlashOutcome(const FlashOutcome& outcome);

// Runs the whole write on the named port ("COM1".."COM5" or a device path)
// through the link's host: status texts, progress, messages and the Write
// command's enabled state. The port is closed at the end whatever happens.
FlashOutcome WriteFirmware(BoardLink& link, const std::string& portName, const Firmware& firmware);

}  // namespace qm730
