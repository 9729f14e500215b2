// An operation on the line as qm730ctl shows it on the terminal, for send,
// read, verify, flash, backup and probe: the bar labelled with what is being
// done, the steps with --verbose. Message boxes are not echoed: the outcome
// of the run says what went wrong, in one line, once it is over. Waits block
// on the device (no windows to serve) and the fixed pauses sleep.
#pragma once

#include <string>
#include <vector>

#include "cli/console.h"
#include "core/link/operation_host.h"

namespace qm730::cli {

// How a status text of an operation shows on the terminal.
struct StatusLabel {
    std::string status;  // as the operation sets it (" Write ......")
    std::string label;   // the bar's label ("writing")
    // Added to every position while this status holds: a read of the
    // configuration reports the index of the byte stored last, one short of
    // a count.
    int positionOffset = 0;
};

class ConsoleHost : public OperationHost {
public:
    // `labels` come before the usual ones: the backup's read of the flash
    // is no read-back.
    explicit ConsoleHost(Console& console, std::vector<StatusLabel> labels = {});

    // Statuses without a label (" Ready", " Error") leave the bar as it is:
    // what it shows once the run is over is the caller's to decide.
    void setStatus(const std::string& text) override;
    void setProgressRange(int minimum, int maximum) override { console_.setRange(minimum, maximum); }
    void setProgress(int position) override { console_.setPosition(position + offset_); }
    void showNotice(const Notice&) override {}
    void note(const std::string& step) override { console_.step(step); }

private:
    Console& console_;
    std::vector<StatusLabel> labels_;
    int offset_ = 0;
};

}  // namespace qm730::cli
