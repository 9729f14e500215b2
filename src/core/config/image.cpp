#include "core/config/image.h"

#include <algorithm>
#include <cstring>

namespace qm730 {

namespace {

// System block as the board expects it after a reset of the configuration:
// delays, PLL words for 454.5 MHz at 12.5 kHz, status flags, duration,
// preamble, frequency, passwords and the list settings.
constexpr std::uint8_t kSystemDefaults[] = {
    10,   16,   10,   20,                            // 0x00 delay bytes
    0,                                               // 0x04
    0x05, 0x08, 0x01,                                // 0x05 PLL R
    0,                                               // 0x08
    0x02, 0x38, 0x10,                                // 0x09 PLL N
    0x10,                                            // 0x0C status flags
    0,    10,                                        // 0x0E pager duration
    0,    100,                                       // 0x10 preamble
    0,    '4',  '5',  '4',  '5', '0', '0', '0',      // 0x12 frequency digits
    0,    '8',  '2',  '9',  '4',                     // 0x1A function password
    0,    '6',  '1',  '8',  '0', '4', '5', '2',      // 0x1F setup password
    0,                                               // 0x26
    3,                                               // 0x27 UART baud 9600
    1,                                               // 0x28 UART data 8,N,1
    3,                                               // 0x29 protocol "Programming"
    0,                                               // 0x2A heartbeat disabled
    2,                                               // 0x2B baud 1200
    0,    2,                                         // 0x2D POCSAG baud 1200
    1,                                               // 0x2E POCSAG type text
    0,    4,                                         // 0x30 reserved, 4
};
static_assert(sizeof(kSystemDefaults) == 0x31, "system defaults cover 0x00..0x30");

void setRecordDefaults(std::uint8_t* slot) {
    slot[capcode::kType] = 1;
    slot[capcode::kBaud] = 2;
    slot[capcode::kFuncBits] = 0;
    slot[capcode::kGroup] = capcode::kNoGroup;
}

// Writes text from the first byte only when it fits the given bounds, as the
// defaults routine does; nothing beyond the text is touched.
void writeIfFits(std::uint8_t* field, std::string_view text, std::size_t maxLength) {
    if (!text.empty() && text.size() <= maxLength) std::memcpy(field, text.data(), text.size());
}

}  // namespace

ConfigImage::ConfigImage() {
    std::copy(std::begin(kSystemDefaults), std::end(kSystemDefaults), bytes_.begin());
}

std::uint32_t ConfigImage::read24(std::size_t offset) const {
    return (std::uint32_t{bytes_.at(offset)} << 16) | (std::uint32_t{bytes_.at(offset + 1)} << 8) |
           bytes_.at(offset + 2);
}

void ConfigImage::write24(std::size_t offset, std::uint32_t value) {
    bytes_.at(offset) = static_cast<std::uint8_t>(value >> 16);
    bytes_.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
    bytes_.at(offset + 2) = static_cast<std::uint8_t>(value);
}

void initialiseDefaults(Configuration& config) {
    ConfigImage& image = config.image;
    for (std::size_t k = 0; k < 100; ++k) config.capcodeNumbers[k] = static_cast<std::int32_t>(1234560 + k);

    image.messageSlot(99)[0] = 4;

    for (std::size_t k = 0; k < 99; ++k) {
        std::uint8_t* slot = image.capcodeSlot(k);
        writeIfFits(slot + capcode::kAddress, std::to_string(config.capcodeNumbers[k]), capcode::kAddressLength);
        setRecordDefaults(slot);
        writeIfFits(image.messageSlot(k), "No." + std::to_string(k + 1) + " ppg message", message::kSlotSize);
    }

    for (std::size_t n = 100; n < 900; ++n) {
        config.capcodeNumbers[n] = static_cast<std::int32_t>(n);
        std::uint8_t* slot = image.capcodeSlot(n - 1);
        std::memcpy(slot, "0000", 4);
        writeIfFits(slot + 4, std::to_string(n), 3);
        setRecordDefaults(slot);
    }

    for (std::size_t j = 0; j < alarm::kRecordCount; ++j) {
        std::uint8_t* record = image.alarmRecord(j);
        writeIfFits(record + alarm::kPagerId, "10" + std::to_string(j + 1), alarm::kPagerIdLength);
        writeIfFits(record + alarm::kText, "Contact " + std::to_string(j + 1), alarm::kTextField);
    }
}

ConfigImage defaultImage() {
    Configuration config;
    initialiseDefaults(config);
    return config.image;
}

std::string readDigits(const std::uint8_t* field, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += std::to_string(field[i] & 0x0F);
    return text;
}

void writeText(std::uint8_t* field, std::size_t fieldSize, std::string_view text) {
    const std::size_t n = std::min(text.size(), fieldSize);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, fieldSize - n);
}

std::string readText(const std::uint8_t* field, std::size_t maxChars) {
    std::size_t n = 0;
    while (n < maxChars && field[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(field), n);
}

bool writeAddress(std::uint8_t* slot, std::string_view text) {
    if (text.size() > capcode::kAddressLength) return false;
    const std::string padded = std::string(capcode::kAddressLength - text.size(), '0') + std::string(text);
    std::memcpy(slot + capcode::kAddress, padded.data(), capcode::kAddressLength);
    return true;
}

std::string readAddress(const std::uint8_t* slot) {
    return readDigits(slot + capcode::kAddress, capcode::kAddressLength);
}

bool writeName(std::uint8_t* slot, std::string_view name) {
    if (name.size() > capcode::kNameMax) return false;
    slot[capcode::kNameLength] = static_cast<std::uint8_t>(name.size());
    std::memcpy(slot + capcode::kName, name.data(), name.size());
    return true;
}

std::string readName(const std::uint8_t* slot) {
    const std::size_t length = std::min<std::size_t>(slot[capcode::kNameLength], capcode::kNameMax);
    return readText(slot + capcode::kName, length);
}

std::string readPagerId(const std::uint8_t* record) {
    return readText(record + alarm::kPagerId, alarm::kPagerIdLength);
}

std::string readAlarmText(const std::uint8_t* record) {
    return readText(record + alarm::kText, alarm::kTextMax);
}

std::string readMessage(const std::uint8_t* slot) { return readText(slot, message::kReadMax); }

}  // namespace qm730
