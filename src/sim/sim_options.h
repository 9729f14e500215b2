// Checks of the simulator's command line that are made before the board
// starts, so that a bad file or number is refused at once and not after the
// first transfer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/config/image.h"

namespace qm730::sim {

// A decimal count from 0 to max: digits only, no sign, no blanks.
std::optional<std::size_t> parseCount(std::string_view text, std::size_t max);

// The byte of a block's read-back that --corrupt-readback spoils.
struct SpoiltByte {
    int block = 0;
    std::size_t byte = 0;  // 0 to 2047 within the block
};
// BLOCK or BLOCK:BYTE, the block 0 to 63 and the byte "first" (also when
// left out), "last" or a position from 0 to 2047.
std::optional<SpoiltByte> parseSpoiltByte(std::string_view text);

// Loads a table file that holds exactly one image. Returns what is wrong
// with it, or nothing when the image was loaded. Folders, pipes and devices
// are refused without being opened, so a pipe cannot stall the start.
std::optional<std::string> loadWholeImage(const std::string& path, ConfigImage& image);

// What would keep an image from being saved at path later: a folder or some
// other file that is not a regular file there, or a folder to save in that is
// missing or cannot be written. Nothing when the save can be tried.
std::optional<std::string> saveTargetProblem(const std::string& path);

}  // namespace qm730::sim
