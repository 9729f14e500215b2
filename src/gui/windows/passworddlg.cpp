#include "gui/windows/passworddlg.h"

#include <QLineEdit>
#include <QPushButton>

#include "gui/mainwindow/unit1.h"

TPasswordDlg::TPasswordDlg(TForm1* mainWindow)
    : AccessCodeDialog(mainWindow, {"PasswordDlg", "Password", "OKBtn", "CancelBtn"}, kAccessCode),
      Password(field()),
      OKBtn(okButton()),
      mainWindow_(mainWindow) {
    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(OKBtn); });
}

void TPasswordDlg::OKBtnClick(QObject*) { checkEntry(); }

void TPasswordDlg::unlock() { mainWindow_->unlockConfigTab(); }
