// The connection dialog: probes the board's flash loader until it answers or
// the operator cancels.
#pragma once

#include <QDialog>

class TfrmConn : public QDialog {
    Q_OBJECT

public:
    explicit TfrmConn(QWidget* parent = nullptr);
};
