// A scripted board on a line in memory, for running the transfer without a
// device: answers arrive at chosen times, waits advance the clock instead of
// sleeping, and everything written is kept with the time it was written.
// A Session runs the transfer against it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/config/notice.h"
#include "core/link/transfer_io.h"
#include "core/link/transfer_protocol.h"
#include "memory_line.h"

namespace qm730::test {

using namespace std::chrono_literals;

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
    MemoryLine line{clock};
    FakePump pump{clock};
    FakeDisplay display;
    ConfigImage image = defaultImage();
    ConfigTransfer transfer{image, line, pump, display};

    Session(std::vector<Piece> logon, std::vector<Piece> service) {
        line.onWrite = [logon = std::move(logon), service = std::move(service)](MemoryLine& p, std::span<const std::uint8_t>) {
            const std::size_t written = p.allWritten().size();
            if (written == 1)
                for (const auto& piece : logon) p.deliver(piece.data, piece.after);
            if (written == kLogonBytes && p.writes.size() == kLogonBytes)
                for (const auto& piece : service) p.deliver(piece.data, piece.after);
        };
    }
};

}  // namespace qm730::test
