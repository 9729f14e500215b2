// Reading a firmware file whole: the file system part of the firmware load,
// written once over the file calls of every platform (filecalls.h).
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "core/flash/firmwarefile.h"

namespace qm730 {

// Reads a regular file whole into text. Anything else (a folder, a FIFO, a
// device) is refused before a byte is read, so the load can never hang on
// it, and so is a file larger than kFirmwareFileLimit. Returns the refusal,
// or nothing when the text was read.
std::optional<FirmwareLoad> readFirmwareFile(const std::string& path, std::string& text);

// The file's full name, as the program shows and remembers it.
std::string absoluteFileName(const std::string& path);

inline FirmwareLoad firmwareReadRefusal(FirmwareLoadStatus status, std::string problem, int errorNumber = 0) {
    FirmwareLoad result;
    result.status = status;
    result.problem = std::move(problem);
    result.errorNumber = errorNumber;
    return result;
}

inline constexpr const char* kNotRegularFileText = "not a regular file";
inline constexpr const char* kTooLargeText = "the file is larger than 16 MiB";

}  // namespace qm730
