#include "gui/windows/passworddlg.h"

#include <QLineEdit>
#include <QPushButton>

#include <utility>

TPasswordDlg::TPasswordDlg(QWidget* mainWindow, std::function<void()> onUnlock)
    : AccessCodeDialog(mainWindow, {"PasswordDlg", "Password", "OKBtn", "CancelBtn"}, kAccessCode),
      Password(field()),
      OKBtn(okButton()),
      onUnlock_(std::move(onUnlock)) {
    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(OKBtn); });
}

void TPasswordDlg::OKBtnClick(QObject*) { checkEntry(); }

void TPasswordDlg::unlock() {
    if (onUnlock_) onUnlock_();
}
