#include "dialogs/passworddlg.h"

#include "app/unit1.h"

TPasswordDlg::TPasswordDlg(TForm1* mainWindow) : QDialog(mainWindow), mainWindow_(mainWindow) {
    setObjectName("PasswordDlg");
    setWindowTitle("Password Dialog");
    setFixedSize(233, 93);
}
