#include "gui/mainwindow/form1_linkhost.h"

#include <QAction>
#include <QCoreApplication>
#include <QProgressBar>
#include <QStatusBar>

#include <algorithm>

#include "gui/mainwindow/unit1.h"
#include "gui/seams/messagebox.h"
#include "gui/windows/form2_pump.h"

Form1LinkHost::Form1LinkHost(TForm1& form, QWidget* noticeParent) : form_(form), noticeParent_(noticeParent) {}

void Form1LinkHost::setStatus(const std::string& text) {
    form_.setStatusText(QString::fromStdString(text));
}

// The bar forgets a position that lies outside its new range; the position
// the link has reached is shown again on the new scale.
void Form1LinkHost::setProgressMaximum(int maximum) {
    form_.PB1->setRange(0, std::max(maximum, 0));
    showPosition();
    form_.PB1->repaint();
}

void Form1LinkHost::setProgressPosition(int position) {
    position_ = position;
    showPosition();
}

void Form1LinkHost::showPosition() { form_.PB1->setValue(std::clamp(position_, 0, form_.PB1->maximum())); }

void Form1LinkHost::showNotice(const qm730::Notice& notice) { MessageBox::show(noticeParent_, notice); }

void Form1LinkHost::enableWrite(bool enabled) { form_.Write2->setEnabled(enabled); }

void Form1LinkHost::processEvents() { QCoreApplication::processEvents(); }

void Form1LinkHost::DelayMs(int milliseconds) { Form2Pump().DelayMs(milliseconds); }
