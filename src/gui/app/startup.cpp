#include "gui/app/startup.h"

#include "core/link/serial_port.h"
#include "gui/app/programlink.h"

#include "gui/mainwindow/unit1.h"
#include "gui/windows/aboutbox.h"
#include "gui/windows/passworddlg.h"
#include "gui/windows/pwddlg.h"
#include "gui/windows/form2.h"

std::unique_ptr<TForm1> createWindows() {
    auto form1 = std::make_unique<TForm1>(commPort(), linkState());
    OtherWindows windows;
    TForm1* mainWindow = form1.get();
    windows.form2 = new TForm2(mainWindow, mainWindow->config().image);
    windows.aboutBox = new TAboutBox(mainWindow);
    windows.passwordDlg = new TPasswordDlg(mainWindow, [mainWindow] { mainWindow->unlockConfigTab(); });
    windows.pwdDlg = new TPwdDlg(mainWindow, [mainWindow] { mainWindow->setMode(OperatingMode::S29); });
    form1->attachWindows(windows);
    return form1;
}

std::unique_ptr<TForm1> startWindows(const std::optional<QString>& tableFile) {
    std::unique_ptr<TForm1> form1 = createWindows();
    form1->show();
    if (tableFile) form1->openTableFile(*tableFile);
    return form1;
}
