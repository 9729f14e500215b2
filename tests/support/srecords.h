// Firmware text for tests: S2 records as a linker writes them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qm730 {

// One S2 record without its line end: the length, the 24-bit address, the
// data and the one's complement of their sum.
inline std::string s2Record(std::uint32_t address, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> body{static_cast<std::uint8_t>(data.size() + 4), static_cast<std::uint8_t>(address >> 16),
                                   static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::uint8_t byte : body) sum += byte;
    body.push_back(static_cast<std::uint8_t>(~sum));
    std::string text = "S2";
    char hex[3];
    for (std::uint8_t byte : body) {
        std::snprintf(hex, sizeof hex, "%02X", byte);
        text += hex;
    }
    return text;
}

}  // namespace qm730
