// The Config tab's rules, the frequency field and the channel-space list.
// Every rule copies its control's state into the core rule, which writes only
// the bytes or bits of its own setting; the handlers then show what the rule
// decided: a notice, a corrected text, the focus sent back.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

#include "gui/seams/messagebox.h"
#include "gui/mainwindow/tag.h"
#include "gui/mainwindow/unit1.h"
#include "core/config/configview.h"
#include "core/config/pll.h"
#include "core/config/systemsettings.h"
#include "gui/windows/passworddlg.h"

namespace {

using qm730::SystemList;

QString fromDigits(const std::string& text) { return QString::fromStdString(text); }
std::string textOf(const QLineEdit* field) { return field->text().toStdString(); }

void setSelection(QComboBox* list, const std::optional<int>& item) { list->setCurrentIndex(item.value_or(-1)); }

}  // namespace

// --- Status group -----------------------------------------------------------

void TForm1::chkCtlClick(QObject* sender) {
    const auto* box = qobject_cast<QCheckBox*>(sender);
    if (!box) return;
    qm730::storeStatusCheckBox(config_.image, tagOf(box), box->isChecked());
}

void TForm1::GroupBox2Exit(QObject*) {
    std::array<bool, qm730::kStatusCheckBoxCount> checked{};
    for (int tag = 0; tag < qm730::kStatusCheckBoxCount; ++tag) checked[tag] = arrays_.chkCtl[tag]->isChecked();
    qm730::storeStatusGroup(config_.image, checked, cboCSpace->currentIndex());
}

// --- Numeric fields ---------------------------------------------------------

// Shared by every numeric field of the tab and by the frequency field.
void TForm1::edtDelayKeyPress(QObject*, char& key) {
    const qm730::KeyDecision decision = qm730::numericKeyPress(key);
    if (decision.notice) MessageBox::show(this, *decision.notice);
    if (decision.action == qm730::KeyAction::Discard) key = 0;
}

namespace {

// A byte field whose text is no number (pasted past the key rule) or too
// large stores nothing; after the message the field shows the stored value,
// so it never claims a value the board will not get.
void leaveByteField(TForm1& form, QLineEdit* field, qm730::ByteField which) {
    qm730::ConfigImage& image = form.config().image;
    if (const auto notice = qm730::storeByteField(image, which, textOf(field))) {
        MessageBox::show(&form, *notice);
        field->setText(QString::number(image[qm730::byteFieldOffset(which)]));
    }
}

// Likewise a password of the wrong length: told, and the stored one shown.
void leavePasswordField(TForm1& form, QLineEdit* field, qm730::Password which) {
    qm730::ConfigImage& image = form.config().image;
    if (qm730::storePassword(image, which, textOf(field))) return;
    MessageBox::show(&form, qm730::passwordRefusedNotice(which));
    field->setText(fromDigits(qm730::storedPassword(image, which)));
}

}  // namespace

void TForm1::edtDelayExit(QObject* sender) {
    const int tag = tagOf(sender);
    if (tag < 0 || tag >= kDelayFields) return;
    leaveByteField(*this, arrays_.edtDelay[tag], qm730::delayField(tag));
}

void TForm1::edtPreambleExit(QObject*) { leaveByteField(*this, edtPreamble, qm730::ByteField::Preamble); }
void TForm1::edtRangTDurExit(QObject*) { leaveByteField(*this, edtRangTDur, qm730::ByteField::PagerDuration); }
void TForm1::edtFPassExit(QObject*) { leavePasswordField(*this, edtFPass, qm730::Password::Function); }
void TForm1::edtSPassExit(QObject*) { leavePasswordField(*this, edtSPass, qm730::Password::Setup); }

// --- Lists ------------------------------------------------------------------

namespace {

void storeChoice(TForm1& form, const QComboBox* list, SystemList which) {
    if (list->currentIndex() >= 0) qm730::storeListChoice(form.config().image, which, list->currentIndex());
}

}  // namespace

void TForm1::cboUARtBaudClick(QObject*) { storeChoice(*this, cboUARtBaud, SystemList::UartBaud); }
void TForm1::cboUARtDataClick(QObject*) { storeChoice(*this, cboUARtData, SystemList::UartData); }
void TForm1::cboTAPSClick(QObject*) { storeChoice(*this, cboTAPS, SystemList::Protocol); }
void TForm1::cboHeartSetClick(QObject*) { storeChoice(*this, cboHeartSet, SystemList::Heartbeat); }
void TForm1::cboCBaudClick(QObject*) { storeChoice(*this, cboCBaud, SystemList::Baud); }
void TForm1::cboPBaudClick(QObject*) { storeChoice(*this, cboPBaud, SystemList::PocsagBaud); }
void TForm1::cboPTypeClick(QObject*) { storeChoice(*this, cboPType, SystemList::PocsagType); }

// --- Frequency and channel spacing ------------------------------------------

// A new frequency is typed from scratch.
void TForm1::edtFreqEnter(QObject*) { edtFreq->clear(); }

void TForm1::edtFreqExit(QObject*) {
    const qm730::FrequencyDecision decision =
        qm730::applyFrequency(config_.image, textOf(edtFreq), cboCSpace->currentIndex());
    if (decision.fieldText) edtFreq->setText(fromDigits(*decision.fieldText));
    if (decision.pllNLabel) lblPLLN->setText(fromDigits(*decision.pllNLabel));
    if (decision.notice) MessageBox::show(this, *decision.notice);
    if (decision.refocus) edtFreq->setFocus(Qt::OtherFocusReason);
}

// The R word and bit 5 follow the choice, and the N word is recomputed for the
// new step so the board is never tuned with a word meant for the other
// spacing. A stored frequency off the new raster is reported and the operator
// is sent to the frequency field to enter a valid one.
void TForm1::cboCSpaceClick(QObject*) {
    const qm730::ChannelSpaceDecision decision = qm730::applyChannelSpace(config_.image, cboCSpace->currentIndex());
    lblPLLR->setText(fromDigits(decision.pllRLabel));
    if (decision.pllNLabel) lblPLLN->setText(fromDigits(*decision.pllNLabel));
    edtFreq->setText(fromDigits(decision.frequencyText));
    if (decision.notice) MessageBox::show(this, *decision.notice);
    if (decision.focusFrequency) edtFreq->setFocus(Qt::OtherFocusReason);
}

// --- Load Config view and unlocking -----------------------------------------

// Shows the system block in the tab and in the selection bar's frequency
// controls. Setting a list's selection runs no Click rule and setting the
// channel-space box not its rule; setting a check box runs its rule, which
// rewrites only the bit just read from the same byte.
void TForm1::loadConfigView() {
    const qm730::ConfigView view = qm730::loadConfigView(config_.image);
    for (int i = 0; i < kDelayFields; ++i) arrays_.edtDelay[i]->setText(fromDigits(view.delays[i]));
    edtPreamble->setText(fromDigits(view.preamble));
    edtRangTDur->setText(fromDigits(view.pagerDuration));

    setSelection(cboUARtBaud, view.list(SystemList::UartBaud));
    setSelection(cboUARtData, view.list(SystemList::UartData));
    setSelection(cboTAPS, view.list(SystemList::Protocol));
    setSelection(cboCBaud, view.list(SystemList::Baud));
    setSelection(cboHeartSet, view.list(SystemList::Heartbeat));
    setSelection(cboPBaud, view.list(SystemList::PocsagBaud));
    setSelection(cboPType, view.list(SystemList::PocsagType));

    edtFPass->setText(fromDigits(view.functionPassword));
    edtSPass->setText(fromDigits(view.setupPassword));
    edtFreq->setText(fromDigits(view.frequency));
    lblPLLR->setText(fromDigits(view.pllR));
    lblPLLN->setText(fromDigits(view.pllN));

    for (int tag = 0; tag < qm730::kStatusCheckBoxCount; ++tag) arrays_.chkCtl[tag]->setChecked(view.statusChecks[tag]);
    cboCSpace->setCurrentIndex(view.channelSpace);
}

void TForm1::unlockConfigTab() {
    const int index = pacCapMsg->indexOf(TabSheet2);
    pacCapMsg->setTabEnabled(index, true);
    TabSheet2->setEnabled(true);
    pacCapMsg->setCurrentIndex(index);
    loadConfigView();
}

// The access-code dialog reveals the Config tab itself when the code is right.
void TForm1::OpenConfig1Click(QObject*) {
    if (windows_.passwordDlg) windows_.passwordDlg->exec();
}
