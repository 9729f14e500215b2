// The access-code dialog that reveals the Config tab. Its field keeps what
// it held when the dialog last closed.
#pragma once

#include "gui/windows/accesscodedialog.h"

class TForm1;

class TPasswordDlg : public AccessCodeDialog {
    Q_OBJECT

public:
    static constexpr const char* kAccessCode = "RV583";

    explicit TPasswordDlg(TForm1* mainWindow);

    void OKBtnClick(QObject* sender);

    QLineEdit* Password = nullptr;
    QPushButton* OKBtn = nullptr;

private:
    void unlock() override;

    TForm1* mainWindow_;
};
