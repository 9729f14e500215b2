#include "core/config/settingkeys.h"

#include <algorithm>
#include <array>

#include "core/config/configview.h"
#include "core/config/integertext.h"
#include "core/config/pll.h"
#include "core/config/systemsettings.h"

namespace qm730 {

namespace {

constexpr std::string_view kByteValues = "a whole number from 0 to 255";
constexpr std::string_view kFlagValues = "on or off";
constexpr std::string_view kDerived = "(derived)";

constexpr std::array<SettingInfo, 24> kSettings{{
    {Setting::Delay1, "Delay_byte_1", true, kByteValues},
    {Setting::Delay2, "Delay_byte_2", true, kByteValues},
    {Setting::Delay3, "Delay_byte_3", true, kByteValues},
    {Setting::Delay4, "Delay_byte_4", true, kByteValues},
    {Setting::Preamble, "Preamble_length", true, kByteValues},
    {Setting::PagerDuration, "Pager_duration", true, kByteValues},
    {Setting::FunctionPassword, "Function_password", true, "exactly 4 digits"},
    {Setting::SetupPassword, "Setup_password", true, "exactly 7 digits"},
    {Setting::UartBaud, "UART_baud", true, "an item of the list"},
    {Setting::UartData, "UART_data", true, "an item of the list"},
    {Setting::Protocol, "Protocol_select", true, "an item of the list"},
    {Setting::Heartbeat, "Heartbeat", true, "an item of the list"},
    {Setting::Baud, "Baud", true, "an item of the list"},
    {Setting::PocsagBaud, "POCSAG_baud", true, "an item of the list"},
    {Setting::PocsagType, "POCSAG_type", true, "an item of the list"},
    {Setting::StatusFlags, "Status_flags", false, kDerived},
    {Setting::KeyBeepOff, "Key_beep_off", true, kFlagValues},
    {Setting::DisableFrequencySet, "Disable_frequency_set", true, kFlagValues},
    {Setting::InvertPolarity, "Invert_polarity", true, kFlagValues},
    {Setting::LcdBackLightOn, "LCD_back_light_on", true, kFlagValues},
    {Setting::Frequency, "Frequency", true, "hertz on the channel raster, e.g. 454500000 Hz or 454.5 MHz"},
    {Setting::ChannelSpace, "Channel_space", true, "12.5k or 10k"},
    {Setting::PllR, "PLL_R", false, kDerived},
    {Setting::PllN, "PLL_N", false, kDerived},
}};

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lower(x) == lower(y);
           });
}

// Blanks dropped and letters lowered, the loose form of an item text.
std::string looseForm(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c != ' ' && c != '\t') out += lower(c);
    return out;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<SystemList> listOf(Setting setting) {
    switch (setting) {
        case Setting::UartBaud: return SystemList::UartBaud;
        case Setting::UartData: return SystemList::UartData;
        case Setting::Protocol: return SystemList::Protocol;
        case Setting::Heartbeat: return SystemList::Heartbeat;
        case Setting::Baud: return SystemList::Baud;
        case Setting::PocsagBaud: return SystemList::PocsagBaud;
        case Setting::PocsagType: return SystemList::PocsagType;
        default: return std::nullopt;
    }
}

std::optional<ByteField> byteFieldOf(Setting setting) {
    switch (setting) {
        case Setting::Delay1: return ByteField::Delay1;
        case Setting::Delay2: return ByteField::Delay2;
        case Setting::Delay3: return ByteField::Delay3;
        case Setting::Delay4: return ByteField::Delay4;
        case Setting::Preamble: return ByteField::Preamble;
        case Setting::PagerDuration: return ByteField::PagerDuration;
        default: return std::nullopt;
    }
}

// Tag of the check box that owns a status flag.
std::optional<int> statusTagOf(Setting setting) {
    switch (setting) {
        case Setting::KeyBeepOff: return 0;
        case Setting::DisableFrequencySet: return 1;
        case Setting::InvertPolarity: return 2;
        case Setting::LcdBackLightOn: return 3;
        default: return std::nullopt;
    }
}

std::string hexByte(std::uint8_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 0x0F];
}

// Digit bytes read by their low four bits, as the board reads them.
std::uint64_t storedFrequencyHz(const ConfigImage& image) {
    std::uint64_t hundreds = 0;
    for (std::size_t i = 0; i < sys::kFreqDigitCount; ++i) hundreds = hundreds * 10 + (image[sys::kFreqDigits + i] & 0x0F);
    return hundreds * kFrequencyUnitHz;
}

std::string hertz(std::uint64_t hz) { return std::to_string(hz) + " Hz"; }

std::string spacingText(int channelSpace) { return channelSpace == 0 ? "12.5 kHz" : "10 kHz"; }

// The largest frequency the seven digits hold.
constexpr std::uint64_t kLargestFrequencyHz = 9999999 * kFrequencyUnitHz;

std::optional<std::string> storeFrequency(ConfigImage& image, std::string_view value) {
    const std::optional<GivenFrequency> given = parseFrequency(value);
    if (!given) return "'" + std::string(value) + "' is not a frequency: give hertz, or a number followed by Hz, kHz or MHz";
    const std::uint64_t hz = given->wholeHz;
    if (!given->fractionOfHz.empty())
        return std::to_string(hz) + "." + given->fractionOfHz + " Hz is not a whole multiple of 100 Hz";
    if (hz % kFrequencyUnitHz != 0) return hertz(hz) + " is not a whole multiple of 100 Hz";
    if (hz > kLargestFrequencyHz) return hertz(hz) + " is above " + hertz(kLargestFrequencyHz);
    const int space = storedChannelSpace(image);
    const std::string digits = std::to_string(hz / kFrequencyUnitHz);
    const FrequencyDecision decision = applyFrequency(image, digits, space);
    if (decision.notice)
        return hertz(hz) + " is not a whole multiple of the " + spacingText(space) + " channel spacing";
    return std::nullopt;
}

std::optional<bool> parseFlag(std::string_view value) {
    for (std::string_view on : {"on", "1", "yes", "true"})
        if (sameIgnoringCase(value, on)) return true;
    for (std::string_view off : {"off", "0", "no", "false"})
        if (sameIgnoringCase(value, off)) return false;
    return std::nullopt;
}

std::string quoted(std::string_view value) { return "'" + std::string(value) + "'"; }

// Stores one value through its field's rule; the reason when it is refused.
// A new channel spacing recomputes the N word from the stored frequency;
// where that frequency is off the new raster the board would be mistuned,
// unless a frequency given with the spacing follows and is checked itself.
std::optional<std::string> store(ConfigImage& image, const SettingInfo& info, std::string_view value,
                                 bool frequencyFollows) {
    if (!info.settable) {
        if (info.setting == Setting::StatusFlags)
            return "is set through Key_beep_off, Disable_frequency_set, Invert_polarity, LCD_back_light_on and "
                   "Channel_space";
        return "is computed from Frequency and Channel_space";
    }
    if (const auto field = byteFieldOf(info.setting)) {
        // The field would keep the low eight bits of a larger number (300
        // as 44), which is never what a script meant: it is refused.
        const std::optional<std::int32_t> number = isDecimalDigits(value) ? parseInteger(value) : std::nullopt;
        if (!number || *number > 255) return quoted(value) + " is not " + std::string(kByteValues);
        storeByteField(image, *field, value);
        return std::nullopt;
    }
    if (info.setting == Setting::FunctionPassword || info.setting == Setting::SetupPassword) {
        const Password which = info.setting == Setting::FunctionPassword ? Password::Function : Password::Setup;
        if (!storePassword(image, which, value))
            return quoted(value) + " is not " + std::to_string(passwordLength(which)) + " digits";
        return std::nullopt;
    }
    if (const auto list = listOf(info.setting)) {
        const auto items = listItems(*list);
        const std::optional<int> item = matchItem(items, value);
        if (!item) return quoted(value) + " is not one of: " + itemList(items);
        storeListChoice(image, *list, *item);
        return std::nullopt;
    }
    if (const auto tag = statusTagOf(info.setting)) {
        const std::optional<bool> on = parseFlag(value);
        if (!on) return quoted(value) + " is not on or off";
        storeStatusCheckBox(image, *tag, *on);
        return std::nullopt;
    }
    if (info.setting == Setting::ChannelSpace) {
        const std::optional<int> item = matchItem(channelSpaceItems(), value);
        if (!item) return quoted(value) + " is not one of: " + itemList(channelSpaceItems());
        const ChannelSpaceDecision decision = applyChannelSpace(image, *item);
        if (decision.notice && !frequencyFollows)
            return "the frequency " + hertz(storedFrequencyHz(image)) + " is not a whole multiple of the " +
                   spacingText(*item) + " channel spacing; give a Frequency with it";
        return std::nullopt;
    }
    return storeFrequency(image, value);
}

}  // namespace

std::span<const SettingInfo> settingTable() { return kSettings; }

const SettingInfo& settingInfo(Setting setting) {
    return *std::find_if(kSettings.begin(), kSettings.end(), [&](const SettingInfo& i) { return i.setting == setting; });
}

const SettingInfo* findSetting(std::string_view name) {
    for (const SettingInfo& info : kSettings)
        if (sameIgnoringCase(info.name, name)) return &info;
    return nullptr;
}

std::string settingValue(const ConfigImage& image, Setting setting) {
    const ConfigView view = loadConfigView(image);
    if (const auto field = byteFieldOf(setting)) return std::to_string(image[byteFieldOffset(*field)]);
    if (const auto list = listOf(setting)) {
        if (const auto item = view.list(*list)) return std::string(listItems(*list)[static_cast<std::size_t>(*item)]);
        return "(none: " + std::to_string(image[listOffset(*list)]) + ")";
    }
    if (const auto tag = statusTagOf(setting)) return view.statusChecks[static_cast<std::size_t>(*tag)] ? "on" : "off";
    switch (setting) {
        case Setting::FunctionPassword: return view.functionPassword;
        case Setting::SetupPassword: return view.setupPassword;
        case Setting::StatusFlags: return hexByte(image[sys::kStatusFlags]);
        case Setting::Frequency: return hertz(storedFrequencyHz(image));
        case Setting::ChannelSpace: return std::string(channelSpaceItems()[static_cast<std::size_t>(view.channelSpace)]);
        case Setting::PllR: return view.pllR;
        case Setting::PllN: return view.pllN;
        default: return {};
    }
}

std::string settingRemark(const ConfigImage& image, Setting setting) {
    const int space = storedChannelSpace(image);
    if (setting == Setting::PllR) {
        const std::uint32_t expected = rWordOf(space);
        return image.read24(sys::kPllR) == expected ? std::string() : " (spacing gives " + hexWord(expected) + ")";
    }
    if (setting == Setting::PllN) {
        const auto expected = nWordOf(storedFrequencyHz(image), channelStepHz(space));
        if (!expected) return " (frequency is off the channel raster)";
        return image.read24(sys::kPllN) == *expected ? std::string() : " (frequency gives " + hexWord(*expected) + ")";
    }
    return {};
}

std::optional<int> matchItem(std::span<const std::string_view> items, std::string_view text) {
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i] == text) return static_cast<int>(i);
    const std::string loose = looseForm(text);
    if (loose.empty()) return std::nullopt;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (looseForm(items[i]) == loose) return static_cast<int>(i);
    return std::nullopt;
}

std::string itemList(std::span<const std::string_view> items) {
    std::string out;
    for (std::string_view item : items) {
        if (!out.empty()) out += ", ";
        out += item;
    }
    return out;
}

std::optional<GivenFrequency> parseFrequency(std::string_view text) {
    std::size_t i = 0;
    std::uint64_t whole = 0;
    std::string fraction;
    const auto tooLarge = [](std::uint64_t v) { return v > 1'000'000'000'000ULL; };
    for (; i < text.size() && isDigit(text[i]); ++i) {
        whole = whole * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (tooLarge(whole)) return std::nullopt;
    }
    if (i == 0) return std::nullopt;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && isDigit(text[i]); ++i) fraction += text[i];
        if (fraction.empty()) return std::nullopt;
    }
    std::string_view unit = text.substr(i);
    if (!unit.empty() && unit.front() == ' ') unit.remove_prefix(1);
    int exponent = 0;
    if (unit.empty() && text.size() == i) exponent = 0;  // no unit: hertz
    else if (sameIgnoringCase(unit, "Hz")) exponent = 0;
    else if (sameIgnoringCase(unit, "kHz")) exponent = 3;
    else if (sameIgnoringCase(unit, "MHz")) exponent = 6;
    else return std::nullopt;

    // Shift the fraction's digits into the whole part; the digits left over
    // are a fraction of a hertz.
    for (int e = 0; e < exponent; ++e) {
        const char digit = e < static_cast<int>(fraction.size()) ? fraction[static_cast<std::size_t>(e)] : '0';
        whole = whole * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    if (tooLarge(whole)) return std::nullopt;
    GivenFrequency given{whole, fraction.substr(std::min(fraction.size(), static_cast<std::size_t>(exponent)))};
    while (!given.fractionOfHz.empty() && given.fractionOfHz.back() == '0') given.fractionOfHz.pop_back();
    return given;
}

std::optional<SettingAssignment> parseAssignment(std::string_view text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0) return std::nullopt;
    return SettingAssignment{std::string(text.substr(0, equals)), std::string(text.substr(equals + 1))};
}

std::vector<SettingRefusal> applySettings(ConfigImage& image, std::span<const SettingAssignment> assignments) {
    std::vector<SettingRefusal> refusals;
    // Channel_space first, so that a frequency given with it is checked
    // against the new raster.
    std::vector<std::pair<const SettingInfo*, const SettingAssignment*>> ordered;
    for (const SettingAssignment& assignment : assignments) {
        const SettingInfo* info = findSetting(assignment.name);
        if (!info) {
            refusals.push_back({assignment.name, "no such setting"});
            continue;
        }
        const bool twice = std::any_of(ordered.begin(), ordered.end(), [&](const auto& o) { return o.first == info; });
        if (twice) {
            refusals.push_back({std::string(info->name), "is given more than once"});
            continue;
        }
        ordered.emplace_back(info, &assignment);
    }
    std::stable_partition(ordered.begin(), ordered.end(),
                          [](const auto& o) { return o.first->setting == Setting::ChannelSpace; });

    const bool frequencyGiven =
        std::any_of(ordered.begin(), ordered.end(), [](const auto& o) { return o.first->setting == Setting::Frequency; });
    ConfigImage result = image;
    for (const auto& [info, assignment] : ordered) {
        if (auto reason = store(result, *info, assignment->value, frequencyGiven))
            refusals.push_back({std::string(info->name), std::move(*reason)});
    }
    if (refusals.empty()) image = result;
    return refusals;
}

}  // namespace qm730
