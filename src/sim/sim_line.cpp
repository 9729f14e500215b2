#include "sim/sim_line.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace qm730::sim {

namespace {

using namespace std::chrono_literals;

// A UART hands bytes over in FIFO-sized pieces, both ways.
constexpr std::size_t kFifo = 16;
// Beyond this many queued bytes the board has stopped listening (it is busy
// sending to a program that does not read); the rest waits in the kernel.
constexpr std::size_t kQueueLimit = 65536;
// How long one wait for room to write lasts before the write is tried again.
constexpr auto kWriteRetry = 250ms;
// After a program starts an exchange, bytes the kernel still hands over
// within this time are taken to be the tail of the program before.
constexpr auto kCatchUp = 250ms;

[[noreturn]] void throwSystem(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

timespec timeUntil(SimLine::Clock::time_point until, SimLine::Clock::time_point now) {
    const auto left = std::max(std::chrono::nanoseconds::zero(),
                               std::chrono::duration_cast<std::chrono::nanoseconds>(until - now));
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((left - seconds).count())};
}

void setPacketMode(int fd, int on) {
    if (::ioctl(fd, TIOCPKT, &on) != 0) throwSystem("packet mode on the line");
}

}  // namespace

SimLine::SimLine(int lineFd, int wakeFd, bool pace) : fd_(lineFd), wake_(wakeFd), pace_(pace) {
    setPacketMode(fd_, 1);
}

SimLine::~SimLine() {
    // The descriptor is the caller's: leave it as it was given.
    int off = 0;
    ::ioctl(fd_, TIOCPKT, &off);
}

std::size_t SimLine::receive(std::uint8_t* data, std::size_t capacity, std::chrono::milliseconds patience) {
    const auto deadline = Clock::now() + patience;
    for (;;) {
        takeWaiting();
        const auto now = Clock::now();
        std::size_t count = 0;
        while (count < capacity && !queue_.empty() && queue_.front().at <= now) {
            data[count++] = queue_.front().byte;
            queue_.pop_front();
        }
        if (count > 0) return count;
        if (now >= deadline) return 0;
        // Wake when a FIFO's worth has arrived, or all of fewer.
        const std::size_t batch = std::min(queue_.size(), kFifo);
        waitUntil(batch == 0 ? deadline : std::min(deadline, queue_[batch - 1].at));
    }
}

void SimLine::send(const std::uint8_t* data, std::size_t count) {
    while (count > 0) {
        const std::size_t chunk = pace_ ? std::min(count, kFifo) : count;
        if (pace_) {
            // The chunk reaches the program once its last bit is on the wire.
            outputFreeAt_ = std::max(outputFreeAt_, Clock::now()) + kByteTime * chunk;
            while (Clock::now() < outputFreeAt_) waitUntil(outputFreeAt_);
        }
        writeAll(data, chunk);
        data += chunk;
        count -= chunk;
    }
}

bool SimLine::pause(std::chrono::milliseconds duration, const std::atomic<bool>* cut) {
    // Looked at this often while the pause lasts.
    constexpr auto kCutPoll = 20ms;
    const auto until = Clock::now() + duration;
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
        if (cut && cut->load()) return false;
        waitUntil(cut ? std::min(until, now + kCutPoll) : until);
    }
    return true;
}

void SimLine::writeAll(const std::uint8_t* data, std::size_t count) {
    while (count > 0) {
        takeWaiting();
        const ssize_t put = ::write(fd_, data, count);
        if (put > 0) {
            data += put;
            count -= static_cast<std::size_t>(put);
        } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
            throwSystem("write to line");
        } else {
            waitUntil(Clock::now() + kWriteRetry, true);
        }
    }
}

bool SimLine::takeWaiting() {
    // In packet mode every read starts with a status byte: zero when data
    // follows, otherwise flags of what the program did to its side.
    std::uint8_t packet[4097];
    while (queue_.size() < kQueueLimit && allowance_ > 0) {
        const std::size_t room = std::min(kQueueLimit - queue_.size(), allowance_);
        const ssize_t got = ::read(fd_, packet, std::min(sizeof packet, room + 1));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) return true;
        if (got <= 0) return false;
        const auto now = Clock::now();
        if (packet[0] == TIOCPKT_DATA) {
            take(packet + 1, static_cast<std::size_t>(got - 1), now);
            if (allowance_ != SIZE_MAX) allowance_ -= static_cast<std::size_t>(got - 1);
        } else if (packet[0] & (TIOCPKT_FLUSHWRITE | TIOCPKT_FLUSHREAD)) {
            // A program starts an exchange: what came before is on the wire.
            // Only when some of it was still on its way is what the kernel
            // hands over next that tail too; after a quiet wire (the board
            // link purges before every frame) the next bytes are the new
            // program's own and take their time on the wire.
            if (inputFreeAt_ > now) catchUpUntil_ = now + kCatchUp;
            arriveAll(now);
        }
    }
    return true;
}

void SimLine::take(const std::uint8_t* data, std::size_t count, Clock::time_point now) {
    const bool paced = pace_ && now >= catchUpUntil_;
    for (std::size_t i = 0; i < count; ++i) {
        if (paced) inputFreeAt_ = std::max(inputFreeAt_, now) + kByteTime;
        queue_.push_back({data[i], paced ? inputFreeAt_ : now});
    }
}

void SimLine::arriveAll(Clock::time_point now) {
    for (Arrival& arrival : queue_) arrival.at = std::min(arrival.at, now);
    inputFreeAt_ = std::min(inputFreeAt_, now);
}

void SimLine::waitUntil(Clock::time_point until, bool forWriting) {
    auto now = Clock::now();
    if (now >= until) return;
    const bool taking = queue_.size() < kQueueLimit && allowance_ > 0;
    const short events = static_cast<short>((taking ? POLLIN : 0) | (forWriting ? POLLOUT : 0));
    pollfd fds[2] = {{wake_, POLLIN, 0}, {events != 0 ? fd_ : -1, events, 0}};
    timespec timeout = timeUntil(until, now);
    int ready = ::ppoll(fds, 2, &timeout, nullptr);
    if (ready < 0 && errno != EINTR) throwSystem("poll");
    if (ready > 0 && fds[0].revents) throw LineStopped{};
    if (ready <= 0 || (fds[1].revents & POLLOUT) || takeWaiting()) return;
    // The line reports an end or an error and nothing to read: wait out the
    // time on the stop signal alone rather than spin on the line.
    now = Clock::now();
    timeout = timeUntil(until, now);
    ready = ::ppoll(fds, 1, &timeout, nullptr);
    if (ready > 0 && fds[0].revents) throw LineStopped{};
}

}  // namespace qm730::sim
