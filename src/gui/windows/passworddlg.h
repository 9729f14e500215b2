// The access-code dialog that reveals the Config tab. Its field keeps what
// it held when the dialog last closed.
#pragma once

#include <functional>

#include "gui/windows/accesscodedialog.h"

class TPasswordDlg : public AccessCodeDialog {
    Q_OBJECT

public:
    static constexpr const char* kAccessCode = "RV583";

    // onUnlock reveals the Config tab; the main window passes it.
    TPasswordDlg(QWidget* mainWindow, std::function<void()> onUnlock);

    void OKBtnClick(QObject* sender);

    QLineEdit* Password = nullptr;
    QPushButton* OKBtn = nullptr;

private:
    void unlock() override;

    std::function<void()> onUnlock_;
};
