#include "gui/windows/form2_display.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>

#include <chrono>

#include "gui/seams/messagebox.h"
#include "gui/windows/form2.h"

namespace {
constexpr std::chrono::milliseconds kFrameInterval{16};
}  // namespace

// The status and the range are painted at once: the logon that follows
// waits for the board without running the event loop, and the operator should
// not look at the last run's result meanwhile.
void Form2Display::setStatus(const std::string& text) {
    dialog_.lblMsg->setText(QString::fromStdString(text));
    dialog_.lblMsg->repaint();
}

void Form2Display::setProgressRange(int minimum, int maximum) {
    dialog_.PB1->setRange(minimum, maximum);
    dialog_.PB1->repaint();
}

void Form2Display::setProgress(int position) { dialog_.PB1->setValue(position); }

void Form2Display::repaint() {
    if (sincePaint_.isValid() && sincePaint_.elapsed() < kFrameInterval.count()) return;
    sincePaint_.start();
    // Paint and window-system events only: a click or key press waits in the
    // queue until the operation has ended.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Form2Display::logLine(const std::string& line) { dialog_.memTAP_C->appendPlainText(QString::fromStdString(line)); }

void Form2Display::showNotice(const qm730::Notice& notice) { MessageBox::show(&dialog_, notice); }
