#include "gui/app/startup.h"

#include "gui/mainwindow/unit1.h"
#include "gui/windows/aboutbox.h"
#include "gui/windows/passworddlg.h"
#include "gui/windows/pwddlg.h"
#include "gui/windows/form2.h"

std::unique_ptr<TForm1> createWindows() {
    auto form1 = std::make_unique<TForm1>();
    OtherWindows windows;
    windows.form2 = new TForm2(form1.get());
    windows.aboutBox = new TAboutBox(form1.get());
    windows.passwordDlg = new TPasswordDlg(form1.get());
    windows.pwdDlg = new TPwdDlg(form1.get());
    form1->attachWindows(windows);
    return form1;
}

std::unique_ptr<TForm1> startWindows(const std::optional<QString>& tableFile) {
    std::unique_ptr<TForm1> form1 = createWindows();
    form1->show();
    if (tableFile) form1->openTableFile(*tableFile);
    return form1;
}
