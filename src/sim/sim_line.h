// The board's end of the serial line: the master side of a pseudo-terminal.
//
// Bytes are taken off the pseudo-terminal as soon as they come and kept in
// the line's own queue. Bytes still in the kernel are not safe: when the next
// program discards its output at the start of its exchange, the
// pseudo-terminal discards with it whatever the program before wrote and the
// kernel has not handed over yet, bytes that a real line would have
// delivered long before. Taking them at once keeps that time short; the
// kernel hands them over in pieces of about 4 KB, so on a loaded machine it
// cannot be made nil from this side.
//
// Paced, the line is a 19200 baud wire with 11 bits a byte: each byte reaches
// the board when its last bit would have arrived, and the board's own bytes
// go out at the same rate. A pseudo-terminal takes a program's output at once
// and reports it as sent, so a program may end while its last bytes are
// still on their way. When the next program discards its input or output,
// everything queued counts as arrived, and if some of it was still on its
// way, so does what the kernel hands over shortly after: as on a real line,
// where the program before waited for its output to leave, the board has it
// all and handles it before anything the new program sends. A program that
// discards its input before each frame of its own (the board link does) finds
// a quiet wire, and its frame is paced like any other bytes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace qm730::sim {

// Thrown out of every wait when the board is told to stop.
struct LineStopped {};

class SimLine {
public:
    using Clock = std::chrono::steady_clock;

    // One byte at 19200 baud with start bit, 8 data bits and two stop bits.
    static constexpr std::chrono::nanoseconds kByteTime{11'000'000'000 / 19200};

    // lineFd: the master side of a pseudo-terminal, non-blocking; the line
    // puts it into packet mode to learn of the program's purges. wakeFd:
    // becomes readable when the board is to stop.
    SimLine(int lineFd, int wakeFd, bool pace);
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Hands over the bytes that have arrived, in order, waiting up to
    // `patience` for the first; returns how many (0 when none came in time).
    std::size_t receive(std::uint8_t* data, std::size_t capacity, std::chrono::milliseconds patience);

    // Sends the board's bytes, paced when asked, and keeps taking the
    // program's bytes off the line meanwhile.
    void send(const std::uint8_t* data, std::size_t count);

    // Lets the time pass, as a board busy with its flash does, while still
    // taking the program's bytes off the line; they are handed over later.
    // False when `cut` was set before the time was up (the pause ends early).
    bool pause(std::chrono::milliseconds duration, const std::atomic<bool>* cut = nullptr);

    // Bytes taken off the line that the board has not been handed yet.
    std::size_t queued() const { return queue_.size(); }

    // From now on takes at most this many more bytes off the line; the rest
    // stays in the kernel, as with a board that has stopped reading, so the
    // program's writes stall once the kernel's buffer is full.
    void allowTaking(std::size_t bytes) { allowance_ = bytes; }

private:
    struct Arrival {
        std::uint8_t byte;
        Clock::time_point at;  // when its last bit is on the board's side of the wire
    };

    // Takes everything waiting off the line; false when the line reports an
    // end or an error instead.
    bool takeWaiting();
    void take(const std::uint8_t* data, std::size_t count, Clock::time_point now);
    // Everything queued counts as arrived now.
    void arriveAll(Clock::time_point now);
    // Waits until the time or until the line has something (bytes taken off
    // it, or with forWriting room for more); callers look again and loop.
    void waitUntil(Clock::time_point until, bool forWriting = false);
    void writeAll(const std::uint8_t* data, std::size_t count);

    int fd_;
    int wake_;
    bool pace_;
    std::deque<Arrival> queue_;
    std::size_t allowance_ = SIZE_MAX;
    Clock::time_point inputFreeAt_{};   // when the last byte taken off the line arrives
    Clock::time_point outputFreeAt_{};  // when the board's last byte has left
    Clock::time_point catchUpUntil_{};  // bytes taken before this count as arrived at once
};

}  // namespace qm730::sim
