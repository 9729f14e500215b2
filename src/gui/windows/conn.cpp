#include "gui/windows/conn.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "core/link/boardlink.h"

namespace {

QFont fontOf(QStringList families, int pixelSize, bool bold) {
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

}  // namespace

TfrmConn::TfrmConn(QWidget* parent) : QDialog(parent) {
    setObjectName("frmConn");
    setWindowTitle("Connection");
    // A title without system menu or buttons: Cancel is the way out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(kWidth, kHeight);

    Label1 = new QLabel("Connection ......", this);
    Label1->setObjectName("Label1");
    Label1->setFont(fontOf({"Courier New", "Liberation Mono", "DejaVu Sans Mono"}, 21, true));
    Label1->setGeometry(60, 32, 260, 30);
    Label1->setAlignment(Qt::AlignCenter);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setFont(fontOf({"Tahoma", "DejaVu Sans"}, 11, false));
    BitBtn1->setGeometry(148, 96, 84, 27);
    BitBtn1->setAutoDefault(false);
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmConn::BitBtn1Click);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(qm730::kProbeIntervalMs);
    Timer1->setTimerType(Qt::PreciseTimer);  // a coarse timer may tick early
    connect(Timer1, &QTimer::timeout, this, &TfrmConn::Timer1Timer);
}

TfrmConn::~TfrmConn() = default;

int TfrmConn::execConnection(const std::string& portName, qm730::BoardLink& link) {
    if (isVisible()) return Rejected;
    portName_ = portName;
    link_ = &link;
    pending_ = true;
    // Centred on the screen, not over whichever window is active.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    QMetaObject::invokeMethod(this, &TfrmConn::startPendingCheck, Qt::QueuedConnection);
    const qm730::LinkBusy busy(link.state());
    const int result = exec();
    link_ = nullptr;
    return result;
}

// Runs from inside exec(), once the dialog is shown.
void TfrmConn::startPendingCheck() {
    if (!pending_ || !isVisible()) return;
    pending_ = false;
    FormShow();
}

void TfrmConn::FormShow() {
    if (!link_) return;
    checking_ = true;
    // A port that cannot be opened has been told of; the dialog stays until
    // the operator cancels, and its probes find the port closed.
    link_->OpenLinkPort(portName_);
    Timer1->start();
}

void TfrmConn::Timer1Timer() {
    Timer1->stop();
    if (!checking_ || !link_) return;
    link_->SetProgress(0);
    const qm730::ProbeResult result = link_->ProbeBoard();
    // Cancelled while the probe waited: the port is closed, nothing more is sent.
    if (!checking_) return;
    switch (result) {
        case qm730::ProbeResult::Answered:
            link_->host().showNotice(qm730::plainNotice(qm730::kConnectionSuccessText));
            accept();
            return;
        case qm730::ProbeResult::LineFailed:
            // The device failed and has been closed; its box has been shown.
            return;
        default:
            Timer1->start();
    }
}

void TfrmConn::BitBtn1Click() { reject(); }

void TfrmConn::FormClose() {
    Timer1->stop();
    checking_ = false;
    pending_ = false;
    if (link_) link_->ClosePort();
}

void TfrmConn::done(int result) {
    FormClose();
    QDialog::done(result);
}
