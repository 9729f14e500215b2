// What the configuration transfer needs of its surroundings besides its line,
// kept small so the windowed program and the command-line tool run the very
// same transfer: a pump that waits, and a display to report to.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "core/config/notice.h"

namespace qm730 {

// Waiting and the clock. DelayMs is the protocol's fixed delay: the windowed
// program keeps its windows responsive meanwhile, the command-line tool just
// sleeps. pause() is a short wait that processes nothing.
class TransferPump {
public:
    using Clock = std::chrono::steady_clock;
    virtual ~TransferPump() = default;
    virtual void DelayMs(int milliseconds) = 0;
    virtual Clock::time_point now() { return Clock::now(); }
    virtual void pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }
};

// A pump for programs without windows.
class SleepingPump : public TransferPump {
public:
    void DelayMs(int milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
};

// The transfer dialog as the transfer sees it: the status label `lblMsg`, the
// progress bar `PB1`, repainting, the log memo `memTAP_C` and message boxes.
class TransferDisplay {
public:
    virtual ~TransferDisplay() = default;
    virtual void setStatus(const std::string& text) = 0;
    virtual void setProgressRange(int minimum, int maximum) = 0;
    virtual void setProgress(int position) = 0;
    virtual void repaint() = 0;
    virtual void logLine(const std::string& line) = 0;
    virtual void showNotice(const Notice& notice) = 0;
    // Each step of the exchange that went as it should, in words ("logon
    // answered \"ID=\"", "block 3 of 120 sent"), for a verbose log. Failures
    // are told by ConfigTransfer::failureReason(), not here.
    virtual void note(const std::string& /*step*/) {}
};

}  // namespace qm730
