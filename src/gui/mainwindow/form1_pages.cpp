// The page views of the main window: copying the rows between the image and
// the row controls, and the paging commands. The controls of the shown page
// are the working copy; a page is stored before it changes and loaded after.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTabWidget>

#include "gui/mainwindow/imagetext.h"
#include "gui/seams/messagebox.h"
#include "gui/mainwindow/unit1.h"
#include "core/config/pageviews.h"

namespace {

using qm730::CapcodeRow;
using qm730::CapcodeRows;

std::optional<int> selectionOf(const QComboBox* list) {
    const int index = list->currentIndex();
    return index < 0 ? std::nullopt : std::optional<int>(index);
}

void select(QComboBox* list, const std::optional<int>& position) { list->setCurrentIndex(position.value_or(-1)); }

// The rows as the widgets show them now, with the texts they showed after the
// last load or store.
CapcodeRows capcodeRowsOf(const ControlArrays& a, const CapcodeRows& shown) {
    CapcodeRows rows = shown;
    for (int r = 0; r < kCapcodeRows; ++r) {
        CapcodeRow& row = rows[r];
        row.funcBits = selectionOf(a.cboFunc[r]);
        row.type = selectionOf(a.cboType[r]);
        row.baud = selectionOf(a.cboBaud[r]);
        row.address = toImageText(a.edtAddr[r]->text());
        row.name = toImageText(a.edtName[r]->text());
        row.group = toImageText(a.edtGroup[r]->text());
        row.groupChecked = a.chkGroup[r]->isChecked();
        row.groupEnabled = a.edtGroup[r]->isEnabled();
        row.nameEnabled = a.edtName[r]->isEnabled();
        row.groupBoxEnabled = a.chkGroup[r]->isEnabled();
    }
    return rows;
}

// The group check box follows the group value without running its click
// rule: that rule would pull the focus into every group field it checks.
void showGroupState(const ControlArrays& a, int r, const CapcodeRow& row) {
    const QSignalBlocker quiet(a.chkGroup[r]);
    a.chkGroup[r]->setChecked(row.groupChecked);
    a.chkGroup[r]->setEnabled(row.groupBoxEnabled);
    a.edtGroup[r]->setEnabled(row.groupEnabled);
}

// Replaces a field's text only when it differs, so the caret stays put.
void showText(QLineEdit* field, const std::string& text) {
    const QString shown = fromImageText(text);
    if (field->text() != shown) field->setText(shown);
}

// What the fields show after a load or store becomes what the next store
// compares with. It is read back from the widgets, which may show a text a
// little differently from the image's bytes (a memo turns CR LF into one line
// end and a no-break space into a blank): a text shown and left alone must
// never count as an edit.
void rememberShownTexts(const ControlArrays& a, CapcodeRows& rows) {
    for (int r = 0; r < kCapcodeRows; ++r) {
        rows[r].loadedAddress = toImageText(a.edtAddr[r]->text());
        rows[r].loadedName = toImageText(a.edtName[r]->text());
    }
}

void rememberShownTexts(const ControlArrays& a, qm730::MessageRows& rows) {
    for (int r = 0; r < kMessageRows; ++r) rows[r].loadedText = toImageText(a.memMsg[r]->toPlainText());
}

void rememberShownTexts(const ControlArrays& a, qm730::AlarmRows& rows) {
    for (int r = 0; r < kAlarmRows; ++r) {
        rows[r].loadedPagerId = toImageText(a.edtPagerID[r]->text());
        rows[r].loadedText = toImageText(a.memAMsg[r]->toPlainText());
    }
}

void showCapcodeRow(const ControlArrays& a, int r, const CapcodeRow& row) {
    select(a.cboFunc[r], row.funcBits);
    select(a.cboType[r], row.type);
    select(a.cboBaud[r], row.baud);
    a.edtAddr[r]->setText(fromImageText(row.address));
    a.edtName[r]->setText(fromImageText(row.name));
    a.edtName[r]->setEnabled(row.nameEnabled);
    a.edtGroup[r]->setText(fromImageText(row.group));
    showGroupState(a, r, row);
}

// Rows 8 and 9 stand for no block on page 11; every other page uses them.
void enableCapcodeRow(const ControlArrays& a, int r, bool enabled) {
    const std::array<QWidget*, 8> controls{a.labIndex[r], a.edtAddr[r], a.cboType[r], a.cboBaud[r],
                                           a.cboFunc[r],  a.edtName[r], a.edtGroup[r], a.chkGroup[r]};
    for (QWidget* control : controls) control->setEnabled(enabled);
}

void showCapcodeRowLabels(const ControlArrays& a, int page) {
    const int firstSpareRow = qm730::kBlockRows;
    if (page == qm730::kBlockPage) {
        for (int r = firstSpareRow; r < kCapcodeRows; ++r) enableCapcodeRow(a, r, false);
    } else if (!a.labIndex[firstSpareRow]->isEnabled()) {
        for (int r = firstSpareRow; r < kCapcodeRows; ++r) enableCapcodeRow(a, r, true);
    }
    for (int r = 0; r < kCapcodeRows; ++r) {
        if (const auto label = qm730::capcodeRowLabel(page, r)) a.labIndex[r]->setText(QString::fromStdString(*label));
    }
}

qm730::MessageRows messageRowsOf(const ControlArrays& a, const qm730::MessageRows& shown) {
    qm730::MessageRows rows = shown;
    for (int r = 0; r < kMessageRows; ++r) rows[r].text = toImageText(a.memMsg[r]->toPlainText());
    return rows;
}

qm730::AlarmRows alarmRowsOf(const ControlArrays& a, const qm730::AlarmRows& shown) {
    qm730::AlarmRows rows = shown;
    for (int r = 0; r < kAlarmRows; ++r) {
        rows[r].pagerId = toImageText(a.edtPagerID[r]->text());
        rows[r].text = toImageText(a.memAMsg[r]->toPlainText());
    }
    return rows;
}

}  // namespace

bool TForm1::storeCapcodePage(int page) {
    CapcodeRows rows = capcodeRowsOf(arrays_, capcodeRows_);
    if (const auto refused = qm730::storeCapcodePage(config_.image, page, rows)) {
        MessageBox::show(this, *refused);
        return false;
    }
    const int storedRows = page == qm730::kBlockPage ? qm730::kBlockRows : kCapcodeRows;
    for (int r = 0; r < storedRows; ++r) {
        showText(arrays_.edtAddr[r], rows[r].address);  // an address that was not stored shows the slot's
        showGroupState(arrays_, r, rows[r]);
    }
    rememberShownTexts(arrays_, capcodeRows_);
    return true;
}

void TForm1::loadCapcodePage(int page) {
    CapcodeRows rows = capcodeRowsOf(arrays_, capcodeRows_);  // page 11 keeps the shown names and groups
    qm730::loadCapcodePage(config_.image, page, rows);
    for (int r = 0; r < kCapcodeRows; ++r) showCapcodeRow(arrays_, r, rows[r]);
    rememberShownTexts(arrays_, capcodeRows_);
}

void TForm1::storeMessagePage(int page) {
    qm730::MessageRows rows = messageRowsOf(arrays_, messageRows_);
    qm730::storeMessagePage(config_.image, page, rows);
    rememberShownTexts(arrays_, messageRows_);
}

void TForm1::loadMessagePage(int page) {
    const qm730::MessageRows rows = qm730::loadMessagePage(config_.image, page);
    for (int r = 0; r < kMessageRows; ++r) arrays_.memMsg[r]->setPlainText(fromImageText(rows[r].text));
    rememberShownTexts(arrays_, messageRows_);
}

void TForm1::storeAlarmPage() {
    qm730::AlarmRows rows = alarmRowsOf(arrays_, alarmRows_);
    const auto warning = qm730::storeAlarmPage(config_.image, rows);
    for (int r = 0; r < kAlarmRows; ++r) showText(arrays_.edtPagerID[r], rows[r].pagerId);  // an ID not stored
    rememberShownTexts(arrays_, alarmRows_);
    if (warning) MessageBox::show(this, *warning);
}

void TForm1::loadAlarmPage() {
    const qm730::AlarmRows rows = qm730::loadAlarmPage(config_.image);
    for (int r = 0; r < kAlarmRows; ++r) {
        arrays_.edtPagerID[r]->setText(fromImageText(rows[r].pagerId));
        arrays_.memAMsg[r]->setPlainText(fromImageText(rows[r].text));
    }
    rememberShownTexts(arrays_, alarmRows_);
}

// --- Paging commands ----------------------------------------------------------
// Each stores the shown page first; a page that cannot be stored is not left.

void TForm1::showCapcodePage(int page, qm730::CapcodePageVia via, bool updateSelector) {
    capcodePage_ = page;
    pacCapMsg->setCurrentWidget(TabSheet1);
    pacCapMsg->setTabText(pacCapMsg->indexOf(TabSheet1), QString::fromStdString(qm730::capcodeTabCaption(page, via)));
    if (updateSelector) cboCapNo->setCurrentIndex(qm730::selectorIndexOfPage(page));
    showCapcodeRowLabels(arrays_, page);
    loadCapcodePage(page);
}

void TForm1::showMessagePage(int page, bool updateSelector) {
    messagePage_ = page;
    pacCapMsg->setCurrentWidget(TabSheet3);
    pacCapMsg->setTabText(pacCapMsg->indexOf(TabSheet3), QString::fromStdString(qm730::messageTabCaption(page)));
    if (updateSelector) cboMesNo->setCurrentIndex(qm730::selectorIndexOfPage(page));
    for (int r = 0; r < kMessageRows; ++r)
        arrays_.labMIndex[r]->setText(QString::fromStdString(qm730::messageRowLabel(page, r)));
    loadMessagePage(page);
}

void TForm1::NextC1Click(QObject*) {
    const int page = capcodePage_;
    if (storeCapcodePage(page))
        showCapcodePage(qm730::nextCapcodePage(page), qm730::CapcodePageVia::NextCommand, true);
}

void TForm1::BeforeC1Click(QObject*) {
    const int page = capcodePage_;
    if (storeCapcodePage(page))
        showCapcodePage(qm730::previousCapcodePage(page), qm730::CapcodePageVia::NextCommand, true);
}

void TForm1::cboCapNoClick(QObject*) {
    pacCapMsg->setCurrentWidget(TabSheet1);
    if (!storeCapcodePage(capcodePage_)) {
        cboCapNo->setCurrentIndex(qm730::selectorIndexOfPage(capcodePage_));  // still on the old page
        return;
    }
    showCapcodePage(qm730::pageOfSelectorIndex(cboCapNo->currentIndex()), qm730::CapcodePageVia::Selector,
                    false);
}

void TForm1::NextM1Click(QObject*) {
    storeMessagePage(messagePage_);
    showMessagePage(qm730::nextMessagePage(messagePage_), true);
}

void TForm1::BeforeM1Click(QObject*) {
    storeMessagePage(messagePage_);
    showMessagePage(qm730::previousMessagePage(messagePage_), true);
}

void TForm1::cboMesNoClick(QObject*) {
    pacCapMsg->setCurrentWidget(TabSheet3);
    storeMessagePage(messagePage_);
    showMessagePage(qm730::pageOfSelectorIndex(cboMesNo->currentIndex()), false);
}

// Leaving the "Alarm message" tab stores its page.
void TForm1::TabSheet4Exit(QObject*) { storeAlarmPage(); }
