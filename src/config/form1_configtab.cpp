// The Config tab's rules, the frequency field and the channel-space list.
#include "app/unit1.h"
#include "dialogs/passworddlg.h"

void TForm1::chkCtlClick(QObject*) {}
void TForm1::GroupBox2Exit(QObject*) {}
void TForm1::edtDelayKeyPress(QObject*, char&) {}
void TForm1::edtDelayExit(QObject*) {}
void TForm1::edtPreambleExit(QObject*) {}
void TForm1::edtRangTDurExit(QObject*) {}
void TForm1::edtFPassExit(QObject*) {}
void TForm1::edtSPassExit(QObject*) {}
void TForm1::cboUARtBaudClick(QObject*) {}
void TForm1::cboUARtDataClick(QObject*) {}
void TForm1::cboTAPSClick(QObject*) {}
void TForm1::cboHeartSetClick(QObject*) {}
void TForm1::cboCBaudClick(QObject*) {}
void TForm1::cboPBaudClick(QObject*) {}
void TForm1::cboPTypeClick(QObject*) {}
void TForm1::edtFreqEnter(QObject*) {}
void TForm1::edtFreqExit(QObject*) {}
void TForm1::cboCSpaceClick(QObject*) {}

// The access-code dialog reveals the Config tab itself when the code is right.
void TForm1::OpenConfig1Click(QObject*) {
    if (windows_.passwordDlg) windows_.passwordDlg->exec();
}
