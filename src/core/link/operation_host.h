// What an operation on the line needs of the program around it, the same for
// the configuration transfer, the board link and the firmware write, so that
// the windowed program, the command-line tool and the tests each provide it
// once: the status text, the progress bar, message boxes, the steps of a
// verbose log, turns for the windows while the line is waited on, the fixed
// pauses and the clock.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "core/config/notice.h"
#include "core/link/serial_line.h"

namespace qm730 {

class OperationHost : public WaitPump {
public:
    using Clock = std::chrono::steady_clock;

    // The status text: the transfer dialog's label, the status bar's second
    // panel (" Verify ......", " Ready"), a terminal's bar. Painted at once:
    // the board may answer before the next wait gives the windows a turn.
    virtual void setStatus(const std::string& text) = 0;
    // The progress bar. Positions beyond the maximum show as a full bar.
    virtual void setProgressRange(int minimum, int maximum) = 0;
    virtual void setProgress(int position) = 0;
    // Shows what has changed now, where an operation moves on without
    // waiting (a download reads chunk after chunk): at most once a frame.
    virtual void refresh() {}
    // A modal message box (or nothing: a terminal is told the outcome once,
    // at the end).
    virtual void showNotice(const Notice& notice) = 0;
    // Each step that went as it should, in words ("logon answered \"ID=\"",
    // "block 3 (D1800) written, 4 of 12"), for a verbose log. How a run
    // failed is told by its outcome, not here.
    virtual void note(const std::string& /*step*/) {}
    // The transfer dialog's log ("+++ID= OK").
    virtual void logLine(const std::string& /*line*/) {}
    // The Write command: disabled while a firmware write runs.
    virtual void enableWrite(bool /*enabled*/) {}

    // pumpsEvents() and processEvents() (WaitPump): a program with windows
    // serves them while the line is waited on.

    // A fixed pause of the protocol: at least this long; a windowed program
    // keeps its windows responsive meanwhile.
    virtual void delay(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }
    // A short pause that serves nothing (the rest of an answer settling).
    virtual void pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }
    virtual Clock::time_point now() { return Clock::now(); }
};

// While it lives, the line gives the host its turns whenever it blocks.
class HostedWaits {
public:
    HostedWaits(SerialLine& line, OperationHost& host) : line_(line), previous_(line.pump()) { line.setPump(&host); }
    ~HostedWaits() { line_.setPump(previous_); }
    HostedWaits(const HostedWaits&) = delete;
    HostedWaits& operator=(const HostedWaits&) = delete;

private:
    SerialLine& line_;
    WaitPump* previous_;
};

}  // namespace qm730
