// The board link on a terminal, for qm730ctl flash and probe: the window the
// firmware write and the probe report to, as lines and a progress bar.
#pragma once

#include <string>

#include "cli/console.h"
#include "core/link/boardlink_host.h"

namespace qm730::cli {

// Waits block on the device (no windows to serve) and the fixed pauses
// sleep. Message boxes are not echoed: the outcome of the run says what
// went wrong, in one line, once it is over.
class ConsoleLinkHost : public LinkHost {
public:
    explicit ConsoleLinkHost(Console& console) : console_(console) {}

    void setStatus(const std::string& text) override;
    void setProgressMaximum(int maximum) override { console_.setRange(0, maximum); }
    void setProgressPosition(int position) override { console_.setPosition(position); }
    void showNotice(const Notice&) override {}
    void enableWrite(bool) override {}
    void note(const std::string& step) override { console_.step(step); }

private:
    Console& console_;
};

}  // namespace qm730::cli
