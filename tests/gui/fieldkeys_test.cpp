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

}  // namespace
