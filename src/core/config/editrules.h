// Typing and leaving rules of the data tabs' fields ("Pager DataBase",
// "PPG Message", "Alarm message"). Pure decisions: the GUI passes the
// field's state in and applies what comes back. Apart from the address
// column's entry in the capcode number table, nothing here writes the image;
// the page store does that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/config/editdecision.h"

namespace qm730 {

enum class DataColumn { Address, Name, Group, Message, PagerId, AlarmText };

// The key rule of a column: the length guard (once the field holds more than
// its limit, every key warns and becomes Backspace), the character class
// (compared as signed 8-bit values, so bytes 0x80 and up are refused where a
// class applies), then Enter moving the focus to the next row. `length` is
// the text length before the key; `row` is 0-based.
KeyDecision dataKeyPress(DataColumn column, int row, std::size_t length, char key);

inline constexpr std::int32_t kSmallestAddress = 8;
inline constexpr std::int32_t kLargestAddress = 2097151;  // 2^21 - 1

struct AddressLeave : LeaveDecision {
    // The number to put into the capcode number table at the row's index.
    std::optional<std::int32_t> acceptedNumber;
};
// `tableEntry` is the capcode number table's entry for the row: an emptied
// field shows it again. An accepted address is shown as seven digits.
AddressLeave addressLeave(std::string_view text, std::int32_t tableEntry);

// Warns above ten characters; the text is trimmed in every case.
LeaveDecision nameLeave(std::string_view text);

struct GroupLeave : LeaveDecision {
    bool uncheck = false;  // uncheck the row's group box (disables and empties the field)
};
// Empty and checked: the group is turned off. Otherwise the text must be a
// number not above 99; the text stays in the field either way.
GroupLeave groupLeave(std::string_view text, bool checked);

// What a change of a row's group check box does to its group field.
struct GroupFieldState {
    bool enabled;
    bool clearText;
    bool takeFocus;
};
GroupFieldState groupCheckChanged(bool checked);

// Warns above 60 characters; the text is trimmed in every case.
LeaveDecision messageLeave(std::string_view text);
// Warns above 899 with "More then 999 !"; a text that is no number is
// refused with a clear message. The text is never changed.
LeaveDecision pagerIdLeave(std::string_view text);
// Warns at 60 characters or more; the text is trimmed in every case.
LeaveDecision alarmTextLeave(std::string_view text);

}  // namespace qm730
