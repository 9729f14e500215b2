// The configuration image: the one in-memory copy of everything the board is
// told, laid out byte for byte as it is saved to a table file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm730 {

// One byte short of 40 KiB; the table file format depends on this exact size.
inline constexpr std::size_t kImageSize = 0x9FFF;  // 40,959

// Offsets of the regions and of the system block's fields. Multi-byte numbers
// are big-endian; digit fields hold ASCII digits.
namespace sys {
inline constexpr std::size_t kBlock = 0x0000;
inline constexpr std::size_t kBlockSize = 0x60;
inline constexpr std::size_t kDelay = 0x00;  // four delay bytes, 0x00..0x03
inline constexpr std::size_t kDelayCount = 4;
inline constexpr std::size_t kPllR = 0x05;  // 24-bit R word
inline constexpr std::size_t kPllN = 0x09;  // 24-bit N word
inline constexpr std::size_t kStatusFlags = 0x0C;
inline constexpr std::size_t kPagerDuration = 0x0E;
inline constexpr std::size_t kPreamble = 0x10;
inline constexpr std::size_t kFreqDigits = 0x12;
inline constexpr std::size_t kFreqDigitCount = 7;
inline constexpr std::size_t kFuncPassword = 0x1A;
inline constexpr std::size_t kFuncPasswordLength = 4;
inline constexpr std::size_t kSetupPassword = 0x1F;
inline constexpr std::size_t kSetupPasswordLength = 7;
inline constexpr std::size_t kUartBaud = 0x27;
inline constexpr std::size_t kUartData = 0x28;
inline constexpr std::size_t kProtocol = 0x29;
inline constexpr std::size_t kHeartbeat = 0x2A;
inline constexpr std::size_t kBaudCode = 0x2B;
inline constexpr std::size_t kPocsagBaud = 0x2D;
inline constexpr std::size_t kPocsagType = 0x2E;
inline constexpr std::size_t kReserved30 = 0x30;
}  // namespace sys

// Bits of the status flags byte.
namespace status {
inline constexpr std::uint8_t kKeyBeepOff = 1u << 0;
inline constexpr std::uint8_t kDisableFrequencySet = 1u << 2;
inline constexpr std::uint8_t kInvertPolarity = 1u << 3;
inline constexpr std::uint8_t kLcdBackLightOn = 1u << 4;
inline constexpr std::uint8_t kChannelSpace10k = 1u << 5;
}  // namespace status

namespace capcode {
inline constexpr std::size_t kTable = 0x0060;
inline constexpr std::size_t kSlotSize = 32;
inline constexpr std::size_t kSlotCount = 1000;
inline constexpr std::size_t kPagerRecords = 899;  // slots 0..898 are pagers No. 1..899
// Fields inside a slot.
inline constexpr std::size_t kAddress = 0;
inline constexpr std::size_t kAddressLength = 7;
inline constexpr std::size_t kType = 7;
inline constexpr std::size_t kBaud = 8;
inline constexpr std::size_t kFuncBits = 9;
inline constexpr std::size_t kNameLength = 10;
inline constexpr std::size_t kName = 11;
inline constexpr std::size_t kNameMax = 10;
inline constexpr std::size_t kGroup = 21;
inline constexpr std::uint8_t kNoGroup = 100;
}  // namespace capcode

namespace alarm {
inline constexpr std::size_t kTable = 0x7D60;
inline constexpr std::size_t kRecordSize = 64;
inline constexpr std::size_t kRecordCount = 7;
inline constexpr std::size_t kPagerId = 0;
inline constexpr std::size_t kPagerIdLength = 4;
inline constexpr std::size_t kText = 4;
inline constexpr std::size_t kTextField = 60;
inline constexpr std::size_t kTextMax = 59;
}  // namespace alarm

namespace message {
inline constexpr std::size_t kTable = 0x7F20;
inline constexpr std::size_t kSlotSize = 64;
inline constexpr std::size_t kSlotCount = 100;
inline constexpr std::size_t kReadMax = 63;
}  // namespace message

inline constexpr std::size_t kReservedTail = 0x9820;

inline constexpr std::size_t capcodeSlotOffset(std::size_t k) { return capcode::kTable + capcode::kSlotSize * k; }
inline constexpr std::size_t alarmRecordOffset(std::size_t j) { return alarm::kTable + alarm::kRecordSize * j; }
inline constexpr std::size_t messageSlotOffset(std::size_t m) { return message::kTable + message::kSlotSize * m; }

using ImageBytes = std::array<std::uint8_t, kImageSize>;

// The raw image. A new image is all zeros except the system block defaults;
// the rest of the start-up defaults come from initialiseDefaults().
class ConfigImage {
public:
    ConfigImage();

    ImageBytes& bytes() { return bytes_; }
    const ImageBytes& bytes() const { return bytes_; }
    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }

    std::uint8_t& operator[](std::size_t offset) { return bytes_.at(offset); }
    std::uint8_t operator[](std::size_t offset) const { return bytes_.at(offset); }

    std::uint8_t* capcodeSlot(std::size_t k) { return data() + capcodeSlotOffset(k); }
    const std::uint8_t* capcodeSlot(std::size_t k) const { return data() + capcodeSlotOffset(k); }
    std::uint8_t* alarmRecord(std::size_t j) { return data() + alarmRecordOffset(j); }
    const std::uint8_t* alarmRecord(std::size_t j) const { return data() + alarmRecordOffset(j); }
    std::uint8_t* messageSlot(std::size_t m) { return data() + messageSlotOffset(m); }
    const std::uint8_t* messageSlot(std::size_t m) const { return data() + messageSlotOffset(m); }

    std::uint32_t read24(std::size_t offset) const;
    void write24(std::size_t offset, std::uint32_t value);

private:
    ImageBytes bytes_{};
};

inline constexpr std::size_t kCapcodeNumberCount = 900;

// The image together with the capcode number table, which the defaults fill
// and the address rule keeps. Neither the table nor anything else here but
// the image is saved to a file or sent to the board. What only the windows
// need (the pages on show, the chosen port, the start directory) stays with
// the windows.
struct Configuration {
    ConfigImage image;
    // Last address accepted in each address row, indexed by
    // (capcode page - 1) * 10 + row.
    std::array<std::int32_t, kCapcodeNumberCount> capcodeNumbers{};
};

// Gives a freshly constructed configuration its start-up defaults, in the
// order the board's tools have always used: message slot 99 marker, records
// 1..99 from the capcode number table, records 100..899, then the alarms.
void initialiseDefaults(Configuration& config);

// The default image on its own, as a new table file holds it.
ConfigImage defaultImage();

// --- Field encodings -------------------------------------------------------

// Digits are read from the low four bits of each byte, so both ASCII digits
// and raw values 0..9 read alike; a nibble above 9 reads as two digits.
std::string readDigits(const std::uint8_t* field, std::size_t count);

// Writes the characters from the first byte and zero-fills the rest of the
// field, so a reader that stops at the first zero gets exactly the text back.
// Text longer than the field is cut to the field.
void writeText(std::uint8_t* field, std::size_t fieldSize, std::string_view text);

// Reads up to the first zero byte, at most maxChars characters.
std::string readText(const std::uint8_t* field, std::size_t maxChars);

// Pads an address entry to exactly seven characters with leading zeros (an
// empty entry becomes "0000000"). Returns false, writing nothing, for an entry
// of eight or more characters.
bool writeAddress(std::uint8_t* slot, std::string_view text);
std::string readAddress(const std::uint8_t* slot);

// Writes the length byte at +10 and the characters from +11; the name bytes
// after the last character keep what they held (a reader takes only as many
// as the length byte says), so an empty name sets only the length to 0.
// Names longer than ten characters are refused (returns false, writes nothing).
bool writeName(std::uint8_t* slot, std::string_view name);
// Reads as many characters as the length byte says, never more than ten
// (the slot holds no more), stopping early at a zero byte.
std::string readName(const std::uint8_t* slot);

std::string readPagerId(const std::uint8_t* record);
std::string readAlarmText(const std::uint8_t* record);
std::string readMessage(const std::uint8_t* slot);

}  // namespace qm730
