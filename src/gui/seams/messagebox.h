// The one way the program shows a message box. Tests switch it to scripted
// mode: then no box opens, every notice is recorded and answered from a queue,
// so no test ever waits on a modal window.
#pragma once

#include <memory>
#include <vector>

#include "core/config/notice.h"

class QMessageBox;
class QWidget;

class MessageBox {
public:
    // Shows the notice modally and returns the button the operator pressed
    // (closing the box counts as Cancel where there is one, else as OK).
    static qm730::NoticeAnswer show(QWidget* parent, const qm730::Notice& notice);
    // The box show() opens, built but not yet shown.
    static std::unique_ptr<QMessageBox> build(QWidget* parent, const qm730::Notice& notice);

    // --- Test seam ---------------------------------------------------------
    static void setScripted(bool scripted);
    static bool scripted();
    // Queues the answer for the next box; with an empty queue a box is
    // answered with its default button (OK, or Retry for Retry/Cancel).
    static void setNextAnswer(qm730::NoticeAnswer answer);
    static const std::vector<qm730::Notice>& shown();
    static void clearShown();  // forgets the record and the queued answers
};
