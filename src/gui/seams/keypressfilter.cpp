#include "gui/seams/keypressfilter.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScopedValueRollback>
#include <QWidget>

namespace {

// The byte a character stands for: ASCII itself, outside ASCII its Latin-1
// byte where there is one, otherwise a byte that, like every accented
// letter, falls outside all accepted ranges.
char byteOf(char16_t unicode) {
    if (unicode < 0x80) return static_cast<char>(unicode);
    return static_cast<char>(unicode <= 0xFF ? unicode : 0x80);
}

// The text a paste types. A copied line usually ends in a line break and a
// field never holds one (Enter leaves a message field), so trailing breaks
// go, inner breaks and tabs become blanks, and other control characters,
// which no key types as text, are left out.
QString pastedText(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    while (text.endsWith(u'\n')) text.chop(1);
    QString typed;
    typed.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\n' || c == u'\t') {
            typed += u' ';
        } else if (c.unicode() >= 0x20 && c.unicode() != 0x7F) {
            typed += c;
        }
    }
    return typed;
}

// The text, caret and selection of a field, to give back a refused paste.
struct FieldContents {
    QString text;
    int anchor = 0;
    int position = 0;

    static FieldContents of(const QWidget* field) {
        if (const auto* edit = qobject_cast<const QLineEdit*>(field)) {
            const int start = edit->selectionStart();
            if (start < 0) return {edit->text(), edit->cursorPosition(), edit->cursorPosition()};
            return {edit->text(), start, start + static_cast<int>(edit->selectedText().size())};
        }
        if (const auto* memo = qobject_cast<const QPlainTextEdit*>(field)) {
            const QTextCursor cursor = memo->textCursor();
            return {memo->toPlainText(), cursor.anchor(), cursor.position()};
        }
        return {};
    }

    void restore(QWidget* field) const {
        if (auto* edit = qobject_cast<QLineEdit*>(field)) {
            edit->setText(text);
            edit->setSelection(anchor, position - anchor);
        } else if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) {
            memo->setPlainText(text);
            QTextCursor cursor = memo->textCursor();
            cursor.setPosition(anchor);
            cursor.setPosition(position, QTextCursor::KeepAnchor);
            memo->setTextCursor(cursor);
        }
    }
};

void insertInto(QWidget* field, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->insert(text);  // within the typed length limit
    if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) memo->insertPlainText(text);
}

bool isPasteAction(const QAction* action) {
    return action->objectName() == QLatin1String("edit-paste") ||
           action->text().section(u'\t', 0, 0) == QLineEdit::tr("&Paste");
}

}  // namespace

KeyPressFilter::KeyPressFilter(QObject* parent) : QObject(parent) {}

void KeyPressFilter::attach(QWidget* field, Handler handler) {
    handlers_.insert(field, std::move(handler));
    field->installEventFilter(this);
    // A memo gets its mouse and menu events through its text area.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(field)) {
        viewports_.insert(area->viewport(), field);
        area->viewport()->installEventFilter(this);
    }
    connect(field, &QObject::destroyed, this, [this](QObject* gone) {
        handlers_.remove(gone);
        viewports_.removeIf([gone](const auto& entry) { return entry.value() == gone; });
    });
}

std::optional<char> KeyPressFilter::characterOf(const QKeyEvent& event) {
    const int key = event.key();
    if (key == Qt::Key_Backspace) return kBackspace;
    if (key == Qt::Key_Return || key == Qt::Key_Enter) return kEnter;
    if (key == Qt::Key_Escape) return kEscape;
    // Focus, editing and navigation keys type nothing, whatever text the
    // window system gives them (X11 gives Delete "\x7f").
    if (key >= Qt::Key_Escape && key != Qt::Key_unknown) return std::nullopt;

    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const bool control = modifiers.testFlag(Qt::ControlModifier) && !modifiers.testFlag(Qt::AltModifier);
    if (control && key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<char>(key - Qt::Key_A + 1);

    const QString text = event.text();
    if (text.isEmpty()) return std::nullopt;
    return byteOf(text.at(0).unicode());
}

bool KeyPressFilter::eventFilter(QObject* watched, QEvent* event) {
    if (typingReplacement_) return false;
    QWidget* field = viewports_.value(watched);
    if (!field && handlers_.contains(watched)) field = static_cast<QWidget*>(watched);
    if (!field) return false;

    switch (event->type()) {
        case QEvent::KeyPress:
            return watched == field && keyPress(field, *static_cast<QKeyEvent*>(event));
        case QEvent::ContextMenu:
            return contextMenu(field, static_cast<QWidget*>(watched), *static_cast<QContextMenuEvent*>(event));
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease:
            return middleButton(field, *static_cast<QMouseEvent*>(event));
        default:
            return false;
    }
}

bool KeyPressFilter::keyPress(QWidget* field, QKeyEvent& event) {
    if (event.matches(QKeySequence::Paste)) {
        const bool selection = event.key() == Qt::Key_Insert &&
                               event.modifiers() == (Qt::ControlModifier | Qt::ShiftModifier) &&
                               QGuiApplication::clipboard()->supportsSelection();
        paste(field, selection ? QClipboard::Selection : QClipboard::Clipboard);
        return true;
    }
    const std::optional<char> typed = characterOf(event);
    if (!typed) return false;

    if (beforeKey_) beforeKey_();
    char key = *typed;
    const Handler handler = handlers_.value(field);  // a copy: the handler may change the table
    handler(field, key);
    if (key == *typed) return false;
    if (key != kSwallowed) typeInstead(field, key);
    return true;
}

// The field's own menu, with its Paste going through the handler.
bool KeyPressFilter::contextMenu(QWidget* field, QWidget* watched, const QContextMenuEvent& event) {
    QMenu* menu = nullptr;
    if (auto* edit = qobject_cast<QLineEdit*>(field)) {
        menu = edit->createStandardContextMenu();
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) {
        const QPoint at = watched == field ? memo->viewport()->mapFrom(memo, event.pos()) : event.pos();
        menu = memo->createStandardContextMenu(at);
    }
    if (!menu) return false;
    for (QAction* action : menu->actions()) {
        if (!isPasteAction(action)) continue;
        disconnect(action, &QAction::triggered, nullptr, nullptr);
        connect(action, &QAction::triggered, this, [this, target = QPointer<QWidget>(field)] {
            if (target) paste(target);
        });
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event.globalPos());
    return true;
}

// The middle button pastes the X11 selection where it is released.
bool KeyPressFilter::middleButton(QWidget* field, const QMouseEvent& event) {
    if (event.button() != Qt::MiddleButton || !QGuiApplication::clipboard()->supportsSelection()) return false;
    if (event.type() == QEvent::MouseButtonRelease && field->isEnabled()) {
        const QPoint at = event.position().toPoint();
        if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->setCursorPosition(edit->cursorPositionAt(at));
        if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) memo->setTextCursor(memo->cursorForPosition(at));
        paste(field, QClipboard::Selection);
    }
    return true;
}

void KeyPressFilter::paste(QWidget* field, QClipboard::Mode mode) {
    const auto found = handlers_.constFind(field);
    if (found == handlers_.constEnd()) return;
    // The toolkit's own paste crashes on a clipboard that holds nothing (as
    // right after login): look before taking anything.
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode);
    if (!data || !data->hasText()) return;
    const QString text = pastedText(data->text());
    if (text.isEmpty()) return;

    if (beforeKey_) beforeKey_();
    const Handler handler = found.value();
    const QPointer<QWidget> target(field);
    const FieldContents before = FieldContents::of(field);
    for (const QChar c : text) {
        const char typed = byteOf(c.unicode());
        char key = typed;
        handler(field, key);
        if (!target) return;
        if (key == kSwallowed || key == kBackspace) {
            before.restore(field);
            return;
        }
        insertInto(field, key == typed ? QString(c) : QString(QChar(static_cast<unsigned char>(key))));
    }
}

// Delivers the handler's replacement to the field as if it had been typed.
void KeyPressFilter::typeInstead(QObject* field, char key) {
    int code = Qt::Key_unknown;
    if (key == kBackspace) code = Qt::Key_Backspace;
    if (key == kEnter) code = Qt::Key_Return;
    const QString text = QString(QChar(static_cast<unsigned char>(key)));
    QKeyEvent replacement(QEvent::KeyPress, code, Qt::NoModifier, text);
    const QScopedValueRollback<bool> typing(typingReplacement_, true);
    QCoreApplication::sendEvent(field, &replacement);
}
