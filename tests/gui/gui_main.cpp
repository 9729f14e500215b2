// GoogleTest main for the widget tests: one application object for all tests,
// the offscreen platform unless a display was chosen, message boxes and
// file dialogs answered from the tests' scripts instead of opening, settings
// kept in a folder of their own (never the user's), and no serial devices
// unless a test lays out its own.
#include <gtest/gtest.h>

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "gui/app/application.h"
#include "gui/mainwindow/portselector.h"
#include "gui/seams/filedialog.h"
#include "gui/seams/messagebox.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    Application app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const QTemporaryDir settings;
    // A file in that folder on every system: on Windows the native format
    // is the registry, the user's own, whatever path is set for it.
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    PortSelector::setDeviceLister([] { return std::vector<qm730::SerialDeviceInfo>{}; });
    MessageBox::setScripted(true);
    FileDialog::setScripted(true);
    return RUN_ALL_TESTS();
}
