#include "core/config/editrules.h"

#include <cstdio>

#include "core/config/integertext.h"
#include "core/config/paging.h"
#include "core/config/texttrim.h"

namespace qm730 {

namespace {

struct ColumnRules {
    std::size_t guardLimit;
    const char* guardText;
    enum class Accepts { AnyKey, AlphaNumericBlank, Digits } accepts;
    const char* classError;  // for keys outside the class
};

ColumnRules rulesOf(DataColumn column) {
    using A = ColumnRules::Accepts;
    switch (column) {
        case DataColumn::Address: return {7, "More then 7 digit !", A::AnyKey, nullptr};
        case DataColumn::Name:
            return {10, "More then 10 Characters!", A::AlphaNumericBlank, "Please insert an alphabet & numeric !"};
        case DataColumn::Group:
            return {3, "More then 3 Characters!", A::Digits, "Please insert a numeric 0 ~ 99 !"};
        case DataColumn::Message: return {60, "More then 60 Characters!", A::AnyKey, nullptr};
        case DataColumn::PagerId:
            return {4, "More then 4 Characters!", A::Digits, "Please insert a numeric  !"};
        case DataColumn::AlarmText: return {59, "More then 59 Characters!", A::AnyKey, nullptr};
    }
    return {0, "", A::AnyKey, nullptr};
}

// Signed comparison: bytes 0x80..0xFF are negative and fall outside every range.
bool inRange(char key, char low, char high) {
    const auto k = static_cast<signed char>(key);
    return k >= low && k <= high;
}

bool classAccepts(ColumnRules::Accepts accepts, char key) {
    using A = ColumnRules::Accepts;
    if (accepts == A::AnyKey || key == kBackspaceKey || key == kEnterKey) return true;
    if (inRange(key, '0', '9')) return true;
    if (accepts == A::Digits) return false;
    return key == ' ' || inRange(key, 'a', 'z') || inRange(key, 'A', 'Z');
}

FocusTarget focusSink() { return {FocusField::FocusSink, 0}; }

// Where Enter moves the focus from a row; after the last row each column has
// its own destination.
FocusTarget enterTarget(DataColumn column, int row) {
    const int next = row + 1;
    switch (column) {
        case DataColumn::Address:
            return next < kRowsPerPage ? FocusTarget{FocusField::Address, next} : FocusTarget{FocusField::TypeBox, 0};
        case DataColumn::Name:
            return next < kRowsPerPage ? FocusTarget{FocusField::Name, next} : FocusTarget{FocusField::Group, 0};
        case DataColumn::Group:
            return next < kRowsPerPage ? FocusTarget{FocusField::Group, next} : FocusTarget{FocusField::Address, 0};
        case DataColumn::Message: return {FocusField::Message, next % kRowsPerPage};
        case DataColumn::PagerId: return next < kAlarmRows ? FocusTarget{FocusField::PagerId, next} : focusSink();
        case DataColumn::AlarmText: return next < kAlarmRows ? FocusTarget{FocusField::AlarmText, next} : focusSink();
    }
    return focusSink();
}

// A leave rule's warning box, with the focus sent back to the field.
LeaveDecision warnAndRefocus(const char* text) {
    LeaveDecision decision;
    decision.notice = warningNotice(text);
    decision.refocus = true;
    return decision;
}

LeaveDecision trimmedLeave(std::string_view text, std::size_t limit, const char* warning) {
    LeaveDecision decision = text.size() > limit ? warnAndRefocus(warning) : LeaveDecision{};
    decision.fieldText = trimBoth(text);
    return decision;
}

}  // namespace

KeyDecision dataKeyPress(DataColumn column, int row, std::size_t length, char key) {
    const ColumnRules rules = rulesOf(column);
    KeyDecision decision;
    if (length > rules.guardLimit) {
        if (key != kBackspaceKey) decision.notice = warningNotice(rules.guardText);
        decision.action = KeyAction::Backspace;
        return decision;
    }
    if (!classAccepts(rules.accepts, key)) {
        decision.action = KeyAction::Discard;
        decision.notice = errorNotice(rules.classError);
        return decision;
    }
    if (key == kEnterKey) {
        decision.action = KeyAction::MoveFocus;
        decision.focus = enterTarget(column, row);
    }
    return decision;
}

AddressLeave addressLeave(std::string_view text, std::int32_t tableEntry) {
    AddressLeave decision;
    if (text.empty()) {
        decision.fieldText = std::to_string(tableEntry);
        return decision;
    }
    const std::int32_t value = parseInteger(text).value_or(-1);
    if (value < 0) {
        decision.notice = plainNotice("Please Input Decimal!");
        decision.refocus = true;
    } else if (value < kSmallestAddress || value > kLargestAddress) {
        decision.notice = plainNotice("Please insert a number between 8 to 2097151!");
        decision.refocus = true;
    } else {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%07d", static_cast<int>(value));
        decision.fieldText = digits;
        decision.acceptedNumber = value;
    }
    return decision;
}

LeaveDecision nameLeave(std::string_view text) { return trimmedLeave(text, 10, "More then 10 Characters!"); }

GroupLeave groupLeave(std::string_view text, bool checked) {
    GroupLeave decision;
    if (text.empty()) {
        decision.uncheck = checked;
        return decision;
    }
    const std::optional<std::int32_t> value = parseInteger(text);
    if (!value) {
        decision.notice = notAnIntegerNotice(text);
        decision.refocus = true;
    } else if (*value > 99) {
        decision.notice = warningNotice("More then 99 !");
        decision.refocus = true;
    }
    return decision;
}

GroupFieldState groupCheckChanged(bool checked) {
    return checked ? GroupFieldState{true, false, true} : GroupFieldState{false, true, false};
}

LeaveDecision messageLeave(std::string_view text) { return trimmedLeave(text, 60, "More then 60 Characters!"); }

LeaveDecision pagerIdLeave(std::string_view text) {
    const std::optional<std::int32_t> value = parseInteger(text);
    if (!value) {
        LeaveDecision decision;
        decision.notice = notAnIntegerNotice(text);
        decision.refocus = true;
        return decision;
    }
    return *value > 899 ? warnAndRefocus("More then 999 !") : LeaveDecision{};
}

LeaveDecision alarmTextLeave(std::string_view text) { return trimmedLeave(text, 59, "More then 59 Characters!"); }

}  // namespace qm730
