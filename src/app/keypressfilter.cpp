#include "app/keypressfilter.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QWidget>

KeyPressFilter::KeyPressFilter(QObject* parent) : QObject(parent) {}

void KeyPressFilter::attach(QWidget* field, Handler handler) {
    handlers_.insert(field, std::move(handler));
    field->installEventFilter(this);
    connect(field, &QObject::destroyed, this, [this](QObject* gone) { handlers_.remove(gone); });
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
    const char16_t unicode = text.at(0).unicode();
    if (unicode < 0x20 || unicode == 0x7F) return static_cast<char>(unicode);
    if (unicode < 0x80) return static_cast<char>(unicode);
    // Outside ASCII: its Latin-1 byte where there is one, otherwise a byte
    // that, like every accented letter, falls outside all accepted ranges.
    return static_cast<char>(unicode <= 0xFF ? unicode : 0x80);
}

bool KeyPressFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || typingReplacement_) return false;
    const auto found = handlers_.constFind(watched);
    if (found == handlers_.constEnd()) return false;

    auto* keyEvent = static_cast<QKeyEvent*>(event);
    const std::optional<char> typed = characterOf(*keyEvent);
    if (!typed) return false;

    if (beforeKey_) beforeKey_();
    char key = *typed;
    const Handler handler = found.value();  // a copy: the handler may change the table
    handler(watched, key);
    if (key == *typed) return false;
    if (key != kSwallowed) typeInstead(watched, key);
    return true;
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
