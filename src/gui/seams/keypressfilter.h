// Key-press rules: for every character typed into a field the field's handler
// gets the character by reference before the field sees it. It may leave it
// (the key passes), set it to 0 (the key is swallowed), set it to 8 (the key
// acts as Backspace) or set it to another character (that one is typed).
//
// Pastes (Ctrl+V, Shift+Insert, the field's menu, the middle mouse button)
// go through the same handler, one character at a time, as if typed.
#pragma once

#include <QClipboard>
#include <QHash>
#include <QObject>

#include <functional>
#include <optional>

class QContextMenuEvent;
class QKeyEvent;
class QMouseEvent;
class QWidget;

class KeyPressFilter : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(QObject* sender, char& key)>;

    static constexpr char kSwallowed = 0;
    static constexpr char kBackspace = 8;
    static constexpr char kEnter = 13;
    static constexpr char kEscape = 27;

    explicit KeyPressFilter(QObject* parent = nullptr);

    void attach(QWidget* field, Handler handler);
    // Runs before each key handler, so work the focus rules still owe is done
    // before the next key is judged.
    void setBeforeKey(std::function<void()> beforeKey) { beforeKey_ = std::move(beforeKey); }

    // The character a key stands for as the handlers see it: Backspace 8,
    // Enter 13, Escape 27, Ctrl+letter its control code, printable ASCII
    // itself, any other character a byte of 0x80 or above. Keys that type no
    // character (Delete, Home, End, arrows, Tab, function keys) give none.
    static std::optional<char> characterOf(const QKeyEvent& event);

    // Types the clipboard's text into the field through its handler. The paste
    // is taken whole or not at all: when the handler swallows a character or
    // turns it into Backspace, the field gets back the text it had. Without
    // text on the clipboard nothing happens.
    void paste(QWidget* field, QClipboard::Mode mode = QClipboard::Clipboard);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool keyPress(QWidget* field, QKeyEvent& event);
    bool contextMenu(QWidget* field, QWidget* watched, const QContextMenuEvent& event);
    bool middleButton(QWidget* field, const QMouseEvent& event);
    void typeInstead(QObject* field, char key);

    QHash<QObject*, Handler> handlers_;
    QHash<QObject*, QWidget*> viewports_;  // the text area of a memo, to its memo
    std::function<void()> beforeKey_;
    bool typingReplacement_ = false;
};
