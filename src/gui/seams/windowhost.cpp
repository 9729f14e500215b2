#include "gui/seams/windowhost.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <thread>

#include "gui/seams/messagebox.h"

namespace {
constexpr std::chrono::milliseconds kFrameInterval{16};
}  // namespace

void WindowHost::setStatus(const std::string& text) {
    widgets_.status->setText(QString::fromStdString(text));
    widgets_.status->repaint();
}

void WindowHost::setProgressRange(int minimum, int maximum) {
    widgets_.progress->setRange(minimum, std::max(maximum, minimum));
    showPosition();
    widgets_.progress->repaint();
}

void WindowHost::setProgress(int position) {
    position_ = position;
    showPosition();
}

void WindowHost::refresh() {
    if (sincePaint_.isValid() && sincePaint_.elapsed() < kFrameInterval.count()) return;
    sincePaint_.start();
    // Paint and window-system events only: a click or key press waits for
    // the next wait of the line.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void WindowHost::showPosition() {
    QProgressBar& bar = *widgets_.progress;
    if (position_) bar.setValue(std::clamp(*position_, bar.minimum(), bar.maximum()));
}

void WindowHost::showNotice(const qm730::Notice& notice) { MessageBox::show(widgets_.noticeParent, notice); }

void WindowHost::logLine(const std::string& line) {
    if (widgets_.log) widgets_.log->appendPlainText(QString::fromStdString(line));
}

void WindowHost::enableWrite(bool enabled) {
    if (widgets_.write) widgets_.write->setEnabled(enabled);
}

void WindowHost::processEvents() { QCoreApplication::processEvents(); }

void WindowHost::delay(std::chrono::milliseconds duration) {
    const Clock::time_point until = now() + duration;
    // A timer may fire a little early, and a loop ends at once when the
    // application is quitting: go round until the time is really up.
    for (Clock::duration left = until - now(); left > Clock::duration::zero(); left = until - now()) {
        QEventLoop loop;
        QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(left), Qt::PreciseTimer, &loop,
                           &QEventLoop::quit);
        // A loop that refuses to run (the application is quitting) would
        // return at once; sleep out the rest instead of spinning.
        if (loop.exec() != 0) std::this_thread::sleep_for(left);
    }
}
