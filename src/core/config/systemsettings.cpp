#include "core/config/systemsettings.h"

#include <algorithm>
#include <string>

#include "core/config/integertext.h"

namespace qm730 {

namespace {

constexpr std::string_view kUartBaudItems[] = {"1200 bps", "2400 bps", "4800 bps", "9600 bps", "12800 bps", "19200 bps"};
constexpr std::string_view kUartDataItems[] = {"7,E,1", "8,N,1"};
constexpr std::string_view kProtocolItems[] = {
    "QZTAP",   "IPage 2 Personal Edition", "WaveWare Paging System TAP", "Programming", "QZCOMP2",
    "POCSAG TEXT", "POCSAG Numeric", "COMP2", "COMP1", "SCOPE"};
constexpr std::string_view kHeartbeatItems[] = {
    "Disable",       "1     Minutes", "2     Minutes", "3     Minutes", "4     Minutes", "5     Minutes",
    "6     Minutes", "7     Minutes", "8     Minutes", "9     Minutes", "10   Minutes"};
constexpr std::string_view kBaudItems[] = {" 512  bps", "1200 bps", "2400 bps"};
constexpr std::string_view kPocsagBaudItems[] = {"512  bps", "1200 bps"};
constexpr std::string_view kPocsagTypeItems[] = {"Text", "Numeric"};

struct ListInfo {
    std::span<const std::string_view> items;
    std::size_t offset;
    int codeBase;
};

ListInfo infoOf(SystemList list) {
    switch (list) {
        case SystemList::UartBaud: return {kUartBaudItems, sys::kUartBaud, 0};
        case SystemList::UartData: return {kUartDataItems, sys::kUartData, 0};
        case SystemList::Protocol: return {kProtocolItems, sys::kProtocol, 0};
        case SystemList::Heartbeat: return {kHeartbeatItems, sys::kHeartbeat, 0};
        case SystemList::Baud: return {kBaudItems, sys::kBaudCode, 1};
        case SystemList::PocsagBaud: return {kPocsagBaudItems, sys::kPocsagBaud, 1};
        case SystemList::PocsagType: return {kPocsagTypeItems, sys::kPocsagType, 1};
    }
    return {kUartBaudItems, sys::kUartBaud, 0};
}

constexpr std::uint8_t kStatusBits[kStatusCheckBoxCount] = {status::kKeyBeepOff, status::kDisableFrequencySet,
                                                          status::kInvertPolarity, status::kLcdBackLightOn};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t passwordOffset(Password password) {
    return password == Password::Function ? sys::kFuncPassword : sys::kSetupPassword;
}

void setBit(std::uint8_t& byte, std::uint8_t bit, bool on) {
    byte = on ? static_cast<std::uint8_t>(byte | bit) : static_cast<std::uint8_t>(byte & ~bit);
}

}  // namespace

std::span<const std::string_view> listItems(SystemList list) { return infoOf(list).items; }
std::size_t listOffset(SystemList list) { return infoOf(list).offset; }
int listCodeBase(SystemList list) { return infoOf(list).codeBase; }

void storeListChoice(ConfigImage& image, SystemList list, int index) {
    const ListInfo info = infoOf(list);
    image[info.offset] = static_cast<std::uint8_t>(index + info.codeBase);
}

std::optional<int> listSelection(const ConfigImage& image, SystemList list) {
    const ListInfo info = infoOf(list);
    const int index = image[info.offset] - info.codeBase;
    if (index < 0 || index >= static_cast<int>(info.items.size())) return std::nullopt;
    return index;
}

KeyDecision numericKeyPress(char key) {
    if (key == kEnterKey) return {KeyAction::Discard, std::nullopt, std::nullopt};
    if (key == kBackspaceKey || isDigit(key)) return {};
    return {KeyAction::Discard, std::nullopt,
            Notice{"Please insert a numeric !", kModelCaption, NoticeButtons::Ok, NoticeIcon::Exclamation}};
}

ByteField delayField(int tag) { return static_cast<ByteField>(static_cast<int>(ByteField::Delay1) + tag); }

std::size_t byteFieldOffset(ByteField field) {
    switch (field) {
        case ByteField::Preamble: return sys::kPreamble;
        case ByteField::PagerDuration: return sys::kPagerDuration;
        default: return sys::kDelay + static_cast<std::size_t>(field);
    }
}

std::optional<Notice> storeByteField(ConfigImage& image, ByteField field, std::string_view text) {
    if (text.empty()) return std::nullopt;
    const std::optional<std::int32_t> value = parseInteger(text);
    if (!value) return notAnIntegerNotice(text);
    image[byteFieldOffset(field)] = static_cast<std::uint8_t>(*value & 0xFF);
    return std::nullopt;
}

std::size_t passwordLength(Password password) {
    return password == Password::Function ? sys::kFuncPasswordLength : sys::kSetupPasswordLength;
}

bool storePassword(ConfigImage& image, Password password, std::string_view text) {
    // Text pasted through the context menu escapes the key rule.
    const bool allDigits = std::all_of(text.begin(), text.end(), isDigit);
    if (text.size() != passwordLength(password) || !allDigits) return false;
    const std::size_t offset = passwordOffset(password);
    for (std::size_t i = 0; i < text.size(); ++i) image[offset + i] = static_cast<std::uint8_t>(text[i]);
    return true;
}

std::string storedPassword(const ConfigImage& image, Password password) {
    return readDigits(image.data() + passwordOffset(password), passwordLength(password));
}

Notice passwordRefusedNotice(Password password) {
    const char* name = password == Password::Function ? "Function Password" : "Setup Password";
    return errorNotice(std::string(name) + " must be " + std::to_string(passwordLength(password)) +
                       " digits !  The stored one is kept.");
}

std::uint8_t statusBitOfTag(int tag) {
    if (tag < 0 || tag >= kStatusCheckBoxCount) return 0;  // no such check box: no bit
    return kStatusBits[tag];
}

void storeStatusCheckBox(ConfigImage& image, int tag, bool checked) {
    setBit(image[sys::kStatusFlags], statusBitOfTag(tag), checked);
}

void storeStatusGroup(ConfigImage& image, const std::array<bool, kStatusCheckBoxCount>& checked, int channelSpaceIndex) {
    std::uint8_t& flags = image[sys::kStatusFlags];
    for (int tag = 0; tag < kStatusCheckBoxCount; ++tag) setBit(flags, kStatusBits[tag], checked[tag]);
    setBit(flags, status::kChannelSpace10k, channelSpaceIndex != 0);
}

}  // namespace qm730
