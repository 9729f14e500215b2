// The main window as the board link sees it: the status bar's second panel,
// the progress bar PB1, message boxes, the Write command, and waits that keep
// every window responsive.
#pragma once

#include "core/link/boardlink_host.h"

class QWidget;
class TForm1;

class Form1LinkHost : public qm730::LinkHost {
public:
    // Boxes are shown over noticeParent: the main window during a write, the
    // connection dialog while it probes.
    Form1LinkHost(TForm1& form, QWidget* noticeParent);

    // A new step's text and scale are painted at once: the board may answer
    // before the next wait gives the windows a turn.
    void setStatus(const std::string& text) override;
    void setProgressMaximum(int maximum) override;
    // Positions past the maximum show a full bar.
    void setProgressPosition(int position) override;
    void showNotice(const qm730::Notice& notice) override;
    void enableWrite(bool enabled) override;

    bool pumpsEvents() const override { return true; }
    void processEvents() override;
    void DelayMs(int milliseconds) override;

private:
    void showPosition();

    TForm1& form_;
    QWidget* noticeParent_;
    int position_ = 0;
};
