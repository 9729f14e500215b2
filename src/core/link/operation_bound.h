// How long one exchange with the board may take as a whole. Every wait for a
// byte has its own window, but a board that keeps talking far slower than the
// line (a byte every second or two, inside every window) would keep a read
// going for hours. An operation is therefore given twice the time its bytes
// take on the line, both ways, plus its own deliberate pauses, and half a
// minute more for a busy machine; then it is given up as far too slow.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace qm730 {

// Added to twice the wire time: a loaded machine, a board that takes its
// time over an erase or a late answer are no reason to give up.
inline constexpr std::chrono::seconds kOperationMargin{30};

// The time the bytes take on the line at the given rate, 11 bits each
// (start, 8 data, 2 stop), rounded up to the millisecond.
std::chrono::milliseconds lineTime(std::uint64_t bytes, std::uint32_t baudRate = 19200);

// What the line and the protocol's pauses account for, and the limit that
// follows from it: twice that, plus the margin.
struct WireTime {
    std::uint64_t bytes = 0;              // on the line, both ways
    std::chrono::milliseconds pauses{0};  // the protocol's own idle time
    std::chrono::milliseconds duration() const { return lineTime(bytes) + pauses; }
    std::chrono::milliseconds limit() const { return 2 * duration() + kOperationMargin; }
};

// The deadline of one operation, on the clock the operation waits by.
class OperationBound {
public:
    using Clock = std::chrono::steady_clock;

    // Not started: never passes.
    OperationBound() = default;
    void start(Clock::time_point now, std::chrono::milliseconds limit);
    // More work the operation took on (a block read again).
    void extend(std::chrono::milliseconds more);
    void stop() { started_.reset(); }

    bool running() const { return started_.has_value(); }
    bool passed(Clock::time_point now) const { return running() && now >= deadline_; }
    Clock::time_point deadline() const { return deadline_; }
    // A wait of `wanted` cut short at the deadline; never negative.
    std::chrono::milliseconds clip(std::chrono::milliseconds wanted, Clock::time_point now) const;
    std::chrono::milliseconds elapsed(Clock::time_point now) const;

private:
    std::optional<Clock::time_point> started_;
    Clock::time_point deadline_{};
};

// The one line of an operation given up: "the board sent 812 of 8846 bytes
// in 45 s: far slower than the line". `who` names what moved the bytes and
// how ("the board sent", "the port sent").
std::string farSlowerText(const std::string& who, std::uint64_t done, std::uint64_t expected,
                          std::chrono::milliseconds elapsed);

}  // namespace qm730
