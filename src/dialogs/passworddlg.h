// The access-code dialog that reveals the Config tab.
#pragma once

#include <QDialog>

class TForm1;

class TPasswordDlg : public QDialog {
    Q_OBJECT

public:
    explicit TPasswordDlg(TForm1* mainWindow);

private:
    TForm1* mainWindow_;
};
