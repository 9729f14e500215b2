// What the window manager is told of the small modal dialogs: each is
// transient for the main window (so minimising it, which openbox offers
// whatever a dialog asks, takes the whole program along and restores it
// together) and of fixed size (so nothing maximises it).
#include <gtest/gtest.h>

#include <QWindow>

#include "gui/windows/conn.h"
#include "gui/windows/passworddlg.h"
#include "gui/windows/pwddlg.h"
#include "guitest.h"

namespace {

class DialogFrames : public ::testing::Test, protected MainWindowFixture {};

TEST_F(DialogFrames, EachIsTransientForTheMainWindowAndOfFixedSize) {
    ASSERT_TRUE(active);
    QDialog* const dialogs[] = {form->windows().passwordDlg, form->windows().pwdDlg, form->frmConn()};
    for (QDialog* dialog : dialogs) {
        SCOPED_TRACE(dialog->objectName().toStdString());
        dialog->show();
        ASSERT_NE(dialog->windowHandle(), nullptr);
        EXPECT_EQ(dialog->windowHandle()->transientParent(), form->windowHandle());
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
        EXPECT_FALSE(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
        dialog->hide();
    }
}

}  // namespace
