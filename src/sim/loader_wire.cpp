#include "sim/loader_wire.h"

#include <cstdio>
#include <string_view>

namespace qm730::sim {

namespace {

using namespace loader;

constexpr std::string_view kKey = "VolmarKine";
constexpr std::uint8_t kStuffedEnd = 0xFC;     // 0xFF - 03
constexpr std::uint8_t kStuffedEscape = 0xE4;  // 0xFF - 1B

std::string hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::uint32_t littleEndian(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = size; i-- > 0;) value = value << 8 | bytes[at + i];
    return value;
}

void appendLittleEndian(Bytes& out, std::uint32_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint16_t sum(std::span<const std::uint8_t> bytes) {
    std::uint16_t total = 0;
    for (const std::uint8_t byte : bytes) total = static_cast<std::uint16_t>(total + byte);
    return total;
}

// The key as an operator can read it in the log, odd bytes as \xHH.
std::string printable(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') text += static_cast<char>(byte);
        else text += "\\x" + hex(byte, 2);
    }
    return text;
}

DecodedRequest malformed(std::uint8_t htag, std::string problem) {
    DecodedRequest result;
    result.htag = htag;
    result.problem = std::move(problem);
    return result;
}

}  // namespace

DecodedRequest decodeRequest(std::span<const std::uint8_t> wire) {
    // The sequence byte is echoed even in the refusal of a damaged frame,
    // as far as it can be told.
    std::uint8_t htag = 0;
    if (wire.size() >= 2) htag = wire[1] == kEscape && wire.size() >= 3 ? static_cast<std::uint8_t>(~wire[2]) : wire[1];

    if (wire.empty() || wire[0] != kStart) return malformed(htag, "the frame does not begin with 02");
    if (wire.size() > kLongestRequest)
        return malformed(htag, "no end byte within " + std::to_string(kLongestRequest) + " bytes: the frame is too long");

    Bytes plain;
    plain.reserve(wire.size());
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] != kEscape) {
            plain.push_back(wire[i]);
            continue;
        }
        if (i + 1 == wire.size()) return malformed(htag, "the frame ends inside an escape (1B before the end byte)");
        const std::uint8_t next = wire[++i];
        if (next != kStuffedEnd && next != kStuffedEscape)
            return malformed(htag, "escape 1B followed by " + hex(next, 2) + ", which stands for no byte");
        plain.push_back(static_cast<std::uint8_t>(~next));
    }

    const std::size_t size = plain.size();
    if (size < kHeaderBytes + kChecksumBytes)
        return malformed(htag, "the frame is " + std::to_string(size) + " bytes; a request has at least " +
                                   std::to_string(kHeaderBytes + kChecksumBytes));

    const std::uint16_t carried = static_cast<std::uint16_t>(littleEndian(plain, size - kChecksumBytes, kChecksumBytes));
    const std::uint16_t computed = sum(std::span(plain).first(size - kChecksumBytes));
    if (carried != computed)
        return malformed(htag, "checksum " + hex(carried, 4) + " does not match the frame's sum " + hex(computed, 4));

    const std::uint8_t command = plain[4];
    if (plain[5] != static_cast<std::uint8_t>(0xFF - command))
        return malformed(htag, "command complement " + hex(plain[5], 2) + " does not match command " + hex(command, 2));

    const std::uint32_t length = littleEndian(plain, 2, 2);
    const std::uint16_t count = static_cast<std::uint16_t>(littleEndian(plain, 22, 2));
    if (length != count + 10u)
        return malformed(htag, "length " + std::to_string(length) + " is not count " + std::to_string(count) + " + 10");

    const std::size_t dataBytes = command == kWriteBlock ? count : 0;
    if (size != kHeaderBytes + dataBytes + kChecksumBytes)
        return malformed(htag, "the frame is " + std::to_string(size) + " bytes; with command " + hex(command, 2) +
                                   " and count " + std::to_string(count) + " it should be " +
                                   std::to_string(kHeaderBytes + dataBytes + kChecksumBytes));

    const auto key = std::span(plain).subspan(6, kKey.size());
    if (std::string_view(reinterpret_cast<const char*>(key.data()), key.size()) != kKey)
        return malformed(htag, "key '" + printable(key) + "' is not 'VolmarKine'");

    const std::uint32_t address = littleEndian(plain, 16, 3);
    const std::uint32_t complement = littleEndian(plain, 19, 3);
    if (complement != (~address & 0xFFFFFF))
        return malformed(htag, "address complement " + hex(complement, 6) + " does not match address " + hex(address, 5));

    Request request;
    request.htag = plain[1];
    request.command = command;
    request.address = address;
    request.count = count;
    request.data.assign(plain.begin() + kHeaderBytes, plain.begin() + static_cast<long>(kHeaderBytes + dataBytes));
    DecodedRequest result;
    result.htag = request.htag;
    result.request = std::move(request);
    return result;
}

Bytes stuff(std::span<const std::uint8_t> plain) {
    Bytes wire;
    wire.reserve(plain.size() * 2);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const std::uint8_t byte = plain[i];
        if (i > 0 && (byte == kEnd || byte == kEscape)) {
            wire.push_back(kEscape);
            wire.push_back(static_cast<std::uint8_t>(~byte));
        } else {
            wire.push_back(byte);
        }
    }
    return wire;
}

Bytes reply(std::uint8_t htag, bool accepted) { return {kStart, accepted ? kAccepted : kRefused, htag, kEnd}; }

Bytes plainDataFrame(std::uint8_t htag, std::uint32_t address, std::span<const std::uint8_t> block) {
    Bytes plain{kStart, htag};
    appendLittleEndian(plain, static_cast<std::uint32_t>(block.size() + 10), 2);
    plain.push_back(kReadBlock);
    plain.push_back(static_cast<std::uint8_t>(0xFF - kReadBlock));
    appendLittleEndian(plain, address, 3);
    appendLittleEndian(plain, ~address & 0xFFFFFF, 3);
    appendLittleEndian(plain, static_cast<std::uint32_t>(block.size()), 2);
    plain.insert(plain.end(), block.begin(), block.end());
    appendLittleEndian(plain, sum(plain), 2);
    return plain;
}

Bytes framed(std::span<const std::uint8_t> plain) {
    Bytes wire = stuff(plain);
    wire.push_back(kEnd);
    return wire;
}

Bytes dataFrame(std::uint8_t htag, std::uint32_t address, std::span<const std::uint8_t> block) {
    return framed(plainDataFrame(htag, address, block));
}

}  // namespace qm730::sim
