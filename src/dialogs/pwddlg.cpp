#include "dialogs/pwddlg.h"

#include "app/unit1.h"

TPwdDlg::TPwdDlg(TForm1* mainWindow) : QDialog(mainWindow), mainWindow_(mainWindow) {
    setObjectName("PwdDlg");
    setWindowTitle("Password Dialog");
    setFixedSize(233, 93);
}
