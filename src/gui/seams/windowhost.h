// An operation on the line as the windows show it, the same for the transfer
// dialog, the firmware write and the connection check: a status label painted
// at once, a progress bar, message boxes over a chosen window, and where
// there is one the log memo and the Write command. While the line is waited
// on, every window is served in slices; the protocol's pauses run the event
// loop.
#pragma once

#include <QElapsedTimer>

#include <optional>

#include "core/link/operation_host.h"

class QAction;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QWidget;

struct HostWidgets {
    QLabel* status = nullptr;
    QProgressBar* progress = nullptr;
    QWidget* noticeParent = nullptr;  // boxes are shown over it
    QPlainTextEdit* log = nullptr;    // the transfer dialog's log memo
    QAction* write = nullptr;         // the Write command
};

class WindowHost : public qm730::OperationHost {
public:
    explicit WindowHost(const HostWidgets& widgets) : widgets_(widgets) {}

    void setStatus(const std::string& text) override;
    // The bar forgets a position outside its new range: the position the
    // operation has reached is shown again on the new scale.
    void setProgressRange(int minimum, int maximum) override;
    // Positions outside the range show as the nearer end.
    void setProgress(int position) override;
    // Paints what has changed, at most once a frame: a download moves the bar
    // after every chunk it reads, far more often than a screen can show.
    void refresh() override;
    void showNotice(const qm730::Notice& notice) override;
    void logLine(const std::string& line) override;
    void enableWrite(bool enabled) override;

    bool pumpsEvents() const override { return true; }
    void processEvents() override;
    // Returns after at least the given time; meanwhile every pending event
    // is delivered as it comes, without spinning a core.
    void delay(std::chrono::milliseconds duration) override;

private:
    void showPosition();

    HostWidgets widgets_;
    std::optional<int> position_;  // as the operation has set it
    QElapsedTimer sincePaint_;
};
