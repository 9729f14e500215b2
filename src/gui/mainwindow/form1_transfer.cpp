// Transfer and Read: the configuration to and from the board, through the
// transfer dialog.
#include "gui/mainwindow/unit1.h"
#include "gui/windows/form2.h"

// The pending edit and the pages on show go into the image first, so the
// board gets exactly what the operator sees. A page that cannot be stored
// (its box has been shown) stops the command: nothing half-stored is sent.
// Both wait while a firmware write or a connection check holds the board's port.
void TForm1::Write1Click(QObject*) {
    if (portInUse()) return;
    moveFocusToSink();
    if (!storeCapcodePage(capcodePage_)) return;
    storeMessagePage(messagePage_);
    loadAlarmPage();
    if (windows_.form2) windows_.form2->execTransfer(TransferDirection::Send, selectedPortName());
}

// The views show the image afterwards whatever happened: a failed read leaves
// the image as it was.
void TForm1::Test1Click(QObject*) {
    if (portInUse()) return;
    if (windows_.form2) windows_.form2->execTransfer(TransferDirection::Read, selectedPortName());
    loadCapcodePage(capcodePage_);
    loadMessagePage(messagePage_);
    loadAlarmPage();
    loadConfigView();
}
