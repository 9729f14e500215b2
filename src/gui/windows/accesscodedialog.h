// The common ground of the two access-code dialogs: the small fixed layout,
// the comparison with the access code and the count of wrong entries, which
// outlives each opening so that three wrong entries close the dialog even
// when spread over several openings.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// The control names of one dialog, as its handlers and tests know them.
struct AccessCodeNames {
    const char* dialog;
    const char* field;
    const char* okButton;
    const char* cancelButton;
};

class AccessCodeDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 233;
    static constexpr int kClientHeight = 93;
    // Wrong entries in a row after which the dialog closes and counting starts over.
    static constexpr int kMaxFailures = 3;

    int failures() const { return failures_; }

protected:
    AccessCodeDialog(QWidget* mainWindow, const AccessCodeNames& names, QString accessCode);

    // "OK": a match runs `unlock` and closes the dialog; anything else is
    // told, the field is emptied for another try, and the third wrong entry
    // in a row closes the dialog.
    void checkEntry();
    virtual void unlock() = 0;

    QLineEdit* field() const { return field_; }
    QPushButton* okButton() const { return okButton_; }

private:
    void refuseEntry();

    QString accessCode_;
    int failures_ = 0;
    QLabel* prompt_ = nullptr;
    QLineEdit* field_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};
