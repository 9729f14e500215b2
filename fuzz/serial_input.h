// The serial line of a fuzz build: instead of a device, the bytes the board
// "sends" come from the fuzzer's input, and what the program writes is kept.
// The program's own serial-port class and board link run on top unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qm730::fuzz {

struct SerialInput {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t taken = 0;
    // At most this many bytes are waiting at a time, as a UART hands its
    // input over in pieces; 0 means all of it at once.
    std::size_t piece = 0;
    std::vector<std::uint8_t> written;
};

// The line every SerialPort of the fuzz build reads from. Once its bytes are
// used up the line hangs up, so no wait of the program runs to its time-out.
SerialInput& serialInput();

}  // namespace qm730::fuzz
