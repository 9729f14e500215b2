#include "app/startup.h"

#include "app/unit1.h"
#include "dialogs/aboutbox.h"
#include "dialogs/passworddlg.h"
#include "dialogs/pwddlg.h"
#include "link/form2.h"

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
