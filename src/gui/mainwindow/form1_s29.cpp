// S29 mode commands: load a firmware file, write it into the board's flash,
// and check the connection to the board. A write keeps the window painted and
// responsive, but holds every command that could take the port from it.
#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScopedValueRollback>

#include "gui/mainwindow/unit1.h"
#include "gui/seams/filedialog.h"
#include "gui/seams/messagebox.h"
#include "gui/seams/windowhost.h"
#include "gui/windows/conn.h"
#include "core/flash/programmer.h"
#include "core/link/portname.h"

namespace {

// The description the operator knows, over a pattern that shows every file
// (names without a dot included).
const QString kFirmwareFilter = QStringLiteral("All files (*.*) (*)");

QString loadSummary(const qm730::FirmwareLoad& load) {
    return QStringLiteral("%1 bytes loaded, checksum %2")
        .arg(load.bytesLoaded)
        .arg(QString::number(load.checksum, 16).toUpper().rightJustified(4, '0'));
}

}  // namespace

void TForm1::forgetFirmware() {
    lblFilename->clear();
    lblFilename->setToolTip({});
    firmware_->forget();
}

bool TForm1::portInUse() const { return writing_ || linkState_.busy; }

// The Normal mode file commands keep their own filter; this one asks for any
// file. A refused file leaves nothing loaded, so Write asks for a file first.
void TForm1::Open2Click(QObject*) {
    if (writing_) return;
    forgetFirmware();
    const QString path = FileDialog::getOpenFileName(this, QStringLiteral("Open"), startDirectory_, kFirmwareFilter);
    if (!path.isEmpty()) openFirmwareFile(path);
}

void TForm1::openFirmwareFile(const QString& path) {
    if (writing_) return;
    forgetFirmware();
    const qm730::FirmwareLoad load = qm730::loadFirmwareFile(path.toStdString(), *firmware_);
    if (!load.ok()) {
        MessageBox::show(this, load.notice());
        return;
    }
    lblFilename->setText(QString::fromStdString(firmware_->fileName));
    lblFilename->setToolTip(loadSummary(load));
}

void TForm1::Write2Click(QObject*) {
    if (portInUse()) return;
    const QScopedValueRollback writingNow(writing_, true);
    holdPortCommands(true);
    WindowHost host({statusText_, PB1, this, nullptr, Write2});
    qm730::BoardLink link(line_, host, linkState_);
    QString reason;
    // Whatever failed inside, the run is over: the port is let go and the
    // window is left as after any failed write.
    const auto abandon = [&](const QString& why) {
        link.ClosePort();
        host.showNotice(qm730::plainNotice(qm730::kTransmitErrorText));
        link.SetProgress(0);
        host.setStatus(qm730::kReadyStatus);
        host.enableWrite(true);
        reason = why;
    };
    try {
        const qm730::FlashOutcome outcome =
            qm730::WriteFirmware(link, selectedPortName(), *firmware_);
        if (outcome.result != qm730::FlashResult::NoFile && !outcome.ok())
            reason = QString::fromStdString(qm730::describeFlashOutcome(outcome));
    } catch (const std::exception& error) {
        abandon(QString::fromUtf8(error.what()));
    } catch (...) {
        abandon(QStringLiteral("the write failed"));
    }
    // Why the last write failed, for the operator who hovers over the status.
    statusText_->setToolTip(reason);
    holdPortCommands(false);
}

void TForm1::btnPLinkClick(QObject*) {
    if (portInUse() || !frmConn_) return;
    WindowHost host({statusText_, PB1, frmConn_.get(), nullptr, Write2});
    qm730::BoardLink link(line_, host, linkState_);
    frmConn_->execConnection(selectedPortName(), link);
}

void TForm1::holdPortCommands(bool hold) {
    for (QAction* menu : menuBar()->actions()) menu->setEnabled(!hold);
    btnPLink->setEnabled(!hold);
}

// A write cannot be left half done by closing the program.
void TForm1::closeEvent(QCloseEvent* event) {
    if (writing_) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
