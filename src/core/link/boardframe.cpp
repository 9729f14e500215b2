#include "core/link/boardframe.h"

#include <cstdio>

namespace qm730 {

namespace {

void putLittleEndian(std::vector<std::uint8_t>& frame, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) frame.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t littleEndian(std::span<const std::uint8_t> frame, std::size_t at, std::size_t bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = bytes; i-- > 0;) value = value << 8 | frame[at + i];
    return value;
}

std::string hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
    return text;
}

// Where the fields of a data frame lie once it is unstuffed.
constexpr std::size_t kDataLengthAt = 2, kDataCommandAt = 4, kDataAddressAt = 6, kDataComplementAt = 9,
                      kDataCountAt = 12;
constexpr std::uint32_t kDataLength = kFlashBlockSize + 10;

std::optional<FrameProblem> layoutProblem(std::span<const std::uint8_t> frame) {
    const auto problem = [](std::string detail) { return FrameProblem{LinkFailure::FrameLayout, std::move(detail)}; };
    if (frame.size() != kDataFrameSize)
        return problem("it is " + std::to_string(frame.size()) + " bytes instead of " + std::to_string(kDataFrameSize));
    if (frame[0] != kFrameStart) return problem("it begins with " + hex(frame[0], 2) + " instead of 02");
    const std::uint8_t command = board_command::kReadBlock;
    if (frame[kDataCommandAt] != command || frame[kDataCommandAt + 1] != static_cast<std::uint8_t>(~command))
        return problem("its command is " + hex(frame[kDataCommandAt], 2) + " " + hex(frame[kDataCommandAt + 1], 2) +
                       " instead of 12 ED");
    if (const std::uint32_t length = littleEndian(frame, kDataLengthAt, 2); length != kDataLength)
        return problem("its length field says " + std::to_string(length) + " instead of " + std::to_string(kDataLength));
    if (const std::uint32_t count = littleEndian(frame, kDataCountAt, 2); count != kFlashBlockSize)
        return problem("its count says " + std::to_string(count) + " instead of " + std::to_string(kFlashBlockSize));
    return std::nullopt;
}

}  // namespace

std::uint8_t NextHtag(std::uint8_t htag) {
    const auto next = static_cast<std::uint8_t>(htag + 1);
    return next == 0xFF ? kFirstHtag : next;
}

std::vector<std::uint8_t> BuildRequestFrame(std::uint8_t htag, std::uint8_t command, std::uint8_t complement,
                                            std::uint32_t address, std::uint16_t count,
                                            std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> frame;
    frame.reserve(kRequestHeaderSize + data.size() + 2);
    frame.push_back(kFrameStart);
    frame.push_back(htag);
    putLittleEndian(frame, static_cast<std::uint16_t>(count + 10), 2);
    frame.push_back(command);
    frame.push_back(complement);
    frame.insert(frame.end(), kBoardKey.begin(), kBoardKey.end());
    putLittleEndian(frame, address & 0xFFFFFF, 3);
    putLittleEndian(frame, ~address & 0xFFFFFF, 3);
    putLittleEndian(frame, count, 2);
    frame.insert(frame.end(), data.begin(), data.end());
    std::uint16_t sum = 0;
    for (std::uint8_t byte : frame) sum = static_cast<std::uint16_t>(sum + byte);
    putLittleEndian(frame, sum, 2);
    return frame;
}

std::size_t EscapeFrame(std::vector<std::uint8_t>& frame) {
    std::vector<std::uint8_t> stuffed;
    stuffed.reserve(frame.size() + frame.size() / 8 + 4);
    for (std::uint8_t byte : frame) {
        if (byte == kFrameEnd || byte == kFrameEscape) {
            stuffed.push_back(kFrameEscape);
            stuffed.push_back(static_cast<std::uint8_t>(~byte));
        } else {
            stuffed.push_back(byte);
        }
    }
    frame.swap(stuffed);
    return frame.size();
}

std::optional<std::size_t> UnescapeFrame(std::vector<std::uint8_t>& frame) {
    std::vector<std::uint8_t> plain;
    plain.reserve(frame.size());
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (frame[i] != kFrameEscape) {
            plain.push_back(frame[i]);
            continue;
        }
        if (i + 1 == frame.size()) return std::nullopt;
        const std::uint8_t standsFor = static_cast<std::uint8_t>(~frame[++i]);
        if (standsFor != kFrameEnd && standsFor != kFrameEscape) return std::nullopt;
        plain.push_back(standsFor);
    }
    frame.swap(plain);
    return frame.size();
}

std::optional<FrameProblem> checkDataFrame(std::span<const std::uint8_t> frame, std::uint32_t address) {
    if (auto problem = layoutProblem(frame)) return problem;
    // A bit that flipped anywhere on the way shows in the sum.
    const std::size_t sumAt = kDataFrameSize - 2;
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < sumAt; ++i) sum = static_cast<std::uint16_t>(sum + frame[i]);
    if (const std::uint32_t carried = littleEndian(frame, sumAt, 2); carried != sum)
        return FrameProblem{LinkFailure::FrameChecksum,
                            "it carries the sum " + hex(carried, 4) + ", its bytes add up to " + hex(sum, 4)};
    // A sound frame of another block would be kept in this one's place.
    const std::uint32_t carried = littleEndian(frame, kDataAddressAt, 3);
    if (carried != (address & 0xFFFFFF))
        return FrameProblem{LinkFailure::FrameWrongBlock,
                            "it carries address " + hex(carried, 5) + " where " + hex(address, 5) + " was asked for"};
    if (const std::uint32_t complement = littleEndian(frame, kDataComplementAt, 3); complement != (~address & 0xFFFFFF))
        return FrameProblem{LinkFailure::FrameLayout, "its address complement " + hex(complement, 6) +
                                                          " does not match address " + hex(carried, 5)};
    return std::nullopt;
}

std::string describeLinkFailure(LinkFailure failure) {
    switch (failure) {
        case LinkFailure::None: return "no failure";
        case LinkFailure::PortFailed: return "the port could not be opened";
        case LinkFailure::NotOpen: return "the port was not open";
        case LinkFailure::Timeout: return "the board did not answer in time";
        case LinkFailure::Refused: return "the board refused the command";
        case LinkFailure::FrameTooLong: return "the board's data frame did not end within 10000 bytes";
        case LinkFailure::FrameTooShort: return "the board's data frame was too short to hold a block";
        case LinkFailure::FrameBadEscape: return "the board's data frame held a broken escape sequence";
        case LinkFailure::FrameSizeChanged: return "the board's data frame differed in size from the ones before it";
        case LinkFailure::FrameLayout: return "the board's data frame was not laid out as the answer to a block read";
        case LinkFailure::FrameChecksum: return "the board's data frame had a wrong checksum";
        case LinkFailure::FrameWrongBlock: return "the board's data frame held another block than the one asked for";
        case LinkFailure::LineFailed: return "the serial line failed";
        case LinkFailure::TooSlow: return "the board answered far slower than the line";
    }
    return "unknown failure";
}

bool isDamagedFrame(LinkFailure failure) {
    switch (failure) {
        case LinkFailure::FrameTooLong:
        case LinkFailure::FrameTooShort:
        case LinkFailure::FrameBadEscape:
        case LinkFailure::FrameSizeChanged:
        case LinkFailure::FrameLayout:
        case LinkFailure::FrameChecksum:
        case LinkFailure::FrameWrongBlock: return true;
        default: return false;
    }
}

}  // namespace qm730
