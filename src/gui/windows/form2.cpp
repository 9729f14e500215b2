#include "gui/windows/form2.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>
#include <QWindow>

#include <memory>

#include "gui/seams/messagebox.h"
#include "gui/seams/windowhost.h"
#include "core/link/serial_port.h"
#include "core/link/transfer_line.h"
#include "core/link/transfer_protocol.h"

namespace {

// Long enough for any window system to put a freshly shown dialog on screen.
constexpr std::chrono::milliseconds kExposureGrace{500};
constexpr std::chrono::milliseconds kExposurePoll{10};

// Classic title-bar blue behind the white status text.
constexpr QColor kActiveCaptionGradient{61, 149, 255};

QFont arialBold(int pixelSize) {
    QFont font;
    font.setFamilies({"Arial", "Liberation Sans", "DejaVu Sans"});
    font.setPixelSize(pixelSize);
    font.setBold(true);
    return font;
}

template <typename T>
T* place(QWidget* parent, const QString& name, QRect bounds) {
    T* control = new T(parent);
    control->setObjectName(name);
    control->setGeometry(bounds);
    return control;
}

// The hidden line-settings and log controls: present so the settings come
// from them, never shown or enabled.
void hideDisabled(QWidget* control) {
    control->hide();
    control->setEnabled(false);
}

}  // namespace

TForm2::TForm2(QWidget* mainWindow, qm730::ConfigImage& image) : QDialog(mainWindow), image_(image) {
    setObjectName("Form2");
    setWindowTitle(kDesignCaption);
    setFixedSize(398, 247);
    QFont designFont = font();
    designFont.setFamilies({"MS Sans Serif", "Arial", "Liberation Sans", "DejaVu Sans Condensed"});
    designFont.setPointSize(8);
    setFont(designFont);
    buildControls();
}

void TForm2::buildControls() {
    lblMsg = place<QLabel>(this, "lblMsg", {38, 31, 313, 24});
    lblMsg->setText("Message");
    lblMsg->setFont(arialBold(21));
    lblMsg->setAutoFillBackground(true);
    QPalette statusColours = lblMsg->palette();
    statusColours.setColor(QPalette::Window, kActiveCaptionGradient);
    statusColours.setColor(QPalette::WindowText, Qt::white);
    lblMsg->setPalette(statusColours);

    PB1 = place<QProgressBar>(this, "PB1", {38, 80, 313, 20});
    PB1->setRange(0, 100);
    PB1->setValue(0);
    PB1->setTextVisible(false);

    Button1 = place<QPushButton>(this, "Button1", {161, 125, 56, 19});
    Button1->setText("OK");
    Button1->setFont(arialBold(16));
    Button1->setAutoDefault(true);
    Button1->hide();
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);

    Label1 = place<QLabel>(this, "Label1", {38, 160, 60, 13});
    Label1->setText("BaudRate");
    cboBaudRate = place<QComboBox>(this, "cboBaudRate", {100, 156, 90, 21});
    cboBaudRate->addItems({"1200 bps", "2400 bps", "4800 bps", "9600 bps", "19200 bps"});
    cboBaudRate->setCurrentIndex(4);
    Label2 = place<QLabel>(this, "Label2", {206, 160, 60, 13});
    Label2->setText("uartData");
    cboUartData = place<QComboBox>(this, "cboUartData", {268, 156, 83, 21});
    cboUartData->addItems({"7,E,1", "8,N,1", "8,N,2"});
    cboUartData->setCurrentIndex(2);
    memTAP_C = place<QPlainTextEdit>(this, "memTAP_C", {38, 184, 313, 52});
    memTAP_C->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memTAP_C->setPlainText("memTAP_C");
    for (QWidget* control : std::initializer_list<QWidget*>{Label1, cboBaudRate, Label2, cboUartData, memTAP_C})
        hideDisabled(control);
}

// Without a window manager nothing activates a new window on its own.
void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    activateWindow();
}

int TForm2::execTransfer(TransferDirection direction, const std::string& portName) {
    direction_ = direction;
    portName_ = QString::fromStdString(portName);
    return exec();
}

int TForm2::exec() {
    operationPending_ = true;
    sinceExec_.start();
    QMetaObject::invokeMethod(this, &TForm2::startPendingOperation, Qt::QueuedConnection);
    return QDialog::exec();
}

// Runs from inside exec() once the window is on screen (or after a grace
// time, should the window system never say so), and paints the dialog first:
// the line work blocks the event loop.
void TForm2::startPendingOperation() {
    if (!operationPending_ || !isVisible()) return;
    const QWindow* window = windowHandle();
    if ((!window || !window->isExposed()) && sinceExec_.elapsed() < kExposureGrace.count()) {
        QTimer::singleShot(kExposurePoll, this, &TForm2::startPendingOperation);
        return;
    }
    operationPending_ = false;
    repaint();
    FormActivate();
}

void TForm2::FormActivate() {
    if (running_) return;
    const QScopedValueRollback runningNow(running_, true);
    Button1->hide();

    qm730::SerialPort serial;
    const qm730::TransferPortOpening opening = qm730::openTransferPort(
        serial, portName().toStdString(),
        qm730::lineSettingsFromSelectors(cboBaudRate->currentIndex(), cboUartData->currentIndex()));
    // Without a port the operation still runs: it fails at once, and a send
    // says so in its own box, as the operator knows it from a silent board.
    if (opening.notice) MessageBox::show(this, *opening.notice);
    QString reason = QString::fromStdString(opening.reason);

    const bool sending = direction_ == TransferDirection::Send;
    setWindowTitle(sending ? kSendCaption : kReadCaption);
    const bool succeeded = runTransfer(serial, sending, reason);
    lblMsg->setText(sending ? (succeeded ? kSendSuccess : kSendError) : (succeeded ? kReadSuccess : kReadError));
    // Why it failed, for the operator who hovers over the result.
    lblMsg->setToolTip(succeeded ? QString() : reason);

    Button1->show();
    Button1->setFocus();
    // After a failure nothing more is owed to the board: what the line has
    // not taken is discarded, so closing cannot wait for it.
    if (!succeeded) serial.abandon();
    try {
        if (serial.isOpen()) serial.close();
    } catch (const qm730::SerialError&) {
        // The descriptor is released even when close reports an error, and
        // the outcome is already decided.
    }
}

bool TForm2::runTransfer(qm730::SerialPort& serial, bool sending, QString& reason) {
    WindowHost host({lblMsg, PB1, this, memTAP_C});
    // Two buffers of 32 KiB and 9 KiB: too much for the stack of a handler.
    auto transfer = std::make_unique<qm730::ConfigTransfer>(image_, serial, host);
    const bool succeeded = sending ? transfer->SendConfiguration() : transfer->ReceiveConfiguration();
    if (!succeeded && serial.isOpen()) reason = QString::fromStdString(transfer->failureReason());
    if (!reason.isEmpty()) memTAP_C->appendPlainText(reason);
    return succeeded;
}

void TForm2::Button1Click() { accept(); }

void TForm2::reject() {
    if (running_) return;
    QDialog::reject();
}

// Every way out (OK, Escape, the close button) leaves OK hidden for the next
// showing.
void TForm2::done(int result) {
    if (running_) return;
    Button1->hide();
    operationPending_ = false;
    QDialog::done(result);
}
