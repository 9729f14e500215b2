// The configuration transfer dialog: each modal showing opens the port chosen
// in the main window, sends the image to the board or reads it back, shows the
// outcome, closes the port and offers OK.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

#include <string>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace qm730 {
class ConfigImage;
class SerialPort;
}

// Which way a showing of the transfer dialog moves the image.
enum class TransferDirection { Read = 0, Send = 1 };

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

    // The dialog sends and reads `image`, the main window's for the whole run.
    TForm2(QWidget* mainWindow, qm730::ConfigImage& image);

    // Shows the dialog modally and runs one operation in the given direction
    // on the port chosen in the main window ("COM1".."COM5" or a device), as
    // soon as the dialog is on screen.
    int execTransfer(TransferDirection direction, const std::string& portName);
    // Shows the dialog modally and runs the operation it was last told of,
    // once. Only this starts an operation: a dialog shown again after being
    // minimised, or activated again, starts nothing.
    int exec() override;
    // Runs the operation in the direction the dialog was told of.
    void FormActivate();
    // Closes the dialog; OK stays hidden until the next operation ends.
    void Button1Click();

    bool operationRunning() const { return running_; }
    TransferDirection direction() const { return direction_; }
    // The port the dialog was told of.
    QString portName() const { return portName_; }

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
    void done(int result) override;

private:
    void buildControls();
    void startPendingOperation();
    bool runTransfer(qm730::SerialPort& serial, bool sending, QString& reason);

    qm730::ConfigImage& image_;
    TransferDirection direction_ = TransferDirection::Send;
    QString portName_ = QStringLiteral("COM1");
    bool operationPending_ = false;  // shown by exec(), operation not yet started
    bool running_ = false;
    QElapsedTimer sinceExec_;  // bounds the wait for the window to come on screen
};
