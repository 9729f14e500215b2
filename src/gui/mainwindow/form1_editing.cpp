// Key-press and leave rules of the data tabs' fields. The decisions come from
// the core; here they are applied to the widgets: the notice is shown, the key
// replaced, the text tidied and the focus moved or sent back.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "gui/mainwindow/imagetext.h"
#include "gui/seams/keypressfilter.h"
#include "gui/seams/messagebox.h"
#include "gui/mainwindow/tag.h"
#include "gui/mainwindow/unit1.h"
#include "core/config/editrules.h"
#include "core/config/paging.h"

namespace {

using qm730::DataColumn;
using qm730::FocusField;
using qm730::FocusTarget;

QString textOf(const QObject* field) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(field)) return edit->text();
    if (const auto* memo = qobject_cast<const QPlainTextEdit*>(field)) return memo->toPlainText();
    return {};
}

// Replaces the text only when it changes, so the caret stays where it was.
void setTextOf(QObject* field, const QString& text) {
    if (textOf(field) == text) return;
    if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->setText(text);
    if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) memo->setPlainText(text);
}

QWidget* widgetOf(const TForm1& form, const FocusTarget& target) {
    const ControlArrays& a = form.arrays();
    const auto r = static_cast<std::size_t>(target.row);
    switch (target.field) {
        case FocusField::Address: return a.edtAddr.at(r);
        case FocusField::TypeBox: return a.cboType.at(r);
        case FocusField::Name: return a.edtName.at(r);
        case FocusField::Group: return a.edtGroup.at(r);
        case FocusField::Message: return a.memMsg.at(r);
        case FocusField::PagerId: return a.edtPagerID.at(r);
        case FocusField::AlarmText: return a.memAMsg.at(r);
        case FocusField::FocusSink: return form.Edit1;
    }
    return form.Edit1;
}

// The column whose Enter rule continues from a field that cannot take the
// focus; the type box and the focus sink are always reachable.
std::optional<DataColumn> columnOf(FocusField field) {
    switch (field) {
        case FocusField::Address: return DataColumn::Address;
        case FocusField::Name: return DataColumn::Name;
        case FocusField::Group: return DataColumn::Group;
        case FocusField::Message: return DataColumn::Message;
        case FocusField::PagerId: return DataColumn::PagerId;
        case FocusField::AlarmText: return DataColumn::AlarmText;
        case FocusField::TypeBox:
        case FocusField::FocusSink: break;
    }
    return std::nullopt;
}

// Where Enter lands: the rule's target, or, when that field is disabled (a
// group field without a group, a spare row of page 11), the next field along
// the same rule that can take the focus. Bounded, so a column with nothing
// enabled leaves the focus where it is.
QWidget* enterDestination(const TForm1& form, FocusTarget target) {
    constexpr int kMostSteps = 2 * kCapcodeRows + 2;
    for (int step = 0; step < kMostSteps; ++step) {
        QWidget* widget = widgetOf(form, target);
        if (widget->isEnabled()) return widget;
        const std::optional<DataColumn> column = columnOf(target.field);
        if (!column) return nullptr;
        const qm730::KeyDecision next = qm730::dataKeyPress(*column, target.row, 0, qm730::kEnterKey);
        if (!next.focus) return nullptr;
        target = *next.focus;
    }
    return nullptr;
}

}  // namespace

// --- Key-press rules ------------------------------------------------------------

namespace {

void applyKeyRule(TForm1& form, DataColumn column, QObject* sender, char& key) {
    const auto length = static_cast<std::size_t>(textOf(sender).size());
    const qm730::KeyDecision decision = qm730::dataKeyPress(column, tagOf(sender), length, key);
    if (decision.notice) MessageBox::show(&form, *decision.notice);
    switch (decision.action) {
        case qm730::KeyAction::Pass: return;
        case qm730::KeyAction::Discard: key = KeyPressFilter::kSwallowed; return;
        case qm730::KeyAction::Backspace: key = KeyPressFilter::kBackspace; return;
        case qm730::KeyAction::MoveFocus:
            key = KeyPressFilter::kSwallowed;
            if (QWidget* destination = enterDestination(form, *decision.focus))
                destination->setFocus(Qt::OtherFocusReason);
            return;
    }
}

}  // namespace

void TForm1::edtAddrKeyPress(QObject* sender, char& key) { applyKeyRule(*this, DataColumn::Address, sender, key); }
void TForm1::edtNameKeyPress(QObject* sender, char& key) { applyKeyRule(*this, DataColumn::Name, sender, key); }
void TForm1::edtGroupKeyPress(QObject* sender, char& key) { applyKeyRule(*this, DataColumn::Group, sender, key); }
void TForm1::memMsgKeyPress(QObject* sender, char& key) { applyKeyRule(*this, DataColumn::Message, sender, key); }
void TForm1::edtPagerIDKeyPress(QObject* sender, char& key) { applyKeyRule(*this, DataColumn::PagerId, sender, key); }
void TForm1::memAMsgKeyPress(QObject* sender, char& key) { applyKeyRule(*this, DataColumn::AlarmText, sender, key); }

// --- Leave rules ----------------------------------------------------------------

namespace {

// Shows the complaint, tidies the text and, where the value was refused,
// keeps the operator in the field. The refused text stays as typed. A field
// whose tab was switched away is not given the focus back: the operator could
// neither see nor leave it.
void applyLeave(TForm1& form, QObject* sender, const qm730::LeaveDecision& decision) {
    if (decision.notice) MessageBox::show(&form, *decision.notice);
    if (decision.fieldText) setTextOf(sender, fromImageText(*decision.fieldText));
    auto* field = static_cast<QWidget*>(sender);
    if (decision.refocus && field->isVisible()) field->setFocus(Qt::OtherFocusReason);
}

std::string imageTextOf(const QObject* field) { return toImageText(textOf(field)); }

}  // namespace

void TForm1::edtAddrExit(QObject* sender) {
    const auto index = static_cast<std::size_t>(qm730::capcodeTableIndex(capcodePage_, tagOf(sender)));
    std::int32_t& tableEntry = config_.capcodeNumbers.at(index);
    const qm730::AddressLeave decision = qm730::addressLeave(imageTextOf(sender), tableEntry);
    if (decision.acceptedNumber) tableEntry = *decision.acceptedNumber;
    applyLeave(*this, sender, decision);
}

void TForm1::edtNameExit(QObject* sender) { applyLeave(*this, sender, qm730::nameLeave(imageTextOf(sender))); }

void TForm1::edtGroupExit(QObject* sender) {
    const auto row = static_cast<std::size_t>(tagOf(sender));
    QCheckBox* box = arrays_.chkGroup.at(row);
    const qm730::GroupLeave decision = qm730::groupLeave(imageTextOf(sender), box->isChecked());
    if (decision.uncheck) {
        box->setChecked(false);  // runs the check box rule: the field is emptied and disabled
        arrays_.edtGroup.at(row)->setEnabled(false);
    }
    applyLeave(*this, sender, decision);
}

// A checked box opens the row's group field for a number; an unchecked one
// takes the group away.
void TForm1::chkGroup1Click(QObject* sender) {
    const auto* box = qobject_cast<const QCheckBox*>(sender);
    if (!box) return;
    QLineEdit* group = arrays_.edtGroup.at(static_cast<std::size_t>(tagOf(box)));
    const qm730::GroupFieldState state = qm730::groupCheckChanged(box->isChecked());
    group->setEnabled(state.enabled);
    if (state.clearText) group->clear();
    if (state.takeFocus) group->setFocus(Qt::OtherFocusReason);
}

void TForm1::memMsgExit(QObject* sender) { applyLeave(*this, sender, qm730::messageLeave(imageTextOf(sender))); }
void TForm1::edtPagerIDExit(QObject* sender) { applyLeave(*this, sender, qm730::pagerIdLeave(imageTextOf(sender))); }
void TForm1::memAMsgExit(QObject* sender) { applyLeave(*this, sender, qm730::alarmTextLeave(imageTextOf(sender))); }
