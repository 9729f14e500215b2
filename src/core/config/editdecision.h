// What a field's key-press or leave rule decides, as plain values: the GUI
// applies the decision to its widgets, shows the notice and moves the focus.
#pragma once

#include <optional>
#include <string>

#include "core/config/notice.h"

namespace qm730 {

inline constexpr char kBackspaceKey = 8;
inline constexpr char kEnterKey = 13;

// Fields the Enter rules move the focus to.
enum class FocusField { Address, TypeBox, Name, Group, Message, PagerId, AlarmText, FocusSink };

struct FocusTarget {
    FocusField field;
    int row = 0;  // 0-based row; unused for the focus sink

    friend bool operator==(const FocusTarget&, const FocusTarget&) = default;
};

enum class KeyAction {
    Pass,       // the key reaches the field unchanged
    Discard,    // the key is swallowed
    Backspace,  // the key is turned into Backspace (deletes before the caret)
    MoveFocus   // the key is swallowed and the focus moves to `focus`
};

struct KeyDecision {
    KeyAction action = KeyAction::Pass;
    std::optional<FocusTarget> focus;  // set for MoveFocus
    std::optional<Notice> notice;      // shown before the key is applied
};

struct LeaveDecision {
    std::optional<Notice> notice;
    bool refocus = false;                  // send the focus back to the field
    std::optional<std::string> fieldText;  // new text for the field, if it changes
};

}  // namespace qm730
