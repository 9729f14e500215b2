// The simulator's command line: its options, their checks and their help,
// and what they ask of the board.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "sim/sim_board.h"

namespace qm730::sim {

// What the command line asks for.
struct SimCommandLine {
    SimOptions options;         // how the board behaves, and the files it saves to
    std::string loadFile;       // the table file to start from; empty: the default image
    std::string flashLoadFile;  // the flash to start with; empty: all erased
};

// Reads the command line. Returns the exit status when the program is to
// end at once: 0 after --help or --version (printed on the standard
// output), 2 for an option it does not know or a value it refuses (said on
// the standard error). Nothing when the board is to start.
std::optional<int> parseCommandLine(int argc, char** argv, const std::string& version, SimCommandLine& commandLine);

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

}  // namespace qm730::sim
