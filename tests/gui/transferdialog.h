// Running the transfer dialog from a test: it is modal and waits for OK once
// its operation has ended.
#pragma once

#include <QTimer>

#include "gui/windows/form2.h"

// Presses OK as soon as the operation has ended, so a modal showing returns.
inline void pressOkWhenDone(TForm2* dialog) {
    auto* timer = new QTimer(dialog);
    QObject::connect(timer, &QTimer::timeout, dialog, [dialog, timer] {
        if (!dialog->Button1->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        dialog->Button1->click();
    });
    timer->start(10);
}
