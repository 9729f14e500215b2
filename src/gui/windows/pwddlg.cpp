#include "gui/windows/pwddlg.h"

#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include <utility>

TPwdDlg::TPwdDlg(QWidget* mainWindow, std::function<void()> onUnlock)
    : AccessCodeDialog(mainWindow, {"PwdDlg", "edtPwd", "btnOK", "btnCancel"}, kAccessCode),
      edtPwd(field()),
      btnOK(okButton()),
      onUnlock_(std::move(onUnlock)) {
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

void TPwdDlg::unlock() {
    if (onUnlock_) onUnlock_();
}
