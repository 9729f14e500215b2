// Transfer and Read: the configuration to and from the board, through the
// transfer dialog.
#include "gui/mainwindow/unit1.h"
#include "gui/windows/form2.h"

// The pending edit and the pages on show go into the image first, so the
// board gets exactly what the operator sees. A page that cannot be stored
// (its box has been shown) stops the command: nothing half-stored is sent.
void TForm1::Write1Click(QObject*) {
    moveFocusToSink();
    if (!storeCapcodePage(config_.capcodePage)) return;
    storeMessagePage(config_.messagePage);
    loadAlarmPage();
    config_.direction = qm730::TransferDirection::Send;
    if (windows_.form2) windows_.form2->exec();
}

// The views show the image afterwards whatever happened: a failed read leaves
// the image as it was.
void TForm1::Test1Click(QObject*) {
    config_.direction = qm730::TransferDirection::Read;
    if (windows_.form2) windows_.form2->exec();
    loadCapcodePage(config_.capcodePage);
    loadMessagePage(config_.messagePage);
    loadAlarmPage();
    loadConfigView();
}
