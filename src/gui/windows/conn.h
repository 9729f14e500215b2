// The connection dialog: probes the board's flash loader until it answers or
// the operator cancels. Each showing opens the port, probes every 100 ms and
// closes the port again when the dialog closes, whatever the outcome.
#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;
class QTimer;

namespace qm730 {
class BoardLink;
}  // namespace qm730

class TfrmConn : public QDialog {
    Q_OBJECT

public:
    static constexpr int kWidth = 380;
    static constexpr int kHeight = 158;

    explicit TfrmConn(QWidget* parent = nullptr);
    ~TfrmConn() override;

    // Shows the dialog modally and checks the connection on the named port
    // through the link, whose host carries the progress bar and the boxes.
    int execConnection(const std::string& portName, qm730::BoardLink& link);

    // Opens the port (a failure is told, the dialog stays) and starts probing.
    void FormShow();
    // One probe, with the timer stopped so that ticks never nest.
    void Timer1Timer();
    void BitBtn1Click();
    // Stops probing and closes the port; runs however the dialog closes.
    void FormClose();

    // Between FormShow and FormClose.
    bool isChecking() const { return checking_; }

    QLabel* Label1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QTimer* Timer1 = nullptr;

protected:
    void done(int result) override;

private:
    void startPendingCheck();

    qm730::BoardLink* link_ = nullptr;  // while shown by execConnection
    std::string portName_;
    bool pending_ = false;   // shown by execConnection, FormShow not yet run
    bool checking_ = false;
};
