#include "gui/windows/conn.h"

TfrmConn::TfrmConn(QWidget* parent) : QDialog(parent) {
    setObjectName("frmConn");
    setWindowTitle("Connection");
    setFixedSize(380, 158);
}
