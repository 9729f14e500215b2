// A serial line in memory, as a programmer's dry run stands in for its
// device: what the program writes is kept with the time it was written, and
// what "the board" sends arrives at chosen times on a virtual clock that
// moves only while the program waits, so no exchange takes real time. The
// protocols run on it unchanged; the tests and the fuzz targets use it.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/link/serial_line.h"

namespace qm730::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

struct VirtualClock {
    SerialLine::Clock::time_point now{};
    std::chrono::milliseconds sinceStart() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    }
};

struct Written {
    std::chrono::milliseconds at;
    Bytes data;
};

class MemoryLine : public SerialLine {
public:
    explicit MemoryLine(VirtualClock& clock) : clock_(clock) {}

    // Called after every write with the bytes just written.
    std::function<void(MemoryLine&, std::span<const std::uint8_t>)> onWrite;
    int failWritesFrom = -1;  // index of the first write that fails
    // What the driver still holds for sending; 0 without.
    std::function<std::size_t()> unsent;
    // At most this many bytes have arrived at a time, as a UART hands its
    // input over in pieces; the rest follows as they are read (0: no limit).
    std::size_t piece = 0;
    // Once everything sent has been read, the line hangs up instead of
    // waiting out a time-out.
    bool hangsUpWhenDrained = false;

    // In time order, after whatever arrives at the same moment; a board that
    // sends a frame a byte at a time delivers thousands, so no sort each time.
    void deliver(const Bytes& data, std::chrono::milliseconds after) {
        const auto at = clock_.now + after;
        const auto later = std::upper_bound(arrivals_.begin(), arrivals_.end(), at,
                                            [](SerialLine::Clock::time_point t, const Arrival& a) { return t < a.at; });
        arrivals_.insert(later, {at, data});
    }
    Bytes allWritten() const {
        Bytes all;
        for (const auto& w : writes) all.insert(all.end(), w.data.begin(), w.data.end());
        return all;
    }

    void open(const std::string& device) override {
        opened = device;
        open_ = true;
    }
    void configure(const LineSettings& taken) override {
        requireOpen();
        settings = taken;
    }
    void close() override { open_ = false; }
    void abandon() noexcept override { open_ = false; }
    bool isOpen() const override { return open_; }

    void write(const std::uint8_t* data, std::size_t count) override {
        requireOpen();
        if (failWritesFrom >= 0 && static_cast<int>(writes.size()) >= failWritesFrom)
            throw SerialError(SerialStep::Write, EIO, "memory line: write failed");
        writes.push_back({clock_.sinceStart(), Bytes(data, data + count)});
        if (onWrite) onWrite(*this, std::span<const std::uint8_t>(data, count));
    }
    std::size_t bytesWaiting() override {
        requireOpen();
        return arrived();
    }
    std::size_t readAvailable(std::uint8_t* data, std::size_t count) override {
        requireOpen();
        hangUpIfDrained();
        const std::size_t n = std::min(count, arrived());
        std::copy_n(input_.begin(), n, data);
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
        taken += n;
        return n;
    }
    std::size_t bytesUnsent() override { return unsent ? unsent() : 0; }
    void purgeOutput() override {
        requireOpen();
        ++outputPurges;
    }
    // What has arrived is thrown away; what has not, arrives later.
    void purgeInput() override {
        requireOpen();
        const std::size_t count = arrived();
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(count));
        taken += count;
        ++inputPurges;
    }
    bool waitReadable(std::chrono::milliseconds timeout) override {
        requireOpen();
        hangUpIfDrained();
        if (arrived() > 0) return true;
        const auto limit = clock_.now + timeout;
        if (!arrivals_.empty() && arrivals_.front().at <= limit) {
            clock_.now = std::max(clock_.now, arrivals_.front().at);
            arrive();
            return true;
        }
        clock_.now = limit;
        return false;
    }

    std::string opened;       // the device last opened
    LineSettings settings{};  // as last configured
    std::vector<Written> writes;
    int inputPurges = 0;
    int outputPurges = 0;
    std::size_t taken = 0;  // bytes read or purged

private:
    struct Arrival {
        SerialLine::Clock::time_point at;
        Bytes data;
    };
    void requireOpen() const {
        if (!open_) throw SerialError(SerialStep::NotOpen, EBADF, "memory line: not open");
    }
    // What has arrived by now, as far as the line hands it over at once.
    std::size_t arrived() {
        arrive();
        return piece == 0 ? input_.size() : std::min(input_.size(), piece);
    }
    void arrive() {
        while (!arrivals_.empty() && arrivals_.front().at <= clock_.now) {
            input_.insert(input_.end(), arrivals_.front().data.begin(), arrivals_.front().data.end());
            arrivals_.pop_front();
        }
    }
    void hangUpIfDrained() {
        arrive();
        if (hangsUpWhenDrained && input_.empty() && arrivals_.empty()) throw lineHungUp(EIO, "memory line");
    }

    VirtualClock& clock_;
    bool open_ = true;  // a line handed to a protocol is open unless a test closes it
    std::deque<Arrival> arrivals_;
    std::deque<std::uint8_t> input_;
};

}  // namespace qm730::test
