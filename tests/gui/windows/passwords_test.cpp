// The two access-code dialogs: layout, the codes, the count of wrong entries
// across openings, and what each changes in the main window. The dialogs are
// shown without a modal loop and driven through their buttons, except where
// the menu commands themselves are tested: there the answer is scheduled.
#include <gtest/gtest.h>

#include <QStatusBar>

#include "gui/windows/passworddlg.h"
#include "gui/windows/pwddlg.h"
#include "guitest.h"

namespace {

const qm730::Notice kPasswordError{"Password Error!", "Password", qm730::NoticeButtons::Ok,
                                   qm730::NoticeIcon::Exclamation};

class Passwords : public ::testing::Test, protected MainWindowFixture {
protected:
    TPasswordDlg& configDlg() const { return *form->windows().passwordDlg; }
    TPwdDlg& s29Dlg() const { return *form->windows().pwdDlg; }

    // Opens the dialog as the menu would, without a modal loop.
    // A dialog shares its owner's activation, so isActiveWindow() alone
    // proves nothing: wait until the dialog itself is the active window.
    static void open(QDialog& dialog) {
        QApplication::processEvents();  // a dialog just closed hands back its activation first
        dialog.setResult(0);
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &dialog; }));
    }
    static void tryCode(QDialog& dialog, const char* fieldName, const char* okName, const QString& code) {
        auto* field = child<QLineEdit>(dialog, fieldName);
        field->setText(code);
        child<QPushButton>(dialog, okName)->click();
    }
    void tryConfigCode(const QString& code) { tryCode(configDlg(), "Password", "OKBtn", code); }
    void tryS29Code(const QString& code) { tryCode(s29Dlg(), "edtPwd", "btnOK", code); }
    bool configTabShown() const { return form->pacCapMsg->currentWidget() == form->TabSheet2; }
};

TEST_F(Passwords, BothDialogsAskAlikeAndHideTheCode) {
    for (QDialog* dialog : {static_cast<QDialog*>(&configDlg()), static_cast<QDialog*>(&s29Dlg())}) {
        EXPECT_EQ(dialog->windowTitle(), "Password Dialog");
        ASSERT_NE(dialog->findChild<QLabel*>(), nullptr);
        EXPECT_EQ(dialog->findChild<QLabel*>()->text(), "Enter password:");
        ASSERT_NE(dialog->findChild<QLineEdit*>(), nullptr);
        EXPECT_EQ(dialog->findChild<QLineEdit*>()->echoMode(), QLineEdit::Password);
    }
}

TEST_F(Passwords, ConfigCodeRevealsTheTabAndLoadsIt) {
    open(configDlg());
    tryConfigCode("RV583");
    EXPECT_FALSE(configDlg().isVisible());
    EXPECT_EQ(configDlg().result(), QDialog::Accepted);
    EXPECT_TRUE(configTabShown());
    EXPECT_TRUE(form->TabSheet2->isEnabled());
    EXPECT_FALSE(form->pacCapMsg->isTabVisible(form->pacCapMsg->indexOf(form->TabSheet2)));
    EXPECT_EQ(form->arrays().edtDelay[0]->text(), "10");  // Load Config view replaced "111"
    EXPECT_TRUE(MessageBox::shown().empty());

    // Reopened, the field still holds the code, and OK reloads the tab.
    form->pacCapMsg->setCurrentWidget(form->TabSheet1);
    form->arrays().edtDelay[0]->setText("77");
    open(configDlg());
    EXPECT_EQ(child<QLineEdit>(configDlg(), "Password")->text(), "RV583");
    child<QPushButton>(configDlg(), "OKBtn")->click();
    EXPECT_TRUE(configTabShown());
    EXPECT_EQ(form->arrays().edtDelay[0]->text(), "10");
}

TEST_F(Passwords, WrongCodesAreRefusedAndTheThirdClosesTheDialog) {
    open(configDlg());
    auto* field = child<QLineEdit>(configDlg(), "Password");
    tryConfigCode("RV583 ");
    tryConfigCode("rv583");
    EXPECT_TRUE(configDlg().isVisible());
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(configDlg().failures(), 2);
    tryConfigCode("");
    EXPECT_FALSE(configDlg().isVisible());
    EXPECT_EQ(configDlg().failures(), 0);
    EXPECT_EQ(MessageBox::shown(), std::vector<qm730::Notice>(3, kPasswordError));
    EXPECT_FALSE(configTabShown());
    EXPECT_FALSE(form->TabSheet2->isEnabled());
}

TEST_F(Passwords, FailuresCountAcrossOpeningsAndCancelKeepsTheCount) {
    open(configDlg());
    tryConfigCode("1");
    tryConfigCode("2");
    child<QPushButton>(configDlg(), "CancelBtn")->click();
    EXPECT_FALSE(configDlg().isVisible());
    EXPECT_EQ(configDlg().result(), QDialog::Rejected);
    EXPECT_EQ(configDlg().failures(), 2);

    open(configDlg());
    tryConfigCode("3");
    EXPECT_FALSE(configDlg().isVisible());

    // The S29 dialog keeps its own count.
    open(s29Dlg());
    tryS29Code("RV583");
    EXPECT_EQ(s29Dlg().failures(), 1);
    QTest::keyClick(&s29Dlg(), Qt::Key_Escape);
    EXPECT_FALSE(s29Dlg().isVisible());
    EXPECT_EQ(s29Dlg().failures(), 1);
    EXPECT_EQ(configDlg().failures(), 0);
}

TEST_F(Passwords, S29DialogOpensEmptyAndSwitchesTheMode) {
    open(s29Dlg());
    auto* field = child<QLineEdit>(s29Dlg(), "edtPwd");
    field->setText("Hask_");
    s29Dlg().reject();
    open(s29Dlg());
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(QApplication::focusWidget(), field);

    tryS29Code("hask_tol");
    EXPECT_EQ(form->mode(), OperatingMode::Normal);
    tryS29Code("Hask_Tol");
    EXPECT_FALSE(s29Dlg().isVisible());
    EXPECT_EQ(s29Dlg().failures(), 0);
    EXPECT_EQ(form->mode(), OperatingMode::S29);
    EXPECT_TRUE(form->S29Mode1->isChecked());
    EXPECT_TRUE(form->pacCapMsg->isHidden());
    EXPECT_FALSE(form->StatusBar1->isHidden());
}

// The menu commands show the dialogs modally; the answers are scheduled.
TEST_F(Passwords, MenuCommandsOpenTheDialogsModally) {
    QTimer::singleShot(0, form.get(), [this] {
        tryConfigCode("RV583");
    });
    form->OpenConfig1->trigger();
    EXPECT_TRUE(configTabShown());

    QTimer::singleShot(0, form.get(), [this] { s29Dlg().reject(); });
    form->S29Mode1->trigger();
    EXPECT_EQ(form->mode(), OperatingMode::Normal);
    EXPECT_FALSE(form->S29Mode1->isChecked());

    QTimer::singleShot(0, form.get(), [this] { tryS29Code("Hask_Tol"); });
    form->S29Mode1->trigger();
    EXPECT_EQ(form->mode(), OperatingMode::S29);
}

}  // namespace
