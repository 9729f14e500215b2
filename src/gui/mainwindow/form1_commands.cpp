// The two operating modes and the commands that only switch a mode, open
// another window, switch a tab or end the program.
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>

#include "gui/mainwindow/portselector.h"
#include "gui/mainwindow/unit1.h"
#include "gui/windows/aboutbox.h"
#include "gui/windows/pwddlg.h"

// Normal mode edits the configuration; S29 mode programs the board's flash.
// The modes differ only in what is visible.
void TForm1::setMode(OperatingMode mode) {
    const bool s29 = mode == OperatingMode::S29;
    mode_ = mode;
    S29Mode1->setChecked(s29);
    NormalMode1->setChecked(!s29);
    File2->menuAction()->setVisible(s29);
    File1->menuAction()->setVisible(!s29);
    Page1->menuAction()->setVisible(!s29);
    GroupBox3->setVisible(!s29);
    pacCapMsg->setVisible(!s29);
    ToolBar1->setVisible(!s29);
    ToFlash1->menuAction()->setVisible(s29);
    ToFlash2->menuAction()->setVisible(!s29);
    StatusBar1->setVisible(s29);
    btnPLink->setVisible(s29);
    lblFilename->setVisible(s29);
}

// Refused while a write runs: the run stays on screen until it ends.
void TForm1::NormalMode1Click(QObject*) { setMode(writing_ ? mode_ : OperatingMode::Normal); }

// The access-code dialog switches to S29 mode itself when the code is right.
void TForm1::S29Mode1Click(QObject*) {
    if (windows_.pwdDlg && !writing_) windows_.pwdDlg->exec();
    setMode(mode_);  // the menu's own check mark follows the mode, not the click
}

void TForm1::AlarmMessage1Click(QObject*) { pacCapMsg->setCurrentWidget(TabSheet4); }

void TForm1::About1Click(QObject*) {
    if (windows_.aboutBox) windows_.aboutBox->exec();
}

// Nothing is saved and nothing is asked.
void TForm1::Exit1Click(QObject*) { close(); }

// Only the operator's choice counts (and is remembered for the next start);
// setting the list from code chooses nothing.
void TForm1::cboComPortClick(QObject*) { cboComPort->chooseCurrent(); }

int TForm1::selectedPort() const { return cboComPort->chosenIndex(); }
std::string TForm1::selectedPortName() const { return cboComPort->chosenPort(); }
