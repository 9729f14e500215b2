// The board link's frames: a request frame is 02, the sequence byte Htag, a
// length (count + 10), the command and its complement, the ten key
// characters, a 24-bit address and its complement, a count, the data of a
// block write and a 16-bit additive checksum; it is byte-stuffed and closed
// by 03. The board answers with a 4-byte reply (byte 1 is 06 when the
// command was accepted) or, to a block read, with a data frame stuffed the
// same way. How frames are built, stuffed, unstuffed and checked; the
// exchange itself is the link's (boardlink.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/link/flash_blocks.h"

namespace qm730 {

namespace board_command {
inline constexpr std::uint8_t kCheck = 0x18;
inline constexpr std::uint8_t kErase = 0x10;
inline constexpr std::uint8_t kWriteBlock = 0x11;
inline constexpr std::uint8_t kReadBlock = 0x12;
}  // namespace board_command

inline constexpr std::uint8_t kFrameStart = 0x02;
inline constexpr std::uint8_t kFrameEnd = 0x03;
inline constexpr std::uint8_t kFrameEscape = 0x1B;
inline constexpr std::uint8_t kProbeByte = 0x0E;
inline constexpr std::uint8_t kAcceptedByte = 0x06;
inline constexpr std::uint8_t kFirstHtag = 0x80;
// Copied verbatim into every frame; the loader expects exactly these bytes.
inline constexpr std::array<std::uint8_t, 10> kBoardKey{'V', 'o', 'l', 'm', 'a', 'r', 'K', 'i', 'n', 'e'};

inline constexpr std::size_t kRequestHeaderSize = 24;
inline constexpr std::size_t kReplySize = 4;
// Frames are built, stuffed and unstuffed within this many bytes; a data
// frame that does not end within it is a failed read.
inline constexpr std::size_t kFrameBufferSize = 10000;
// An end byte ends a data frame only once this many bytes are stored; an
// earlier one is line noise and is dropped.
inline constexpr std::size_t kDataFrameMinimumBeforeEnd = 15;
// An unstuffed data frame carries the block at bytes 14 to 2061.
inline constexpr std::size_t kDataFrameBlockStart = 14;
inline constexpr std::size_t kDataFrameMinimumSize = kDataFrameBlockStart + kFlashBlockSize;  // 2062
// As the board builds it, a data frame is 02, Htag, the length 2058, 12 ED,
// the address and its complement, the count 2048, the block and a 16-bit sum
// of everything before it: 2064 bytes before stuffing.
inline constexpr std::size_t kDataFrameSize = kDataFrameMinimumSize + 2;

// The sequence byte after htag: +1 modulo 256, with 0xFF replaced by 0x80.
std::uint8_t NextHtag(std::uint8_t htag);

// A request frame before stuffing, with its checksum. data is sent only by
// a block write; its count is given separately so that a block read carries
// count 2048 (and length 2058) without data.
std::vector<std::uint8_t> BuildRequestFrame(std::uint8_t htag, std::uint8_t command, std::uint8_t complement,
                                            std::uint32_t address, std::uint16_t count,
                                            std::span<const std::uint8_t> data = {});
// Stuffs the frame in place (03 -> 1B FC, 1B -> 1B E4); returns its new length.
std::size_t EscapeFrame(std::vector<std::uint8_t>& frame);
// Undoes the stuffing in place and returns the new length; nothing when the
// frame holds an escape that stands for nothing (1B at the end, or 1B before
// a byte other than FC or E4). The frame is then left as it was.
std::optional<std::size_t> UnescapeFrame(std::vector<std::uint8_t>& frame);

// Why the last exchange failed.
enum class LinkFailure {
    None,
    PortFailed,      // the port could not be opened
    NotOpen,         // the port was not open for the exchange
    Timeout,         // no byte within the window
    Refused,         // a reply whose byte 1 was not 06
    FrameTooLong,    // a data frame that did not end within the frame buffer
    FrameTooShort,   // a data frame too short to hold a block
    FrameBadEscape,  // a data frame with an escape that stands for nothing
    FrameSizeChanged,  // a data frame of another size than the ones before it
    FrameLayout,     // a data frame not laid out as the answer to a block read
    FrameChecksum,   // a data frame whose sum does not match its bytes
    FrameWrongBlock, // a data frame that carries another address than the one asked for
    LineFailed,      // the device failed (an adapter pulled out, ...)
    TooSlow,         // the board still talked, but the operation ran past its bound
};
std::string describeLinkFailure(LinkFailure failure);
// A data frame that came whole but damaged, which reading it again may mend.
bool isDamagedFrame(LinkFailure failure);

// What is wrong with an unstuffed data frame that answers a block read of
// `address`: its size, start, command, length, count, sum, address and
// address complement are checked against the frame the board builds.
struct FrameProblem {
    LinkFailure failure;
    std::string detail;  // "it carries the sum 1A2B, its bytes add up to 1A2C"
};
std::optional<FrameProblem> checkDataFrame(std::span<const std::uint8_t> frame, std::uint32_t address);

}  // namespace qm730
