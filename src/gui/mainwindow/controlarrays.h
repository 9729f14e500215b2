// The row controls of the main window, one array per column, indexed by each
// control's "Tag" (its 0-based row). The page views and the editing handlers
// reach a row's controls through these arrays, never by name.
#pragma once

#include <array>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QObject;
class QPlainTextEdit;

inline constexpr int kCapcodeRows = 10;
inline constexpr int kMessageRows = 10;
inline constexpr int kAlarmRows = 7;
inline constexpr int kStatusBoxes = 5;
inline constexpr int kDelayFields = 4;

struct ControlArrays {
    std::array<QPlainTextEdit*, kMessageRows> memMsg{};
    std::array<QPlainTextEdit*, kAlarmRows> memAMsg{};
    std::array<QCheckBox*, kStatusBoxes> chkCtl{};
    std::array<QComboBox*, kCapcodeRows> cboFunc{};
    std::array<QComboBox*, kCapcodeRows> cboType{};
    std::array<QComboBox*, kCapcodeRows> cboBaud{};
    std::array<QLineEdit*, kCapcodeRows> edtAddr{};
    std::array<QLineEdit*, kCapcodeRows> edtName{};
    std::array<QLineEdit*, kCapcodeRows> edtGroup{};
    std::array<QLineEdit*, kAlarmRows> edtPagerID{};
    std::array<QLineEdit*, kDelayFields> edtDelay{};
    std::array<QLabel*, kCapcodeRows> labIndex{};
    std::array<QLabel*, kMessageRows> labMIndex{};
    std::array<QCheckBox*, kCapcodeRows> chkGroup{};
};

// Fills the arrays from the window's components in creation order. Each
// component goes into the first array whose name prefix its name begins with,
// at the position of its "Tag"; a component of the wrong kind, without a Tag
// or with a Tag outside its array is left out.
void fillControlArrays(ControlArrays& arrays, const std::vector<QObject*>& components);
