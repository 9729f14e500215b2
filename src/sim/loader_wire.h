// The board's side of the flash loader's wire format: request frames taken
// apart and checked, 4-byte replies and data frames built. Written from the
// wire format alone, apart from the program's own frame code, so that a fault
// in one cannot hide behind the same fault in the other.
//
// A request, once unstuffed, is 02, Htag, length (count + 10), command,
// 0xFF - command, the key "VolmarKine", a 24-bit address and its complement,
// count, the data of a block write, and a 16-bit sum of everything before
// it; multi-byte fields low byte first. On the line every 03 in it goes as
// 1B FC and every 1B as 1B E4, and a lone 03 ends it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qm730::sim {

using Bytes = std::vector<std::uint8_t>;

namespace loader {
inline constexpr std::uint8_t kStart = 0x02;
inline constexpr std::uint8_t kEnd = 0x03;
inline constexpr std::uint8_t kEscape = 0x1B;
inline constexpr std::uint8_t kProbe = 0x0E;
inline constexpr std::uint8_t kAccepted = 0x06;
inline constexpr std::uint8_t kRefused = 0x15;

inline constexpr std::uint8_t kCheck = 0x18;
inline constexpr std::uint8_t kErase = 0x10;
inline constexpr std::uint8_t kWriteBlock = 0x11;
inline constexpr std::uint8_t kReadBlock = 0x12;

// The flash the loader looks after: 128 KiB from 0xD0000, erased in two
// 64 KiB sectors, written and read in 2048-byte blocks.
inline constexpr std::uint32_t kFlashStart = 0xD0000;
inline constexpr std::size_t kFlashBytes = 0x20000;
inline constexpr std::uint32_t kFlashEnd = kFlashStart + kFlashBytes;
inline constexpr std::size_t kSectorBytes = 0x10000;
inline constexpr std::size_t kBlockBytes = 2048;
inline constexpr int kBlocks = static_cast<int>(kFlashBytes / kBlockBytes);
inline constexpr std::uint8_t kErased = 0xFF;

// Header before the data, and the checksum after it.
inline constexpr std::size_t kHeaderBytes = 24;
inline constexpr std::size_t kChecksumBytes = 2;
// The longest request on the line before its end byte: a block write with
// every byte after the start byte stuffed.
inline constexpr std::size_t kLongestRequest = 1 + 2 * (kHeaderBytes - 1 + kBlockBytes + kChecksumBytes);
// The data frame's header: 02, Htag, length, command, complement, address,
// address complement, count.
inline constexpr std::size_t kDataHeaderBytes = 14;
// The longest data frame on the line, end byte included.
inline constexpr std::size_t kLongestDataFrame = 1 + 2 * (kDataHeaderBytes - 1 + kBlockBytes + kChecksumBytes) + 1;
}  // namespace loader

struct Request {
    std::uint8_t htag = 0;
    std::uint8_t command = 0;
    std::uint32_t address = 0;
    std::uint16_t count = 0;
    Bytes data;  // a block write's data; empty for every other command
};

struct DecodedRequest {
    std::optional<Request> request;  // set when the frame is sound
    std::string problem;             // what is wrong with it otherwise
    std::uint8_t htag = 0;           // the frame's sequence byte, as far as it came
};

// Takes apart one request as it came off the line: from its start byte up
// to, not including, its end byte. Checks the stuffing, the size, the
// checksum, the command's complement, the length, the key and the address's
// complement; what the command itself asks for is the loader's affair.
DecodedRequest decodeRequest(std::span<const std::uint8_t> wire);

// Stuffs everything after the start byte.
Bytes stuff(std::span<const std::uint8_t> plain);

// The 4-byte answer to a check, erase or block write: 02, then 06 when the
// command was carried out or 15 when not, the request's Htag, and 03.
Bytes reply(std::uint8_t htag, bool accepted);

// The answer to a block read before stuffing: 02, Htag, length 2058, 12,
// ED, address and its complement, count 2048, the block and a 16-bit sum of
// all that.
Bytes plainDataFrame(std::uint8_t htag, std::uint32_t address, std::span<const std::uint8_t> block);
// An unstuffed frame made ready for the line: stuffed, with the end byte.
Bytes framed(std::span<const std::uint8_t> plain);
// The answer to a block read, ready for the line.
Bytes dataFrame(std::uint8_t htag, std::uint32_t address, std::span<const std::uint8_t> block);

}  // namespace qm730::sim
