// A scripted board on a virtual clock, for running the transfer without a
// device: answers arrive at chosen times, waits advance the clock instead of
// sleeping, and everything written is kept with the time it was written.
// A Session runs the transfer against it.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/config/notice.h"
#include "core/link/serial_port.h"
#include "core/link/transfer_io.h"
#include "core/link/transfer_protocol.h"

namespace qm730::test {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

struct VirtualClock {
    TransferPump::Clock::time_point now{};
    std::chrono::milliseconds sinceStart() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    }
};

class FakePump : public TransferPump {
public:
    explicit FakePump(VirtualClock& clock) : clock_(clock) {}
    void DelayMs(int ms) override {
        delays.push_back(ms);
        clock_.now += std::chrono::milliseconds(ms);
    }
    Clock::time_point now() override { return clock_.now; }
    void pause(std::chrono::milliseconds d) override { clock_.now += d; }
    std::vector<int> delays;

private:
    VirtualClock& clock_;
};

struct Written {
    std::chrono::milliseconds at;
    Bytes data;
};

class FakePort : public TransferPort {
public:
    explicit FakePort(VirtualClock& clock) : clock_(clock) {}

    // Called after every write with everything written so far.
    std::function<void(FakePort&)> onWrite;
    int failWritesFrom = -1;  // index of the first write that fails
    // What the driver still holds for sending, asked after the last block.
    std::function<std::size_t()> unsent;

    void deliver(const Bytes& data, std::chrono::milliseconds after) {
        arrivals_.push_back({clock_.now + after, data});
    }
    Bytes allWritten() const {
        Bytes all;
        for (const auto& w : writes) all.insert(all.end(), w.data.begin(), w.data.end());
        return all;
    }

    void write(const std::uint8_t* data, std::size_t count) override {
        if (failWritesFrom >= 0 && static_cast<int>(writes.size()) >= failWritesFrom)
            throw SerialError(SerialStep::Write, EIO, "fake: write failed");
        writes.push_back({clock_.sinceStart(), Bytes(data, data + count)});
        if (onWrite) onWrite(*this);
    }
    std::size_t bytesWaiting() override {
        arrive();
        return input_.size();
    }
    std::size_t read(std::uint8_t* data, std::size_t count) override {
        arrive();
        std::size_t n = 0;
        while (n < count && !input_.empty()) {
            data[n++] = input_.front();
            input_.pop_front();
        }
        return n;
    }
    std::size_t bytesUnsent() override { return unsent ? unsent() : 0; }
    void purgeOutput() override { ++outputPurges; }
    void purgeInput() override {
        arrive();
        input_.clear();
        ++inputPurges;
    }
    bool waitReadable(std::chrono::milliseconds timeout) override {
        arrive();
        if (!input_.empty()) return true;
        const auto limit = clock_.now + timeout;
        for (const auto& a : arrivals_) {
            if (a.at <= limit) {
                clock_.now = a.at;
                arrive();
                return true;
            }
        }
        clock_.now = limit;
        return false;
    }

    std::vector<Written> writes;
    int inputPurges = 0;
    int outputPurges = 0;

private:
    struct Arrival {
        TransferPump::Clock::time_point at;
        Bytes data;
    };
    void arrive() {
        while (!arrivals_.empty() && arrivals_.front().at <= clock_.now) {
            input_.insert(input_.end(), arrivals_.front().data.begin(), arrivals_.front().data.end());
            arrivals_.pop_front();
        }
    }
    VirtualClock& clock_;
    std::deque<Arrival> arrivals_;
    std::deque<std::uint8_t> input_;
};

class FakeDisplay : public TransferDisplay {
public:
    void setStatus(const std::string& text) override { status = text; }
    void setProgressRange(int minimum, int maximum) override { range = {minimum, maximum}; }
    void setProgress(int position) override { positions.push_back(position); }
    void repaint() override {}
    void logLine(const std::string& line) override { log.push_back(line); }
    void showNotice(const Notice& notice) override { notices.push_back(notice); }
    void note(const std::string& step) override { notes.push_back(step); }

    std::string status;
    std::pair<int, int> range{0, 100};
    std::vector<int> positions;
    std::vector<std::string> log;
    std::vector<Notice> notices;
    std::vector<std::string> notes;
};

// One answer from the board: the bytes and when they arrive.
struct Piece {
    Bytes data;
    std::chrono::milliseconds after;
};

inline std::vector<Piece> answer(Bytes data) { return {{std::move(data), 1ms}}; }

const Bytes kGoAheadAnswer = {0x06, 0x0D, 0x1B, '[', 'p', 0x0D};
constexpr std::size_t kLogonBytes = 6;  // CR, then ESC P G d CR

// A transfer against a board that answers the logon CR and then the service
// request with the given pieces.
struct Session {
    VirtualClock clock;
    FakePort port{clock};
    FakePump pump{clock};
    FakeDisplay display;
    ConfigImage image = defaultImage();
    ConfigTransfer transfer{image, port, pump, display};

    Session(std::vector<Piece> logon, std::vector<Piece> service) {
        port.onWrite = [logon = std::move(logon), service = std::move(service)](FakePort& p) {
            const std::size_t written = p.allWritten().size();
            if (written == 1)
                for (const auto& piece : logon) p.deliver(piece.data, piece.after);
            if (written == kLogonBytes && p.writes.size() == kLogonBytes)
                for (const auto& piece : service) p.deliver(piece.data, piece.after);
        };
    }
};

}  // namespace qm730::test
