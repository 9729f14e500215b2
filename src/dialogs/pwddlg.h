// The access-code dialog that switches the main window to S29 mode.
#pragma once

#include <QDialog>

class TForm1;

class TPwdDlg : public QDialog {
    Q_OBJECT

public:
    explicit TPwdDlg(TForm1* mainWindow);

private:
    TForm1* mainWindow_;
};
