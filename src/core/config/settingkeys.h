// The system settings by name, for scripts: every setting of the "Config" tab
// and of the selection bar's frequency controls, read as the GUI shows it and
// set through the same rules the GUI's fields apply.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/image.h"

namespace qm730 {

enum class Setting {
    Delay1, Delay2, Delay3, Delay4, Preamble, PagerDuration, FunctionPassword, SetupPassword,
    UartBaud, UartData, Protocol, Heartbeat, Baud, PocsagBaud, PocsagType,
    StatusFlags, KeyBeepOff, DisableFrequencySet, InvertPolarity, LcdBackLightOn,
    Frequency, ChannelSpace, PllR, PllN
};

struct SettingInfo {
    Setting setting;
    std::string_view name;    // as `qm730ctl dump` prints it: "UART_baud"
    bool settable;            // the status byte and the PLL words are derived
    std::string_view values;  // what a value may be, for help texts and refusals
};

// Every setting, in the order `dump` prints them.
std::span<const SettingInfo> settingTable();
const SettingInfo& settingInfo(Setting setting);
// Names are matched without regard to case: "uart_baud" finds "UART_baud".
const SettingInfo* findSetting(std::string_view name);

// The value as the GUI shows it, in a form that setSetting takes back: list
// items by their text, "on" or "off", the frequency in hertz followed by
// " Hz", PLL words as six hexadecimal digits. A byte that matches no list
// item reads "(none: BYTE)".
std::string settingValue(const ConfigImage& image, Setting setting);
// What is wrong with a stored PLL word, " (frequency gives 023810)" or
// similar; empty when the word is the one its frequency and spacing give.
std::string settingRemark(const ConfigImage& image, Setting setting);

// Finds a list item by its text: exactly as shown first, then ignoring blanks
// and case, so "9600bps" and "9600 BPS" both find "9600 bps".
std::optional<int> matchItem(std::span<const std::string_view> items, std::string_view text);
// The items joined for a message: "1200 bps, 2400 bps".
std::string itemList(std::span<const std::string_view> items);

// A frequency as given: digits with an optional fraction and an optional
// unit "Hz", "kHz" or "MHz" (any case, with or without a blank before it):
// "454500000", "454500000 Hz", "454.5 MHz". Without a unit it is hertz.
struct GivenFrequency {
    std::uint64_t wholeHz = 0;
    // The digits of a fraction of a hertz, trailing zeros left out: "5" for
    // 454500000.5 Hz, empty for a whole number of hertz. Never dropped: a
    // fraction is refused, not cut off.
    std::string fractionOfHz;
};
std::optional<GivenFrequency> parseFrequency(std::string_view text);

struct SettingAssignment {
    std::string name;
    std::string value;
};
// "KEY=VALUE" split at the first '='; std::nullopt without '=' or name.
std::optional<SettingAssignment> parseAssignment(std::string_view text);

struct SettingRefusal {
    std::string name;    // the setting's own name, or the name as given when unknown
    std::string reason;  // the rule the value breaks
};

// Applies all the assignments or none of them. Each value goes through the
// rule of its field: byte fields take 0 to 255, passwords exactly their
// length of digits, lists one of their items, status flags on or off, the
// frequency a multiple of 100 Hz on the channel raster. Channel_space is
// applied before Frequency whatever their order, and either one recomputes
// the PLL words as the GUI does. Every refusal is returned; when there is
// any, the image is left untouched.
std::vector<SettingRefusal> applySettings(ConfigImage& image, std::span<const SettingAssignment> assignments);

}  // namespace qm730
