// The tests' host of an operation on the line: it keeps what the operation
// told it (statuses, ranges, the last position, boxes, steps, log lines,
// the Write command, pauses) for the tests to check. On a virtual clock
// (memory_line.h) its pauses move the clock instead of sleeping; without one
// it sleeps as a program would. As a window would, it may take turns while
// the line waits, and hooks let a test act at a status or a turn.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/link/operation_host.h"
#include "memory_line.h"

namespace qm730::test {

class RecordingHost : public OperationHost {
public:
    explicit RecordingHost(VirtualClock* clock = nullptr) : clock_(clock) {}

    void setStatus(const std::string& text) override {
        if (recording) {
            statuses.push_back(text);
            positionAtStatus.push_back(position);
        }
        if (onStatus) onStatus(text);
    }
    void setProgressRange(int minimum, int maximum) override {
        range = {minimum, maximum};
        if (recording) maxima.push_back(maximum);
    }
    void setProgress(int value) override { position = value; }
    void showNotice(const Notice& notice) override {
        if (recording) notices.push_back(notice);
    }
    void note(const std::string& step) override {
        if (recording) notes.push_back(step);
    }
    void logLine(const std::string& line) override {
        if (recording) log.push_back(line);
    }
    void enableWrite(bool enabled) override {
        if (recording) writeEnabled.push_back(enabled);
    }

    bool pumpsEvents() const override { return pumps; }
    void processEvents() override {
        ++events;
        if (onEvents) onEvents();
    }
    void delay(std::chrono::milliseconds duration) override {
        if (recording) delays.push_back(static_cast<int>(duration.count()));
        pause(duration);
    }
    void pause(std::chrono::milliseconds duration) override {
        if (clock_) clock_->now += duration;
        else std::this_thread::sleep_for(duration);
    }
    Clock::time_point now() override { return clock_ ? clock_->now : Clock::now(); }

    std::vector<std::string> noticeTexts() const {
        std::vector<std::string> texts;
        for (const Notice& notice : notices) texts.push_back(notice.text);
        return texts;
    }
    const std::string& status() const {
        static const std::string none;
        return statuses.empty() ? none : statuses.back();
    }

    // False for a long run judged by its outcome alone: nothing is kept.
    bool recording = true;
    std::vector<std::string> statuses;
    std::vector<int> positionAtStatus;  // the bar's position as each status came
    std::pair<int, int> range{0, 100};
    std::vector<int> maxima;
    int position = -1;
    std::vector<Notice> notices;
    std::vector<std::string> notes;
    std::vector<std::string> log;
    std::vector<bool> writeEnabled;
    std::vector<int> delays;  // the fixed pauses, in ms
    int events = 0;           // turns taken while the line waited
    bool pumps = false;       // takes turns, as a window does
    std::function<void(const std::string&)> onStatus;
    std::function<void()> onEvents;

private:
    VirtualClock* clock_;
};

}  // namespace qm730::test
