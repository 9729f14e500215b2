// The field rules of the data tabs as the operator meets them: typing into
// the real fields, leaving them for another control, and the boxes shown.
#include <QKeyEvent>

#include "datatabs.h"

namespace {

using namespace qm730;

// One field of each column, the one the cases below type into.
enum FieldOf { address, name, group, message, pagerId, alarmText, firstAddress };

QWidget* fieldIn(const ControlArrays& a, FieldOf field) {
    switch (field) {
        case address: return a.edtAddr[4];
        case name: return a.edtName[2];
        case group: return a.edtGroup[3];
        case message: return a.memMsg[0];
        case pagerId: return a.edtPagerID[0];
        case alarmText: return a.memAMsg[0];
        case firstAddress: break;
    }
    return a.edtAddr[0];
}

class Editing : public DataTabs {
protected:
    void SetUp() override { ASSERT_TRUE(active); }

    // Shows the field's tab, opens a group field, and puts text and focus there.
    // A field refused by the previous case would hold on to the focus;
    // clearing the focus is no move to another control, so it runs no rule.
    QWidget* prepare(FieldOf which, const QString& text) {
        if (QWidget* previous = QApplication::focusWidget()) previous->clearFocus();
        QWidget* field = fieldIn(rows(), which);
        showTab(field->parentWidget());
        if (which == group) rows().chkGroup[3]->setChecked(true);
        focus(field);
        if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->setText(text);
        if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) {
            memo->setPlainText(text);
            memo->moveCursor(QTextCursor::End);
        }
        MessageBox::clearShown();
        return field;
    }

    static QString textOf(QWidget* field) {
        if (auto* edit = qobject_cast<QLineEdit*>(field)) return edit->text();
        return qobject_cast<QPlainTextEdit*>(field)->toPlainText();
    }

    static void type(QWidget* field, QChar character) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QApplication::sendEvent(field, &press);
    }

    static std::vector<Notice> shownOrNone(const std::optional<Notice>& notice) {
        return notice ? std::vector<Notice>{*notice} : std::vector<Notice>{};
    }
};

struct KeyCase {
    const char* what;
    FieldOf field;
    QString before;
    QChar key;
    QString after;
    std::optional<Notice> notice;
};

TEST_F(Editing, KeyRulesOfEveryColumn) {
    const QString long59(59, 'a');
    const KeyCase cases[] = {
        {"address guard on a loaded text", address, "12345678", '5', "1234567", warningBox("More then 7 digit !")},
        {"name refuses a hyphen", name, "Ab", '-', "Ab", errorBox("Please insert an alphabet & numeric !")},
        {"group refuses a letter", group, "1", 'a', "1", errorBox("Please insert a numeric 0 ~ 99 !")},
        {"message guard", message, QString(61, 'm'), 'm', QString(60, 'm'), warningBox("More then 60 Characters!")},
        {"pager ID guard", pagerId, "12345", '6', "1234", warningBox("More then 4 Characters!")},
        {"alarm text guard", alarmText, long59 + 'b', 'c', long59, warningBox("More then 59 Characters!")},
    };
    for (const KeyCase& c : cases) {
        QWidget* field = prepare(c.field, c.before);
        type(field, c.key);
        EXPECT_EQ(textOf(field), c.after) << c.what;
        EXPECT_EQ(MessageBox::shown(), shownOrNone(c.notice)) << c.what;
    }
}

struct LeaveCase {
    const char* what;
    FieldOf field;
    QString text;
    QString after;  // the text the field shows afterwards
    std::optional<Notice> notice;
};

TEST_F(Editing, LeaveRulesOfEveryColumn) {
    const LeaveCase cases[] = {
        {"smallest address", address, "8", "0000008", {}},
        {"largest address", address, "2097151", "2097151", {}},
        {"address above the range", address, "2097152", "2097152",
         plainBox("Please insert a number between 8 to 2097151!")},
        {"address no number", address, "12a", "12a", plainBox("Please Input Decimal!")},
        {"name trimmed", name, "  Abc  ", "Abc", {}},
        {"name too long", name, "abcdefghijk", "abcdefghijk", warningBox("More then 10 Characters!")},
        {"group 100", group, "100", "100", warningBox("More then 99 !")},
        {"message of 61 trimmed", message, " " + QString(61, 'm'), QString(61, 'm'),
         warningBox("More then 60 Characters!")},
        {"pager ID 900", pagerId, "900", "900", warningBox("More then 999 !")},
        {"pager ID emptied", pagerId, "", "", notANumberBox("")},
        {"alarm text of 59 trimmed", alarmText, " " + QString(58, 'a'), QString(58, 'a'), {}},
        {"alarm text of 60", alarmText, QString(60, 'a'), QString(60, 'a'), warningBox("More then 59 Characters!")},
    };
    for (const LeaveCase& c : cases) {
        QWidget* field = prepare(c.field, c.text);
        QWidget* next = c.field == alarmText ? rows().edtPagerID[1] : form->Edit1;
        focus(next);
        EXPECT_EQ(textOf(field), c.after) << c.what;
        EXPECT_EQ(MessageBox::shown(), shownOrNone(c.notice)) << c.what;
        EXPECT_EQ(QApplication::focusWidget(), c.notice ? field : next) << c.what << ": refused values keep the focus";
        QApplication::processEvents();
        EXPECT_EQ(MessageBox::shown().size(), c.notice ? 1u : 0u) << c.what << ": the rule ran once";
    }
    EXPECT_EQ(form->config().capcodeNumbers[4], 2097151) << "the last address accepted in the row";
}

TEST_F(Editing, AnEmptiedAddressShowsItsTableEntry) {
    QWidget* field = prepare(address, "0000042");
    focus(rows().edtAddr[5]);
    prepare(address, "");
    focus(rows().edtAddr[5]);
    EXPECT_EQ(textOf(field), "42");

    form->cboCapNo->setCurrentIndex(10);
    form->cboCapNoClick(form->cboCapNo);
    field = prepare(firstAddress, "");
    focus(rows().edtAddr[1]);
    EXPECT_EQ(textOf(field), "100") << "page 11 rows use table entries 100 to 109";
}

TEST_F(Editing, GroupCheckBoxOpensAndClosesTheGroupField) {
    QCheckBox* box = rows().chkGroup[1];
    QLineEdit* field = rows().edtGroup[1];
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    ASSERT_TRUE(box->isChecked());
    EXPECT_TRUE(field->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), field);

    focus(rows().edtName[1]);  // left empty: the group is turned off
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(field->isEnabled());

    box->setChecked(true);
    field->setText("5");
    box->setChecked(false);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_FALSE(field->isEnabled());
}

TEST_F(Editing, SwitchingTabsFromARefusedFieldDoesNotHoldTheFocusThere) {
    QWidget* field = prepare(alarmText, QString(60, 'a'));
    showTab(form->TabSheet3);
    EXPECT_EQ(MessageBox::shown(), std::vector<Notice>{warningBox("More then 59 Characters!")});
    EXPECT_NE(QApplication::focusWidget(), field);
}

TEST_F(Editing, EnterMovesAlongTheColumn) {
    const ControlArrays& a = rows();
    auto enter = [](QWidget* field) {
        focus(field);
        QTest::keyClick(field, Qt::Key_Return);
        QApplication::processEvents();
        return QApplication::focusWidget();
    };
    EXPECT_EQ(enter(a.edtAddr[9]), a.cboType[0]);

    // Only rows 1 and 6 have a group: Enter skips the closed group fields and
    // past the last row goes on to the first address.
    for (int r : {0, 5}) {
        a.chkGroup[r]->setChecked(true);
        a.edtGroup[r]->setText("1");
    }
    EXPECT_EQ(enter(a.edtName[9]), a.edtGroup[0]);
    EXPECT_EQ(enter(a.edtGroup[0]), a.edtGroup[5]);
    EXPECT_EQ(enter(a.edtGroup[5]), a.edtAddr[0]);
    EXPECT_EQ(a.edtGroup[5]->text(), "1") << "Enter types nothing";

    showTab(form->TabSheet3);
    EXPECT_EQ(enter(a.memMsg[9]), a.memMsg[0]);
    EXPECT_FALSE(a.memMsg[9]->toPlainText().contains('\n'));

    showTab(form->TabSheet4);
    a.edtPagerID[6]->setText("77");
    EXPECT_EQ(enter(a.edtPagerID[6]), form->Edit1);
    EXPECT_EQ(readPagerId(image().alarmRecord(6)), "77") << "leaving the tab stored the alarms";

    showTab(form->TabSheet1);
    form->cboCapNo->setCurrentIndex(10);
    form->cboCapNoClick(form->cboCapNo);
    EXPECT_EQ(enter(a.edtAddr[7]), a.cboType[0]) << "the spare rows of page 11 are skipped";
}

}  // namespace
