#include "core/config/imagediff.h"

#include <cstdio>

#include "core/config/csv.h"
#include "core/config/pagertable.h"
#include "core/config/pageviews.h"
#include "core/config/settingkeys.h"

namespace qm730 {

namespace {

constexpr std::uint8_t kNamedStatusBits = status::kKeyBeepOff | status::kDisableFrequencySet |
                                          status::kInvertPolarity | status::kLcdBackLightOn |
                                          status::kChannelSpace10k;

std::string quoted(const std::string& latin1) {
    std::string out = "'";
    for (char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, c == '\\' ? "\\\\" : "\\x%02X", byte);
            out += escaped;
        } else {
            out += latin1ToUtf8(std::string_view(&c, 1));
        }
    }
    return out + "'";
}

// Where an image offset lies, for the lines about bytes no setting shows.
struct Place {
    std::string unit;        // "system block", "pager 5", ...
    std::size_t unitStart;   // offset of the unit's first byte
    bool absolute;           // offsets shown as image offsets rather than +n
};

Place placeOf(std::size_t offset) {
    if (offset < capcode::kTable) return {"system block", sys::kBlock, true};
    if (offset < alarm::kTable) {
        const std::size_t k = (offset - capcode::kTable) / capcode::kSlotSize;
        const std::string unit = k < capcode::kPagerRecords ? "pager " + std::to_string(k + 1)
                                                            : "spare capcode slot " + std::to_string(k + 1);
        return {unit, capcodeSlotOffset(k), false};
    }
    if (offset < message::kTable) {
        const std::size_t j = (offset - alarm::kTable) / alarm::kRecordSize;
        return {"alarm " + std::to_string(j + 1), alarmRecordOffset(j), false};
    }
    if (offset < kReservedTail) {
        const std::size_t m = (offset - message::kTable) / message::kSlotSize;
        return {"message " + std::to_string(m + 1), messageSlotOffset(m), false};
    }
    return {"reserved area", 0, true};
}

std::string offsetText(const Place& place, std::size_t offset) {
    char text[16];
    if (place.absolute)
        std::snprintf(text, sizeof text, "0x%04zX", offset);
    else
        std::snprintf(text, sizeof text, "+%zu", offset - place.unitStart);
    return text;
}

class Comparison {
public:
    Comparison(const ConfigImage& before, const ConfigImage& after)
        : before_(before), after_(after), shown_(kImageSize, false) {}

    // Reports a field whose texts differ and counts its bytes as shown.
    void field(const std::string& name, const std::string& was, const std::string& is, std::size_t offset,
               std::size_t length) {
        if (was == is) return;
        lines_.push_back(name + ": " + was + " -> " + is);
        markShown(offset, length);
    }
    void markShown(std::size_t offset, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i) shown_[offset + i] = true;
    }

    // The runs of differing bytes that no reported field covers.
    void unshownBytes() {
        for (std::size_t offset = 0; offset < kImageSize;) {
            if (shown_[offset] || before_[offset] == after_[offset]) {
                ++offset;
                continue;
            }
            const Place place = placeOf(offset);
            std::size_t last = offset;
            while (last + 1 < kImageSize && !shown_[last + 1] && before_[last + 1] != after_[last + 1] &&
                   placeOf(last + 1).unit == place.unit)
                ++last;
            std::string what = last == offset ? "byte " + offsetText(place, offset)
                                              : "bytes " + offsetText(place, offset) + ".." + offsetText(place, last);
            lines_.push_back(place.unit + ": " + what + " differ" + (last == offset ? "s" : "") +
                             " (no setting shows " + (last == offset ? "it" : "them") + ")");
            offset = last + 1;
        }
    }

    std::vector<std::string> take() { return std::move(lines_); }

private:
    const ConfigImage& before_;
    const ConfigImage& after_;
    std::vector<bool> shown_;
    std::vector<std::string> lines_;
};

// The bytes behind each system setting.
std::pair<std::size_t, std::size_t> settingBytes(Setting setting) {
    switch (setting) {
        case Setting::Delay1: case Setting::Delay2: case Setting::Delay3: case Setting::Delay4:
            return {sys::kDelay + static_cast<std::size_t>(setting) - static_cast<std::size_t>(Setting::Delay1), 1};
        case Setting::Preamble: return {sys::kPreamble, 1};
        case Setting::PagerDuration: return {sys::kPagerDuration, 1};
        case Setting::FunctionPassword: return {sys::kFuncPassword, sys::kFuncPasswordLength};
        case Setting::SetupPassword: return {sys::kSetupPassword, sys::kSetupPasswordLength};
        case Setting::UartBaud: return {sys::kUartBaud, 1};
        case Setting::UartData: return {sys::kUartData, 1};
        case Setting::Protocol: return {sys::kProtocol, 1};
        case Setting::Heartbeat: return {sys::kHeartbeat, 1};
        case Setting::Baud: return {sys::kBaudCode, 1};
        case Setting::PocsagBaud: return {sys::kPocsagBaud, 1};
        case Setting::PocsagType: return {sys::kPocsagType, 1};
        case Setting::Frequency: return {sys::kFreqDigits, sys::kFreqDigitCount};
        case Setting::PllR: return {sys::kPllR, 3};
        case Setting::PllN: return {sys::kPllN, 3};
        default: return {sys::kStatusFlags, 1};  // the status byte and its bits
    }
}

void compareSystem(Comparison& c, const ConfigImage& a, const ConfigImage& b) {
    for (const SettingInfo& info : settingTable()) {
        if (info.setting == Setting::StatusFlags) {
            if ((a[sys::kStatusFlags] ^ b[sys::kStatusFlags]) & ~kNamedStatusBits)
                c.field(std::string(info.name), settingValue(a, info.setting), settingValue(b, info.setting),
                        sys::kStatusFlags, 1);
            continue;
        }
        const auto [offset, length] = settingBytes(info.setting);
        c.field(std::string(info.name), settingValue(a, info.setting), settingValue(b, info.setting), offset, length);
    }
    // Every bit of the status byte is told by a name or by Status_flags.
    c.markShown(sys::kStatusFlags, 1);
}

// A list byte as the row shows it, or "(none: BYTE)" as `dump` prints it.
std::string listShown(const std::string& text, std::uint8_t byte) {
    return text.empty() ? "(none: " + std::to_string(byte) + ")" : text;
}

void comparePagers(Comparison& c, const ConfigImage& a, const ConfigImage& b) {
    struct Column {
        const char* name;
        std::size_t index;   // in the table row
        std::size_t offset;  // in the slot
        std::size_t length;
        bool list;
        bool text;
    };
    static constexpr Column kColumns[] = {
        {"Address", 1, capcode::kAddress, capcode::kAddressLength, false, false},
        {"FunBit", 2, capcode::kFuncBits, 1, true, false},
        {"Type", 3, capcode::kType, 1, true, false},
        {"Baud", 4, capcode::kBaud, 1, true, false},
        {"Name", 5, capcode::kNameLength, 1 + capcode::kNameMax, false, true},
        {"Group", 6, capcode::kGroup, 1, false, false},
    };
    for (std::size_t record = 1; record <= capcode::kPagerRecords; ++record) {
        const std::size_t slot = capcodeSlotOffset(record - 1);
        if (std::equal(a.data() + slot, a.data() + slot + capcode::kSlotSize, b.data() + slot)) continue;
        const auto was = pagerRowTexts(a, record), is = pagerRowTexts(b, record);
        for (const Column& column : kColumns) {
            std::string before = was[column.index], after = is[column.index];
            if (column.list) {
                before = listShown(before, a[slot + column.offset]);
                after = listShown(after, b[slot + column.offset]);
            } else if (column.text) {
                before = quoted(readName(a.capcodeSlot(record - 1)));
                after = quoted(readName(b.capcodeSlot(record - 1)));
            } else if (column.offset == capcode::kGroup) {
                if (before.empty()) before = "none";
                if (after.empty()) after = "none";
            }
            c.field("pager " + std::to_string(record) + " " + column.name, before, after, slot + column.offset,
                    column.length);
        }
    }
}

void compareMessages(Comparison& c, const ConfigImage& a, const ConfigImage& b) {
    for (std::size_t m = 0; m < message::kSlotCount; ++m)
        c.field("message " + std::to_string(m + 1), quoted(readMessage(a.messageSlot(m))),
                quoted(readMessage(b.messageSlot(m))), messageSlotOffset(m), message::kSlotSize);
}

void compareAlarms(Comparison& c, const ConfigImage& a, const ConfigImage& b) {
    for (std::size_t j = 0; j < alarm::kRecordCount; ++j) {
        const std::string name = "alarm " + std::to_string(j + 1);
        const std::size_t record = alarmRecordOffset(j);
        c.field(name + " Pager ID", quoted(readPagerId(a.alarmRecord(j))), quoted(readPagerId(b.alarmRecord(j))),
                record + alarm::kPagerId, alarm::kPagerIdLength);
        c.field(name + " Content", quoted(readAlarmText(a.alarmRecord(j))), quoted(readAlarmText(b.alarmRecord(j))),
                record + alarm::kText, alarm::kTextField);
    }
}

}  // namespace

std::vector<std::string> describeDifferences(const ConfigImage& before, const ConfigImage& after) {
    Comparison comparison(before, after);
    if (before.bytes() == after.bytes()) return {};
    compareSystem(comparison, before, after);
    comparePagers(comparison, before, after);
    compareMessages(comparison, before, after);
    compareAlarms(comparison, before, after);
    comparison.unshownBytes();
    return comparison.take();
}

}  // namespace qm730
