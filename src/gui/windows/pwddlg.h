// The access-code dialog that switches the main window to S29 mode. It
// opens with an empty field every time.
#pragma once

#include <functional>

#include "gui/windows/accesscodedialog.h"

class TPwdDlg : public AccessCodeDialog {
    Q_OBJECT

public:
    static constexpr const char* kAccessCode = "Hask_Tol";

    // onUnlock switches the main window to S29 mode; the main window passes it.
    TPwdDlg(QWidget* mainWindow, std::function<void()> onUnlock);

    void btnOKClick(QObject* sender);
    // Every time the dialog is shown: a fresh, empty field with the focus.
    void FormActivate(QObject* sender);

    QLineEdit* edtPwd = nullptr;
    QPushButton* btnOK = nullptr;

protected:
    bool event(QEvent* event) override;

private:
    void unlock() override;

    std::function<void()> onUnlock_;
};
