// qm730linerelay: the wire between a virtual machine's serial port and the
// simulated board, carried at the board's line speed both ways.
//
//   qm730linerelay --board DEVICE [--status FILE] [--socket-buffer BYTES] --
//       qemu-system-x86_64 ... -chardev socket,id=line,fd=3 ...
//
// QEMU hands a guest UART's bytes to its character device as fast as the
// guest writes them; only when that device takes no more does the emulated
// transmitter stay full, so that the guest's driver fills its queue and
// waits as on a real port. So the relay starts QEMU itself, with the line on
// descriptor 3, one end of a socket pair, and sizes that end's send buffer.
// The kernel counts each packet at its full size: the 16550A writes one byte
// at a time, and the default buffer holds about 280 of them; the FTDI
// adapter writes whole USB packets, and the smallest buffer (--socket-buffer
// 1) holds about a KiB of them, where the default would hold the whole
// upload. Too small a buffer lets the line go idle whenever the guest is
// slow to refill it (with 6 bytes of the 16550A's the upload took 9% longer).
// The relay takes the guest's bytes off its own end only as fast as a wire
// at BAUD carries them, 11 bits a byte, and hands the board's bytes to the
// guest at the same rate. A byte reaches the far side when its last bit
// would have.
//
// It keeps a status file with three numbers, rewritten as they change: the
// bytes delivered to the board, the bytes delivered to the guest, and the
// most bytes ever seen waiting in the socket, bytes the guest's driver
// already counts as sent. At the end it also tells the most of the board's
// bytes that waited for QEMU to take them (a guest slow to read its input).
// It ends with QEMU's exit status when QEMU ends; SIGINT and SIGTERM are
// passed on to QEMU.
#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

volatile sig_atomic_t stopSignal = 0;
volatile sig_atomic_t childEnded = 0;
extern "C" void noteStop(int sig) { stopSignal = sig; }
extern "C" void noteChild(int) { childEnded = 1; }

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "qm730linerelay: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

std::size_t bytesWaitingIn(int fd) {
    int waiting = 0;
    return ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0 ? static_cast<std::size_t>(waiting) : 0;
}

// One direction of the wire. A byte is taken off `from` when the wire is
// free, is on the wire for one byte time, and is written to `to` when its
// last bit has arrived. While bytes keep waiting the wire never rests, so a
// late wake-up takes the bytes that were due meanwhile.
class Direction {
public:
    Direction(int from, int to, nanoseconds byteTime) : from_(from), to_(to), byteTime_(byteTime) {}

    // Takes the bytes whose turn has come; false when `from` has closed.
    bool take(Clock::time_point now) {
        for (;;) {
            const Clock::time_point start = moving_ ? freeAt_ : std::max(now, freeAt_);
            if (start > now) return true;
            std::uint8_t byte = 0;
            const ssize_t got = ::read(from_, &byte, 1);
            if (got == 0) return false;
            if (got < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN) {
                    moving_ = false;
                    return true;
                }
                return false;
            }
            freeAt_ = start + byteTime_;
            onWire_.push_back({byte, freeAt_});
            const std::size_t waiting = bytesWaitingIn(from_);
            mostWaiting_ = std::max(mostWaiting_, waiting);
            moving_ = waiting > 0;
        }
    }

    // Writes the bytes that have arrived; false when `to` has closed.
    bool deliver(Clock::time_point now) {
        while (!onWire_.empty() && onWire_.front().arrives <= now) {
            const ssize_t put = ::write(to_, &onWire_.front().byte, 1);
            if (put < 0 && errno == EINTR) continue;
            if (put < 0 && errno == EAGAIN) return blocked_ = true;
            if (put <= 0) return false;
            onWire_.pop_front();
            ++delivered_;
        }
        blocked_ = false;
        return true;
    }

    // What to wait for: readable input once the wire is free, room on the
    // far side when it was full.
    short inputEvents(Clock::time_point now) const { return freeAt_ <= now ? POLLIN : 0; }
    short outputEvents() const { return blocked_ ? POLLOUT : 0; }
    // The next moment something is due without any event.
    Clock::time_point nextDue(Clock::time_point now) const {
        Clock::time_point due = Clock::time_point::max();
        if (freeAt_ > now) due = freeAt_;
        if (!onWire_.empty() && !blocked_) due = std::min(due, onWire_.front().arrives);
        return due;
    }

    std::uint64_t delivered() const { return delivered_; }
    std::size_t mostWaiting() const { return mostWaiting_; }

private:
    struct Byte {
        std::uint8_t byte;
        Clock::time_point arrives;
    };
    int from_;
    int to_;
    nanoseconds byteTime_;
    Clock::time_point freeAt_{};
    bool moving_ = false;  // bytes were waiting when the last one was taken
    bool blocked_ = false;
    std::deque<Byte> onWire_;
    std::uint64_t delivered_ = 0;
    std::size_t mostWaiting_ = 0;
};

// The board's end is a pseudo-terminal: raw, so every byte passes as it is.
int openBoard(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) die("open " + device);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) die("tcgetattr " + device);
    ::cfmakeraw(&tio);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) die("tcsetattr " + device);
    return fd;
}

class StatusFile {
public:
    explicit StatusFile(const std::string& path) {
        if (path.empty()) return;
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) die("open " + path);
    }
    void write(std::uint64_t toBoard, std::uint64_t toGuest, std::size_t mostWaiting) {
        if (fd_ < 0 || (toBoard == toBoard_ && toGuest == toGuest_ && mostWaiting == mostWaiting_)) return;
        toBoard_ = toBoard, toGuest_ = toGuest, mostWaiting_ = mostWaiting;
        char line[80];
        // Fixed width, so a reader never sees the tail of a longer old line.
        const int length = std::snprintf(line, sizeof line, "%020llu %020llu %010zu\n",
                                         static_cast<unsigned long long>(toBoard),
                                         static_cast<unsigned long long>(toGuest), mostWaiting);
        if (::pwrite(fd_, line, static_cast<std::size_t>(length), 0) != length) die("write status");
    }

private:
    int fd_ = -1;
    std::uint64_t toBoard_ = UINT64_MAX, toGuest_ = 0;
    std::size_t mostWaiting_ = 0;
};

timespec untilDue(Clock::time_point due, Clock::time_point now) {
    const auto left = std::chrono::duration_cast<nanoseconds>(std::max(due - now, Clock::duration::zero()));
    return {static_cast<time_t>(left.count() / 1'000'000'000), static_cast<long>(left.count() % 1'000'000'000)};
}

// Starts the program with `line` as its descriptor 3; returns its process.
pid_t start(std::vector<std::string>& command, int line) {
    std::vector<char*> argv;
    for (std::string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child < 0) die("fork");
    if (child == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        // The line stays open across exec: dup2 leaves close-on-exec off,
        // but does nothing when it already is descriptor 3.
        if (line == 3 ? ::fcntl(3, F_SETFD, 0) != 0 : ::dup2(line, 3) < 0) _exit(127);
        ::execvp(argv[0], argv.data());
        std::fprintf(stderr, "qm730linerelay: cannot start %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    return child;
}

int exitStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Starts QEMU with a serial line on descriptor 3 (-chardev socket,id=ID,fd=3) and carries that "
                 "line to a device such as the simulated board's pseudo-terminal, at line speed both ways. Ends "
                 "with QEMU's exit status."};
    std::string board, statusPath;
    unsigned baud = 19200;
    std::vector<std::string> command;
    app.add_option("--board", board, "The board's device (qm730sim's first line)")->required();
    app.add_option("--status", statusPath, "File kept up to date with the byte counts");
    app.add_option("--baud", baud, "Line speed; a byte is 11 bits")->check(CLI::Range(300u, 115200u));
    int sendBuffer = 0;
    app.add_option("--socket-buffer", sendBuffer,
                   "Send buffer of QEMU's end (SO_SNDBUF); 0 keeps the kernel's default, 1 is the kernel's "
                   "smallest")
        ->check(CLI::Range(0, 1 << 20));
    app.add_option("command", command, "QEMU and its arguments, after --")->required();
    app.positionals_at_end();
    CLI11_PARSE(app, argc, argv);

    struct sigaction stop {};
    stop.sa_handler = noteStop;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    struct sigaction child {};
    child.sa_handler = noteChild;
    sigaction(SIGCHLD, &child, nullptr);
    signal(SIGPIPE, SIG_IGN);
    sigset_t blocked, waitMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGCHLD);
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);  // let through only while waiting

    StatusFile status(statusPath);
    status.write(0, 0, 0);
    const int boardFd = openBoard(board);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) die("socketpair");
    if (sendBuffer > 0 && ::setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer) != 0)
        die("SO_SNDBUF");
    const int guestFd = pair[0];
    if (::fcntl(guestFd, F_SETFL, O_NONBLOCK) != 0) die("fcntl");
    const pid_t qemu = start(command, pair[1]);
    // QEMU's end stays open here too, to count what it has not read yet; so
    // the line ends when QEMU does, not when the socket hangs up.
    const int qemuEnd = pair[1];
    std::fprintf(stderr, "qm730linerelay: %s started, its line on the board %s at %u baud\n", command[0].c_str(),
                 board.c_str(), baud);

    const nanoseconds byteTime{11'000'000'000LL / baud};
    Direction toBoard(guestFd, boardFd, byteTime);
    Direction toGuest(boardFd, guestFd, byteTime);
    const char* ending = "QEMU ended";
    bool passedOn = false;
    int childStatus = 0;
    bool reaped = false;
    std::size_t mostUnread = 0;  // the board's bytes QEMU had not taken yet
    for (;;) {
        if (stopSignal && !passedOn) {
            ::kill(qemu, stopSignal);
            passedOn = true;
        }
        if (childEnded && ::waitpid(qemu, &childStatus, WNOHANG) == qemu) {
            reaped = true;
            break;
        }
        Clock::time_point now = Clock::now();
        if (!toBoard.take(now) || !toGuest.deliver(now)) {
            ending = "QEMU closed the line";
            break;
        }
        mostUnread = std::max(mostUnread, bytesWaitingIn(qemuEnd));
        if (!toGuest.take(now) || !toBoard.deliver(now)) {
            ending = "the board's line closed";
            break;
        }
        status.write(toBoard.delivered(), toGuest.delivered(), toBoard.mostWaiting());
        now = Clock::now();
        pollfd entries[2] = {{guestFd, static_cast<short>(toBoard.inputEvents(now) | toGuest.outputEvents()), 0},
                             {boardFd, static_cast<short>(toGuest.inputEvents(now) | toBoard.outputEvents()), 0}};
        const Clock::time_point due = std::min(toBoard.nextDue(now), toGuest.nextDue(now));
        const timespec timeout = untilDue(due, now);
        const int ready = ::ppoll(entries, 2, due == Clock::time_point::max() ? nullptr : &timeout, &waitMask);
        if (ready < 0 && errno != EINTR) die("poll");
        if (entries[1].revents & (POLLHUP | POLLERR)) {
            ending = "the board's line closed";
            break;
        }
    }
    status.write(toBoard.delivered(), toGuest.delivered(), toBoard.mostWaiting());
    std::fprintf(stderr,
                 "qm730linerelay: %s; %llu bytes went to the board, %llu to the guest; at most %zu bytes waited "
                 "in QEMU's end for the board, at most %zu from the board for QEMU\n",
                 ending, static_cast<unsigned long long>(toBoard.delivered()),
                 static_cast<unsigned long long>(toGuest.delivered()), toBoard.mostWaiting(), mostUnread);
    ::close(guestFd);
    ::close(qemuEnd);
    if (reaped) return exitStatus(childStatus);
    if (!passedOn) ::kill(qemu, SIGTERM);  // the line ended first
    while (::waitpid(qemu, &childStatus, 0) < 0 && errno == EINTR) {
    }
    return exitStatus(childStatus);
}
