#include "gui/windows/pwddlg.h"

#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include "gui/mainwindow/unit1.h"

TPwdDlg::TPwdDlg(TForm1* mainWindow)
    : AccessCodeDialog(mainWindow, {"PwdDlg", "edtPwd", "btnOK", "btnCancel"}, kAccessCode),
      edtPwd(field()),
      btnOK(okButton()),
      mainWindow_(mainWindow) {
    connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(btnOK); });
}

void TPwdDlg::btnOKClick(QObject*) { checkEntry(); }

void TPwdDlg::FormActivate(QObject*) {
    edtPwd->clear();
    edtPwd->setFocus();
}

bool TPwdDlg::event(QEvent* event) {
    if (event->type() == QEvent::Show) FormActivate(this);
    return AccessCodeDialog::event(event);
}

void TPwdDlg::unlock() { mainWindow_->setMode(OperatingMode::S29); }
