// GoogleTest main for the widget tests: one application object for all tests,
// the offscreen platform unless a display was chosen, and message boxes and
// file dialogs answered from the tests' scripts instead of opening.
#include <gtest/gtest.h>

#include "gui/app/application.h"
#include "gui/seams/filedialog.h"
#include "gui/seams/messagebox.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    Application app(argc, argv);
    MessageBox::setScripted(true);
    FileDialog::setScripted(true);
    return RUN_ALL_TESTS();
}
