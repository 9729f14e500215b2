// What the board link and the firmware write need of the window around them,
// kept small so the windowed program and the command-line tool run the very
// same sequence: the status panel, the progress bar, message boxes, the
// Write command, and waiting while the windows stay responsive.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "core/config/notice.h"

namespace qm730 {

class LinkHost {
public:
    virtual ~LinkHost() = default;

    // The second panel of the status bar: " Verify ......", " Ready", ...
    virtual void setStatus(const std::string& text) = 0;
    // The progress bar. Positions beyond the maximum show as a full bar.
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressPosition(int position) = 0;
    // A modal message box (or a line on the terminal).
    virtual void showNotice(const Notice& notice) = 0;
    // Each step that went as it should, in words ("board check accepted",
    // "block 3 (D1800) written, 4 of 12"), for a verbose log. How a run
    // failed is told by its outcome, not here.
    virtual void note(const std::string& /*step*/) {}
    // The Write command: disabled while a write runs.
    virtual void enableWrite(bool enabled) = 0;

    // True when there are window messages to process while the line is
    // waited on; the waits are then cut into short slices with
    // processEvents() between them. A program without windows says false
    // and each wait is one blocking wait on the device.
    virtual bool pumpsEvents() const { return false; }
    virtual void processEvents() {}
    // A fixed pause (the erase pauses): at least this long; a windowed
    // program keeps its windows responsive meanwhile.
    virtual void DelayMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
};

}  // namespace qm730
