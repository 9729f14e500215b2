#include "gui/windows/accesscodedialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/seams/messagebox.h"

namespace {

// Courier New bold at 12 pixels, with the usual fixed-pitch stand-ins where
// the face itself is missing.
QFont promptFont() {
    QFont font;
    font.setFamilies({"Courier New", "Liberation Mono", "DejaVu Sans Mono"});
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(12);
    font.setBold(true);
    return font;
}

qm730::Notice passwordErrorNotice() {
    return {"Password Error!", "Password", qm730::NoticeButtons::Ok, qm730::NoticeIcon::Exclamation};
}

}  // namespace

AccessCodeDialog::AccessCodeDialog(QWidget* mainWindow, const AccessCodeNames& names, QString accessCode)
    : QDialog(mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      accessCode_(std::move(accessCode)) {
    setObjectName(names.dialog);
    setWindowTitle("Password Dialog");
    setFixedSize(kClientWidth, kClientHeight);

    prompt_ = new QLabel("Enter password:", this);
    prompt_->setObjectName("Label1");
    prompt_->setFont(promptFont());
    prompt_->setGeometry(8, 9, 217, 16);

    field_ = new QLineEdit(this);
    field_->setObjectName(names.field);
    field_->setEchoMode(QLineEdit::Password);
    field_->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");  // '*'
    field_->setGeometry(8, 29, 217, 21);

    okButton_ = new QPushButton("OK", this);
    okButton_->setObjectName(names.okButton);
    okButton_->setFont(promptFont());
    okButton_->setDefault(true);
    okButton_->setGeometry(38, 60, 75, 25);

    // Escape presses Cancel: the dialog closes with the cancel result and the
    // count of wrong entries stays as it is.
    cancelButton_ = new QPushButton("Cancel", this);
    cancelButton_->setObjectName(names.cancelButton);
    cancelButton_->setFont(promptFont());
    cancelButton_->setGeometry(121, 60, 75, 25);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

void AccessCodeDialog::checkEntry() {
    if (field_->text() != accessCode_) {
        refuseEntry();
        return;
    }
    unlock();
    failures_ = 0;
    accept();
}

void AccessCodeDialog::refuseEntry() {
    MessageBox::show(this, passwordErrorNotice());
    field_->clear();
    field_->setFocus();
    if (++failures_ >= kMaxFailures) {
        failures_ = 0;
        reject();
    }
}
