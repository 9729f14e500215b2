#include "gui/mainwindow/typedlength.h"

#include <QLineEdit>
#include <QValidator>

namespace {

// Accepts an edit when the text stays within the limit or does not grow
// beyond what the box already holds, so an over-long loaded text can still be
// shortened key by key.
class TypedLengthValidator : public QValidator {
public:
    TypedLengthValidator(QLineEdit* edit, int limit) : QValidator(edit), limit_(limit) {
        lastLength_ = edit->text().size();
        QObject::connect(edit, &QLineEdit::textChanged, this,
                         [this](const QString& text) { lastLength_ = text.size(); });
    }

    State validate(QString& input, int&) const override {
        return input.size() <= limit_ || input.size() <= lastLength_ ? Acceptable : Invalid;
    }

    int limit() const { return limit_; }

private:
    int limit_;
    qsizetype lastLength_ = 0;
};

}  // namespace

void setTypedLengthLimit(QLineEdit* edit, int limit) {
    edit->setValidator(limit > 0 ? new TypedLengthValidator(edit, limit) : nullptr);
}

int typedLengthLimit(const QLineEdit* edit) {
    const auto* validator = dynamic_cast<const TypedLengthValidator*>(edit->validator());
    return validator ? validator->limit() : 0;
}
