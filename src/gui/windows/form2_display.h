// The transfer as the operator sees it in the transfer dialog: its status
// label, progress bar and log memo, and message boxes over the dialog.
#pragma once

#include <QElapsedTimer>

#include "core/link/transfer_io.h"

class TForm2;

class Form2Display : public qm730::TransferDisplay {
public:
    explicit Form2Display(TForm2& dialog) : dialog_(dialog) {}

    void setStatus(const std::string& text) override;
    void setProgressRange(int minimum, int maximum) override;
    void setProgress(int position) override;
    // Paints what has changed, at most once a frame: the download asks after
    // every chunk it reads, far more often than a screen can show.
    void repaint() override;
    void logLine(const std::string& line) override;
    void showNotice(const qm730::Notice& notice) override;

private:
    TForm2& dialog_;
    QElapsedTimer sincePaint_;
};
