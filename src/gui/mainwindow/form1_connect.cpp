// Wires every control to its handler: menu items and tool buttons to their
// commands, lists to their Click handlers (only when the operator chooses an
// item), check boxes to theirs (on every change of the checked state), and the
// fields to their key-press, enter and leave rules.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include "gui/mainwindow/focusrules.h"
#include "gui/mainwindow/portselector.h"
#include "gui/seams/keypressfilter.h"
#include "gui/mainwindow/unit1.h"

namespace {
using Handler = void (TForm1::*)(QObject*);
using KeyHandler = void (TForm1::*)(QObject*, char&);
}  // namespace

void TForm1::connectHandlers() {
    auto bind = [this](Handler handler) { return [this, handler](QObject* sender) { (this->*handler)(sender); }; };
    auto bindKey = [this](KeyHandler handler) {
        return [this, handler](QObject* sender, char& key) { (this->*handler)(sender, key); };
    };
    auto onAction = [&](QAction* action, Handler handler) {
        connect(action, &QAction::triggered, this, [this, action, handler] { (this->*handler)(action); });
    };
    auto onButton = [&](QAbstractButton* button, Handler handler) {
        connect(button, &QAbstractButton::clicked, this, [this, button, handler] { (this->*handler)(button); });
    };
    auto onList = [&](QComboBox* list, Handler handler) {
        connect(list, &QComboBox::activated, this, [this, list, handler] { (this->*handler)(list); });
    };
    auto onCheck = [&](QCheckBox* box, Handler handler) {
        connect(box, &QCheckBox::toggled, this, [this, box, handler] { (this->*handler)(box); });
    };
    auto field = [&](QWidget* control, KeyHandler keyPress, Handler leave) {
        if (keyPress) keyFilter_->attach(control, bindKey(keyPress));
        if (leave) focusRules_->onLeave(control, bind(leave));
    };

    // Menus and tool bar.
    onAction(Open1, &TForm1::Open1Click);
    onAction(Save1, &TForm1::Save1Click);
    onAction(Exit1, &TForm1::Exit1Click);
    onAction(Open2, &TForm1::Open2Click);
    onAction(Write1, &TForm1::Write1Click);
    onAction(Test1, &TForm1::Test1Click);
    onAction(Write2, &TForm1::Write2Click);
    onAction(NextC1, &TForm1::NextC1Click);
    onAction(BeforeC1, &TForm1::BeforeC1Click);
    onAction(NextM1, &TForm1::NextM1Click);
    onAction(BeforeM1, &TForm1::BeforeM1Click);
    onAction(OpenConfig1, &TForm1::OpenConfig1Click);
    onAction(AlarmMessage1, &TForm1::AlarmMessage1Click);
    onAction(NormalMode1, &TForm1::NormalMode1Click);
    onAction(S29Mode1, &TForm1::S29Mode1Click);
    onAction(About1, &TForm1::About1Click);
    const Handler toolCommands[] = {&TForm1::BeforeC1Click, &TForm1::NextC1Click,   &TForm1::Open1Click,
                                    &TForm1::Save1Click,    &TForm1::Write1Click,   &TForm1::Test1Click,
                                    &TForm1::BeforeM1Click, &TForm1::NextM1Click};
    for (std::size_t i = 0; i < toolButtons_.size(); ++i) onButton(toolButtons_[i], toolCommands[i]);
    onButton(btnPLink, &TForm1::btnPLinkClick);

    // Selection bar.
    onList(cboCapNo, &TForm1::cboCapNoClick);
    onList(cboMesNo, &TForm1::cboMesNoClick);
    onList(cboComPort, &TForm1::cboComPortClick);
    onList(cboCSpace, &TForm1::cboCSpaceClick);
    field(edtFreq, &TForm1::edtDelayKeyPress, &TForm1::edtFreqExit);
    focusRules_->onEnter(edtFreq, bind(&TForm1::edtFreqEnter));

    // Data tabs.
    for (std::size_t r = 0; r < kCapcodeRows; ++r) {
        field(arrays_.edtAddr[r], &TForm1::edtAddrKeyPress, &TForm1::edtAddrExit);
        field(arrays_.edtName[r], &TForm1::edtNameKeyPress, &TForm1::edtNameExit);
        field(arrays_.edtGroup[r], &TForm1::edtGroupKeyPress, &TForm1::edtGroupExit);
        onCheck(arrays_.chkGroup[r], &TForm1::chkGroup1Click);
    }
    for (QPlainTextEdit* memo : arrays_.memMsg) field(memo, &TForm1::memMsgKeyPress, &TForm1::memMsgExit);
    for (std::size_t r = 0; r < kAlarmRows; ++r) {
        field(arrays_.edtPagerID[r], &TForm1::edtPagerIDKeyPress, &TForm1::edtPagerIDExit);
        field(arrays_.memAMsg[r], &TForm1::memAMsgKeyPress, &TForm1::memAMsgExit);
    }
    focusRules_->onContainerLeave(TabSheet4, bind(&TForm1::TabSheet4Exit));

    // Config tab. The hidden fifth status box belongs to no bit.
    for (std::size_t i = 0; i + 1 < kStatusBoxes; ++i) onCheck(arrays_.chkCtl[i], &TForm1::chkCtlClick);
    focusRules_->onContainerLeave(GroupBox2, bind(&TForm1::GroupBox2Exit));
    for (QLineEdit* delay : arrays_.edtDelay) field(delay, &TForm1::edtDelayKeyPress, &TForm1::edtDelayExit);
    field(edtPreamble, &TForm1::edtDelayKeyPress, &TForm1::edtPreambleExit);
    field(edtRangTDur, &TForm1::edtDelayKeyPress, &TForm1::edtRangTDurExit);
    field(edtFPass, &TForm1::edtDelayKeyPress, &TForm1::edtFPassExit);
    field(edtSPass, &TForm1::edtDelayKeyPress, &TForm1::edtSPassExit);
    onList(cboUARtBaud, &TForm1::cboUARtBaudClick);
    onList(cboUARtData, &TForm1::cboUARtDataClick);
    onList(cboTAPS, &TForm1::cboTAPSClick);
    onList(cboHeartSet, &TForm1::cboHeartSetClick);
    onList(cboCBaud, &TForm1::cboCBaudClick);
    onList(cboPBaud, &TForm1::cboPBaudClick);
    onList(cboPType, &TForm1::cboPTypeClick);

    // The focus sink and the surfaces whose mouse movement moves the focus to it.
    focusRules_->setSink(Edit1);
    focusRules_->watchSurface(client);
    focusRules_->watchSurface(GroupBox3);
}
