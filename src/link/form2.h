// The configuration transfer dialog: on each showing it opens the port chosen
// in the main window, sends the image to the board or reads it back, shows the
// outcome, closes the port and offers OK.
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TForm1;

namespace qm730 {
class SerialPort;
}

class TForm2 : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kDesignCaption = "Transfer Data to Flash";
    static constexpr const char* kReadCaption = " Download Data from Flash";
    static constexpr const char* kSendCaption = " Trandfer Data to Flash";
    static constexpr const char* kReadSuccess = "  Read Success !";
    static constexpr const char* kReadError = "  Read Error !";
    static constexpr const char* kSendSuccess = "  Transfer Success !";
    static constexpr const char* kSendError = "  Transfer Error !";

    explicit TForm2(TForm1* mainWindow);

    // Runs the operation of the main window's transfer direction once; called
    // when the dialog is first activated after being shown.
    void FormActivate();
    // Closes the dialog; OK stays hidden until the next operation ends.
    void Button1Click();

    bool operationRunning() const { return running_; }
    // "COM1".."COM5" for the port chosen in the main window.
    QString portName() const;

    QLabel* lblMsg = nullptr;
    QProgressBar* PB1 = nullptr;
    QPushButton* Button1 = nullptr;
    QComboBox* cboBaudRate = nullptr;
    QComboBox* cboUartData = nullptr;
    QPlainTextEdit* memTAP_C = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;

public slots:
    // Refused while the operation runs: it cannot be stopped part-way, and a
    // hidden dialog would go on driving the line.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void done(int result) override;

private:
    void buildControls();
    void startPendingOperation();
    bool runTransfer(qm730::SerialPort& serial, bool sending, QString& reason);

    TForm1* mainWindow_;
    bool operationPending_ = false;  // shown, not yet activated
    bool running_ = false;
    // Starts the operation should the window system never activate the
    // dialog (a window manager that refuses to hand it the focus).
    QTimer* activationFallback_ = nullptr;
};
