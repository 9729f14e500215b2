// The field rules of the data tabs as the operator meets them: typing into
// the real fields, leaving them for another control, and the boxes shown.
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QTest>

#include "datatabs.h"

namespace {

using namespace qm730;

class Editing : public DataTabs {
protected:
    void SetUp() override { ASSERT_TRUE(active); }
};

TEST_F(Editing, AddressIsCheckedAndRememberedWhenLeft) {
    QLineEdit* field = rows().edtAddr[0];
    QLineEdit* next = rows().edtAddr[1];
    focus(field);
    field->setText("8");
    leaveFor(next);
    EXPECT_EQ(field->text(), "0000008");
    EXPECT_EQ(form->config().capcodeNumbers[0], 8);

    for (const char* refused : {"7", "2097152", "-5", "12a"}) {
        MessageBox::clearShown();
        focus(field);
        field->setText(refused);
        leaveFor(next);
        EXPECT_EQ(QApplication::focusWidget(), field) << refused;
        EXPECT_EQ(field->text(), refused) << "the refused text stays";
        ASSERT_EQ(MessageBox::shown().size(), 1u) << refused;
        const bool number = std::string(refused) == "7" || std::string(refused) == "2097152";
        EXPECT_EQ(MessageBox::shown()[0], plainNotice(number ? "Please insert a number between 8 to 2097151!"
                                                             : "Please Input Decimal!"));
    }
    EXPECT_EQ(form->config().capcodeNumbers[0], 8);

    field->clear();
    leaveFor(next);
    EXPECT_EQ(field->text(), "8") << "an emptied address shows the last one accepted";
    EXPECT_EQ(QApplication::focusWidget(), next);
}

TEST_F(Editing, AddressTableOfPageElevenStartsAtTheBlockNumbers) {
    form->cboCapNo->setCurrentIndex(10);
    form->cboCapNoClick(form->cboCapNo);
    QLineEdit* field = rows().edtAddr[0];
    focus(field);
    field->clear();
    leaveFor(rows().edtAddr[1]);
    EXPECT_EQ(field->text(), "100");
}

TEST_F(Editing, AddressGuardActsOnlyOnLoadedOverlongText) {
    QLineEdit* field = rows().edtAddr[4];
    focus(field);
    field->setText("123456789");
    field->end(false);
    QTest::keyClick(field, Qt::Key_5);
    EXPECT_EQ(field->text(), "12345678");
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown()[0], warningNotice("More then 7 digit !"));
}

TEST_F(Editing, NameTakesLettersDigitsAndBlanksAndIsTrimmed) {
    QLineEdit* field = rows().edtName[0];
    focus(field);
    QTest::keyClicks(field, "Ab 1-");
    QKeyEvent accented(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QString(QChar(0xE9)));
    QApplication::sendEvent(field, &accented);
    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(field->text(), "Ab 1");
    ASSERT_EQ(MessageBox::shown().size(), 3u);
    for (const Notice& notice : MessageBox::shown())
        EXPECT_EQ(notice, errorNotice("Please insert an alphabet & numeric !"));

    MessageBox::clearShown();
    field->setText("  Abc  ");
    leaveFor(rows().edtName[1]);
    EXPECT_EQ(field->text(), "Abc");
    EXPECT_TRUE(MessageBox::shown().empty());
}

TEST_F(Editing, NameOfElevenCharactersWarnsOnTheNextKeyAndWhenLeft) {
    QLineEdit* field = rows().edtName[2];
    focus(field);
    QTest::keyClicks(field, "abcdefghijk");
    EXPECT_EQ(field->text(), "abcdefghijk") << "the guard looks at the length before the key";
    EXPECT_TRUE(MessageBox::shown().empty());
    QTest::keyClick(field, Qt::Key_L);
    EXPECT_EQ(field->text(), "abcdefghij");
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"More then 10 Characters!"});

    MessageBox::clearShown();
    field->setText("abcdefghijk");
    leaveFor(rows().edtName[3]);
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(field->text(), "abcdefghijk");
    EXPECT_EQ(MessageBox::shown().at(0), warningNotice("More then 10 Characters!"));
    QApplication::processEvents();
    EXPECT_EQ(MessageBox::shown().size(), 1u) << "the rule runs once per leave";
}

TEST_F(Editing, GroupCheckBoxOpensAndClosesTheGroupField) {
    QCheckBox* box = rows().chkGroup[1];
    QLineEdit* group = rows().edtGroup[1];
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    ASSERT_TRUE(box->isChecked());
    EXPECT_TRUE(group->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), group);

    QTest::keyClicks(group, "1a0");
    EXPECT_EQ(group->text(), "10");
    EXPECT_EQ(MessageBox::shown().at(0), errorNotice("Please insert a numeric 0 ~ 99 !"));
    QTest::keyClicks(group, "0");
    MessageBox::clearShown();
    leaveFor(rows().edtName[1]);
    EXPECT_EQ(QApplication::focusWidget(), group);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"More then 99 !"});
    EXPECT_EQ(MessageBox::shown()[0].buttons, NoticeButtons::RetryCancel);

    MessageBox::clearShown();
    group->setText("99");
    leaveFor(rows().edtName[1]);
    EXPECT_TRUE(MessageBox::shown().empty());

    focus(group);
    group->clear();
    leaveFor(rows().edtName[1]);
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(group->isEnabled());

    group->setEnabled(true);
    group->setText("5");
    box->setChecked(true);
    box->setChecked(false);
    EXPECT_TRUE(group->text().isEmpty()) << "unchecking takes the group away";
    EXPECT_FALSE(group->isEnabled());
}

TEST_F(Editing, PagerIdTakesDigitsUpTo899) {
    showTab(form->TabSheet4);
    QLineEdit* field = rows().edtPagerID[0];
    focus(field);
    field->clear();
    QTest::keyClicks(field, "9x00");
    EXPECT_EQ(field->text(), "900");
    EXPECT_EQ(MessageBox::shown().at(0), errorNotice("Please insert a numeric  !"));
    MessageBox::clearShown();
    leaveFor(rows().memAMsg[0]);
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(MessageBox::shown().at(0), warningNotice("More then 999 !"));

    MessageBox::clearShown();
    field->setText("899");
    leaveFor(rows().memAMsg[0]);
    EXPECT_EQ(QApplication::focusWidget(), rows().memAMsg[0]);
    EXPECT_TRUE(MessageBox::shown().empty());

    field->setText("12345");  // loaded from a file
    focus(field);
    field->end(false);
    QTest::keyClick(field, Qt::Key_1);
    EXPECT_EQ(field->text(), "1234");
    EXPECT_EQ(MessageBox::shown().at(0), warningNotice("More then 4 Characters!"));
}

TEST_F(Editing, MessageAndAlarmTextLimits) {
    showTab(form->TabSheet4);
    QPlainTextEdit* alarmText = rows().memAMsg[0];
    focus(alarmText);
    alarmText->setPlainText(QString(59, 'a'));
    alarmText->moveCursor(QTextCursor::End);
    leaveFor(rows().memAMsg[1]);
    EXPECT_TRUE(MessageBox::shown().empty()) << "59 characters are accepted";
    focus(alarmText);
    alarmText->moveCursor(QTextCursor::End);
    QTest::keyClick(alarmText, Qt::Key_B);
    EXPECT_EQ(alarmText->toPlainText().size(), 60);
    QTest::keyClick(alarmText, Qt::Key_C);
    EXPECT_EQ(alarmText->toPlainText().size(), 59) << "at 60 the next key deletes one";
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"More then 59 Characters!"});
    MessageBox::clearShown();
    alarmText->setPlainText(QString(60, 'a') + "  ");
    leaveFor(rows().memAMsg[1]);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"More then 59 Characters!"});
    EXPECT_EQ(alarmText->toPlainText(), QString(60, 'a')) << "trimmed, not shortened";
    EXPECT_EQ(QApplication::focusWidget(), alarmText);

    // Switching tabs leaves the field too; it warns once more but does not
    // hold the focus in a page that is no longer shown.
    MessageBox::clearShown();
    showTab(form->TabSheet3);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"More then 59 Characters!"});
    EXPECT_NE(QApplication::focusWidget(), alarmText);

    MessageBox::clearShown();
    QPlainTextEdit* message = rows().memMsg[0];
    focus(message);
    message->setPlainText(QString(60, 'm'));
    leaveFor(rows().memMsg[1]);
    EXPECT_TRUE(MessageBox::shown().empty()) << "60 characters are accepted";
    focus(message);
    message->setPlainText(QString(61, 'm'));
    leaveFor(rows().memMsg[1]);
    EXPECT_EQ(QApplication::focusWidget(), message);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"More then 60 Characters!"});
}

TEST_F(Editing, EnterMovesAlongTheColumn) {
    const ControlArrays& a = rows();
    focus(a.edtAddr[0]);
    QTest::keyClick(a.edtAddr[0], Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), a.edtAddr[1]);
    focus(a.edtAddr[9]);
    QTest::keyClick(a.edtAddr[9], Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), a.cboType[0]);

    // Groups: only rows 1 and 6 have one; Enter skips the closed fields and
    // goes on past the last row to the first address.
    for (int r : {0, 5}) {
        a.chkGroup[r]->setChecked(true);
        QApplication::processEvents();
        a.edtGroup[r]->setText("1");  // left empty, a group field turns its group off
    }
    focus(a.edtName[9]);
    QTest::keyClick(a.edtName[9], Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), a.edtGroup[0]);
    QTest::keyClick(a.edtGroup[0], Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), a.edtGroup[5]);
    QTest::keyClick(a.edtGroup[5], Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), a.edtAddr[0]);
    EXPECT_EQ(a.edtGroup[5]->text(), "1") << "Enter types nothing";

    showTab(form->TabSheet3);
    focus(a.memMsg[9]);
    QTest::keyClick(a.memMsg[9], Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), a.memMsg[0]);
    EXPECT_FALSE(a.memMsg[9]->toPlainText().contains('\n'));

    showTab(form->TabSheet4);
    a.edtPagerID[6]->setText("77");
    focus(a.edtPagerID[6]);
    QTest::keyClick(a.edtPagerID[6], Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), form->Edit1);
    EXPECT_EQ(readPagerId(image().alarmRecord(6)), "77") << "leaving the tab stored the alarms";
}

TEST_F(Editing, EnterIntoTheSpareRowsOfPageElevenGoesOnToTheTypeBox) {
    form->cboCapNo->setCurrentIndex(10);
    form->cboCapNoClick(form->cboCapNo);
    focus(rows().edtAddr[7]);
    QTest::keyClick(rows().edtAddr[7], Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), rows().cboType[0]);
}

}  // namespace
