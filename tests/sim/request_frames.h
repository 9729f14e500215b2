// Board-link frames as a test writes them by hand, apart from both the
// program's and the simulator's frame code: a request laid out field by
// field, stuffed onto the line, and a data frame taken apart again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm730::test {

using Bytes = std::vector<std::uint8_t>;

namespace cmd {
inline constexpr std::uint8_t check = 0x18, erase = 0x10, write = 0x11, read = 0x12;
}

inline void put(Bytes& out, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The last two bytes become the 16-bit sum of everything before them.
inline void resum(Bytes& plain) {
    unsigned sum = 0;
    for (std::size_t i = 0; i + 2 < plain.size(); ++i) sum += plain[i];
    plain[plain.size() - 2] = static_cast<std::uint8_t>(sum);
    plain[plain.size() - 1] = static_cast<std::uint8_t>(sum >> 8);
}

// A sound request before stuffing: 02, Htag, count + 10, command and
// 0xFF - command, "VolmarKine", address and its complement, count, data,
// checksum.
inline Bytes request(std::uint8_t htag, std::uint8_t command, std::uint32_t address, std::uint16_t count,
                     const Bytes& data = {}) {
    Bytes plain{0x02, htag};
    put(plain, count + 10u, 2);
    plain.push_back(command);
    plain.push_back(static_cast<std::uint8_t>(0xFF - command));
    for (const char c : std::string("VolmarKine")) plain.push_back(static_cast<std::uint8_t>(c));
    put(plain, address, 3);
    put(plain, ~address & 0xFFFFFF, 3);
    put(plain, count, 2);
    plain.insert(plain.end(), data.begin(), data.end());
    plain.resize(plain.size() + 2);
    resum(plain);
    return plain;
}

// On the line: 03 as 1B FC and 1B as 1B E4 after the start byte, then 03.
inline Bytes onLine(const Bytes& plain) {
    Bytes wire{plain.front()};
    for (std::size_t i = 1; i < plain.size(); ++i) {
        if (plain[i] == 0x03) wire.insert(wire.end(), {0x1B, 0xFC});
        else if (plain[i] == 0x1B) wire.insert(wire.end(), {0x1B, 0xE4});
        else wire.push_back(plain[i]);
    }
    wire.push_back(0x03);
    return wire;
}

inline Bytes requestOnLine(std::uint8_t htag, std::uint8_t command, std::uint32_t address, std::uint16_t count,
                           const Bytes& data = {}) {
    return onLine(request(htag, command, address, count, data));
}

inline Bytes checkFrame(std::uint8_t htag) { return requestOnLine(htag, cmd::check, 0, 0); }
inline Bytes eraseFrame(std::uint8_t htag, std::uint32_t address) { return requestOnLine(htag, cmd::erase, address, 0); }
inline Bytes writeFrame(std::uint8_t htag, int block, const Bytes& data) {
    return requestOnLine(htag, cmd::write, 0xD0000 + 2048u * static_cast<unsigned>(block), 2048, data);
}
inline Bytes readFrame(std::uint8_t htag, int block) {
    return requestOnLine(htag, cmd::read, 0xD0000 + 2048u * static_cast<unsigned>(block), 2048);
}

inline Bytes accepted(std::uint8_t htag) { return {0x02, 0x06, htag, 0x03}; }
inline Bytes refused(std::uint8_t htag) { return {0x02, 0x15, htag, 0x03}; }

// A data frame off the line, end byte included, unstuffed; empty when the
// stuffing is broken or the end byte missing.
inline Bytes unstuffDataFrame(const Bytes& wire) {
    if (wire.empty() || wire.back() != 0x03) return {};
    Bytes plain;
    for (std::size_t i = 0; i + 1 < wire.size(); ++i) {
        if (wire[i] == 0x03) return {};  // an end byte before the end
        if (wire[i] != 0x1B) {
            plain.push_back(wire[i]);
            continue;
        }
        if (i + 2 >= wire.size() || (wire[i + 1] != 0xFC && wire[i + 1] != 0xE4)) return {};
        plain.push_back(static_cast<std::uint8_t>(~wire[++i]));
    }
    return plain;
}

// The 2048 bytes a data frame carries (bytes 14 to 2061 after unstuffing).
inline Bytes blockOf(const Bytes& plain) {
    if (plain.size() < 14 + 2048) return {};
    return Bytes(plain.begin() + 14, plain.begin() + 14 + 2048);
}

// 2048 bytes that hold every value, those that need stuffing included.
inline Bytes patternBlock(int seed) {
    Bytes block(2048);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(seed) + i / 256);
    return block;
}

}  // namespace qm730::test
