// Editing keys and pastes in every kind of field that has a key rule: the
// rules see only the characters a key or a paste would type, and a paste never
// takes the program down.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>

#include "guitest.h"

namespace {

using qm730::Notice;
using qm730::NoticeButtons;
using qm730::NoticeIcon;

class FieldKeys : public ::testing::Test, protected MainWindowFixture {
protected:
    FieldKeys() {
        form->unlockConfigTab();
        QApplication::processEvents();
    }
    ~FieldKeys() override { QGuiApplication::clipboard()->clear(); }

    struct Field {
        const char* what;
        QWidget* widget;
    };

    // One field of every kind with a key rule.
    std::vector<Field> everyKind() const {
        const ControlArrays& a = form->arrays();
        return {{"address", a.edtAddr[0]},     {"name", a.edtName[0]},        {"group", a.edtGroup[0]},
                {"PPG message", a.memMsg[0]},  {"pager ID", a.edtPagerID[0]}, {"alarm text", a.memAMsg[0]},
                {"delay", a.edtDelay[0]},      {"preamble", form->edtPreamble}, {"duration", form->edtRangTDur},
                {"password", form->edtFPass},  {"frequency", form->edtFreq}};
    }

    // Brings the field's tab to the front, clicks into the field and gives it
    // the text with the caret at the given place, with a clean box record.
    // Clearing the focus first is no move to another control: no rule runs.
    void prepare(QWidget* field, const QString& text, int caret = 0) {
        if (QWidget* previous = QApplication::focusWidget()) previous->clearFocus();
        for (int page = 0; page < form->pacCapMsg->count(); ++page)
            if (form->pacCapMsg->widget(page)->isAncestorOf(field)) form->pacCapMsg->setCurrentIndex(page);
        if (field == form->arrays().edtGroup[0]) form->arrays().chkGroup[0]->setChecked(true);
        QApplication::processEvents();
        focus(field);
        if (auto* edit = qobject_cast<QLineEdit*>(field)) {
            edit->setText(text);
            edit->setCursorPosition(caret);
        }
        if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) {
            memo->setPlainText(text);
            QTextCursor cursor = memo->textCursor();
            cursor.setPosition(caret);
            memo->setTextCursor(cursor);
        }
        MessageBox::clearShown();
    }

    static std::string textOf(QWidget* field) {
        if (auto* edit = qobject_cast<QLineEdit*>(field)) return edit->text().toStdString();
        return qobject_cast<QPlainTextEdit*>(field)->toPlainText().toStdString();
    }

    // A key as the X11 window system delivers it, with the text it gives.
    static void press(QWidget* field, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(field, &event);
    }
};

TEST_F(FieldKeys, EditingKeysTypeNothingTheRulesCouldRefuse) {
    ASSERT_TRUE(active);
    for (const Field& f : everyKind()) {
        SCOPED_TRACE(f.what);
        prepare(f.widget, "123", 1);
        press(f.widget, Qt::Key_Delete, Qt::NoModifier, "\x7f");
        EXPECT_EQ(textOf(f.widget), "13") << "Delete removes the character after the caret";
        press(f.widget, Qt::Key_End, Qt::NoModifier, "");
        press(f.widget, Qt::Key_Home, Qt::NoModifier, "");
        press(f.widget, Qt::Key_Right, Qt::NoModifier, "");
        press(f.widget, Qt::Key_Left, Qt::NoModifier, "");
        press(f.widget, Qt::Key_Delete, Qt::NoModifier, "\x7f");
        EXPECT_EQ(textOf(f.widget), "3");
        EXPECT_TRUE(MessageBox::shown().empty());
    }
}

// Ctrl+V and Shift+Insert, as X11 delivers them.
void pasteKeys(QWidget* field, bool shiftInsert) {
    QKeyEvent event(QEvent::KeyPress, shiftInsert ? Qt::Key_Insert : Qt::Key_V,
                    shiftInsert ? Qt::ShiftModifier : Qt::ControlModifier, shiftInsert ? "" : "\x16");
    QApplication::sendEvent(field, &event);
}

// Right after login the clipboard holds nothing at all; the toolkit's own
// paste would read the missing contents and crash in the message fields.
TEST_F(FieldKeys, PasteFromAnEmptyClipboardDoesNothing) {
    ASSERT_TRUE(active);
    QGuiApplication::clipboard()->clear();
    for (const Field& f : everyKind()) {
        SCOPED_TRACE(f.what);
        for (bool shiftInsert : {false, true}) {
            prepare(f.widget, "12", 1);
            pasteKeys(f.widget, shiftInsert);
            EXPECT_EQ(textOf(f.widget), "12");
            EXPECT_TRUE(MessageBox::shown().empty()) << "nothing pasted, nothing to refuse";
        }
    }
    // A clipboard holding something other than text pastes nothing either.
    auto* picture = new QMimeData;
    picture->setData("image/png", QByteArray("\x89PNG", 4));
    QGuiApplication::clipboard()->setMimeData(picture);
    for (QWidget* field : {static_cast<QWidget*>(form->arrays().memMsg[0]),
                           static_cast<QWidget*>(form->arrays().edtName[0])}) {
        prepare(field, "12", 1);
        pasteKeys(field, false);
        EXPECT_EQ(textOf(field), "12");
        EXPECT_TRUE(MessageBox::shown().empty());
    }
}

struct PasteCase {
    const char* what;
    int field;  // position in everyKind()
    QString before;
    QString clipboard;
    std::string after;
    std::vector<Notice> boxes;
};

// Pasted text is judged character by character as if typed, and taken whole
// or not at all: a character the field refuses leaves the field as it was.
TEST_F(FieldKeys, PastedTextGoesThroughTheKeyRules) {
    ASSERT_TRUE(active);
    enum { address, name, group, message, pagerId, alarmText, delay };
    const Notice notNumeric{"Please insert a numeric !", "QM730", NoticeButtons::Ok, NoticeIcon::Exclamation};
    const PasteCase cases[] = {
        {"digits into a group", group, "", "12", "12", {}},
        {"letters into a group", group, "5", "abc", "5", {errorBox("Please insert a numeric 0 ~ 99 !")}},
        {"letters into a delay", delay, "1", "abc", "1", {notNumeric}},
        {"a digit among letters", delay, "1", "2x3", "1", {notNumeric}},
        {"a name", name, "", "Bob 7", "Bob 7", {}},
        {"a name with a hyphen", name, "Al", "Bo-b", "Al", {errorBox("Please insert an alphabet & numeric !")}},
        {"a copied line keeps no line break", message, "", "line one\r\nline two\n", "line one line two", {}},
        {"past the guard of a message", message, QString(60, 'm'), "xy", std::string(60, 'm'),
         {warningBox("More then 60 Characters!")}},
        {"more digits than a pager ID takes", pagerId, "", "12345", "123", {}},
        {"an address", address, "", "0001234", "0001234", {}},
        {"an alarm text", alarmText, "Fire ", "in hall 2", "Fire in hall 2", {}},
    };
    for (const PasteCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool shiftInsert : {false, true}) {
            QWidget* field = everyKind()[static_cast<std::size_t>(c.field)].widget;
            prepare(field, c.before, static_cast<int>(c.before.size()));
            QGuiApplication::clipboard()->setText(c.clipboard);
            pasteKeys(field, shiftInsert);
            EXPECT_EQ(textOf(field), c.after);
            EXPECT_EQ(MessageBox::shown(), c.boxes);
        }
    }
}

// The field's own menu pastes the same way.
TEST_F(FieldKeys, PasteFromTheFieldsMenuGoesThroughTheKeyRules) {
    ASSERT_TRUE(active);
    for (QWidget* field : {static_cast<QWidget*>(form->arrays().edtGroup[0]),
                           static_cast<QWidget*>(form->arrays().memAMsg[0])}) {
        const bool group = field == form->arrays().edtGroup[0];
        SCOPED_TRACE(group ? "group" : "alarm text");
        prepare(field, "", 0);
        QGuiApplication::clipboard()->setText("a1");
        auto* area = qobject_cast<QAbstractScrollArea*>(field);
        QWidget* target = area ? area->viewport() : field;
        QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5), target->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(target, &request);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        QAction* paste = nullptr;
        for (QAction* action : menu->actions())
            if (action->text().startsWith("&Paste")) paste = action;
        ASSERT_NE(paste, nullptr);
        EXPECT_TRUE(paste->isEnabled());
        paste->trigger();
        menu->close();
        EXPECT_EQ(textOf(field), group ? "" : "a1");
        EXPECT_EQ(MessageBox::shown().size(), group ? 1u : 0u);
    }
}

}  // namespace
