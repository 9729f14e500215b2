// Key-press rules: what character a handler sees, and what swallowing,
// Backspace and replacement do to the field.
#include <gtest/gtest.h>

#include <QKeyEvent>

#include "gui/seams/keypressfilter.h"
#include "gui/mainwindow/typedlength.h"
#include "guitest.h"

namespace {

std::optional<char> characterOf(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    const QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
    return KeyPressFilter::characterOf(event);
}

TEST(KeyCharacters, AsTheHandlersSeeThem) {
    EXPECT_EQ(characterOf(Qt::Key_Backspace, Qt::NoModifier, "\b"), 8);
    EXPECT_EQ(characterOf(Qt::Key_Return, Qt::NoModifier, "\r"), 13);
    EXPECT_EQ(characterOf(Qt::Key_Enter, Qt::KeypadModifier, "\r"), 13);
    EXPECT_EQ(characterOf(Qt::Key_V, Qt::ControlModifier, ""), 22);
    EXPECT_EQ(characterOf(Qt::Key_Z, Qt::ControlModifier, "\x1a"), 26);
    EXPECT_EQ(characterOf(Qt::Key_A, Qt::NoModifier, "a"), 'a');
    EXPECT_EQ(characterOf(Qt::Key_Minus, Qt::NoModifier, "-"), '-');
    EXPECT_EQ(static_cast<unsigned char>(*characterOf(Qt::Key_Eacute, Qt::NoModifier, QString(QChar(0xE9)))), 0xE9);
    EXPECT_GE(static_cast<unsigned char>(*characterOf(Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x20AC)))), 0x80);
    EXPECT_EQ(characterOf(Qt::Key_Left, Qt::NoModifier, ""), std::nullopt);
    EXPECT_EQ(characterOf(Qt::Key_Delete, Qt::NoModifier, "\x7f"), std::nullopt) << "X11 gives Delete a text";
    EXPECT_EQ(characterOf(Qt::Key_Delete, Qt::ControlModifier, "\x7f"), std::nullopt);
    EXPECT_EQ(characterOf(Qt::Key_Tab, Qt::NoModifier, "\t"), std::nullopt);
    EXPECT_EQ(characterOf(Qt::Key_F1, Qt::NoModifier, ""), std::nullopt);
}

// A handler that answers from a table: digits pass, 'x' is swallowed, 'b'
// acts as Backspace, 'u' is typed as 'U'.
class KeyRules : public ::testing::Test {
protected:
    void SetUp() override {
        for (QWidget* field : std::initializer_list<QWidget*>{&edit, &memo}) {
            filter.attach(field, [this](QObject* sender, char& key) {
                seen.push_back(key);
                senders.push_back(sender);
                if (key == 'x') key = KeyPressFilter::kSwallowed;
                if (key == 'b') key = KeyPressFilter::kBackspace;
                if (key == 'u') key = 'U';
            });
        }
        filter.setBeforeKey([this] { ++beforeKey; });
    }
    KeyPressFilter filter;
    QLineEdit edit;
    QPlainTextEdit memo;
    std::string seen;
    std::vector<QObject*> senders;
    int beforeKey = 0;
};

TEST_F(KeyRules, HandlerDecidesWhatTheFieldGets) {
    QTest::keyClicks(&edit, "12x3b4u");
    EXPECT_EQ(edit.text(), "124U");
    EXPECT_EQ(seen, "12x3b4u");
    EXPECT_EQ(senders.front(), &edit);
    EXPECT_EQ(beforeKey, 7);
    QTest::keyClicks(&memo, "ab");
    EXPECT_EQ(memo.toPlainText(), "");
}

TEST_F(KeyRules, ControlKeysAndBackspaceReachTheHandler) {
    edit.setText("99");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&edit, Qt::Key_Return);
    QTest::keyClick(&edit, Qt::Key_Left);  // types nothing: the handler is not asked
    EXPECT_EQ(seen, std::string("\x08\x03\x0d", 3));
    EXPECT_EQ(edit.text(), "9");
}

}  // namespace

namespace {

// The typed limit stops typing and pasting but never cuts loaded text, which
// can still be shortened key by key.
TEST(TypedLengthLimit, LimitsTypingButKeepsLoadedText) {
    QLineEdit edit;
    setTypedLengthLimit(&edit, 3);
    EXPECT_EQ(typedLengthLimit(&edit), 3);
    QTest::keyClicks(&edit, "12345");
    EXPECT_EQ(edit.text(), "123");
    edit.setText("1234");
    EXPECT_EQ(edit.text(), "1234");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), "123");
    QTest::keyClicks(&edit, "9");
    EXPECT_EQ(edit.text(), "123");
    edit.clear();
    edit.insert("987654");  // as a paste arrives
    EXPECT_EQ(edit.text(), "");
}

}  // namespace
