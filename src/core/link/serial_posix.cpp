// The serial layer on a POSIX terminal device (termios).
#include "core/link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

#include "core/link/serial_registry_posix.h"

namespace qm730 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kNotASerialPort = "not a serial port";
constexpr const char* kInUse = "in use by another program";

bool speedForRate(std::uint32_t rate, speed_t& speed) {
    switch (rate) {
        case 1200: speed = B1200; return true;
        case 2400: speed = B2400; return true;
        case 4800: speed = B4800; return true;
        case 9600: speed = B9600; return true;
        case 19200: speed = B19200; return true;
        case 38400: speed = B38400; return true;
        case 57600: speed = B57600; return true;
        case 115200: speed = B115200; return true;
        default: return false;
    }
}

// Milliseconds left until the deadline, never negative; poll() takes an int.
int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Returns the poll events, 0 on time-out, -1 on failure (errno set).
int pollFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, millisecondsUntil(deadline));
        if (ready > 0) return entry.revents;
        if (ready == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

// As pollFor, in slices of kEventSlice with `turn` run between them when
// sliced; the descriptor is looked at afresh after each turn.
int pollInSlices(const int& fd, short events, Clock::time_point deadline, bool sliced,
                 const std::function<void()>& turn) {
    for (;;) {
        const Clock::time_point until = sliced ? std::min(deadline, Clock::now() + kEventSlice) : deadline;
        const int got = pollFor(fd, events, until);
        if (got != 0 || until >= deadline) return got;
        turn();
    }
}

// Unix98 pseudo-terminal slaves (/dev/pts/N) have majors 136 to 143.
bool isPseudoTerminalSlave(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    const unsigned int deviceMajor = major(info.st_rdev);
    return deviceMajor >= 136 && deviceMajor <= 143;
}

// Makes the device exclusive unless another program has made it so already
// (root opens it all the same); true when this program set the flag and so
// is the one to clear it. A kernel that cannot tell gets the flag set.
bool makeExclusive(int fd) {
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) return false;
    return ::ioctl(fd, TIOCEXCL) == 0;
}

}  // namespace

struct SerialPort::System {
    int fd = -1;
    int entry = -1;                  // where the device is recorded for release on a signal
    bool pseudoTerminal = false;     // no transmitter queue of our own to discard
    bool madeExclusive = false;      // TIOCEXCL is ours to clear
    std::uint32_t baudRate = 19200;  // as configured: how fast the driver's queue drains
};

SerialPort::SerialPort() : system_(std::make_unique<System>()) {}

SerialPort::~SerialPort() { abandon(); }

void SerialPort::releasePortsOnInterrupt() { posix::releaseOnEndingSignals(); }

// Errors that mean the device is gone: its other end closed or the adapter
// was pulled. A hung-up terminal also reads 0 bytes instead of EAGAIN.
bool SerialPort::meansHangUp(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

std::string SerialPort::shownName() const { return device_; }

void SerialPort::beforeFailing() const {}

bool SerialPort::isOpen() const { return system_->fd >= 0; }

int systemErrorNotOpen() { return EBADF; }
int systemErrorTimedOut() { return ETIMEDOUT; }
std::string systemErrorText(int error) { return std::strerror(error); }

void SerialPort::open(const std::string& device) {
    if (isOpen()) close();
    device_ = device;
    // Only a character device can be a serial line: a plain file or a FIFO
    // of that name is left alone, not opened (opening a FIFO can block, and
    // bytes meant for the board would land in a file).
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) {
        const int error = errno;
        throw SerialError(SerialStep::Open, error, device, std::strerror(error));
    }
    if (!S_ISCHR(info.st_mode)) throw SerialError(SerialStep::NotATerminal, ENOTTY, device, kNotASerialPort);
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        // EBUSY comes from another opener's TIOCEXCL.
        if (error == EBUSY) throw SerialError(SerialStep::InUse, error, device, kInUse);
        throw SerialError(SerialStep::Open, error, device, std::strerror(error));
    }
    // A character device that is no terminal (/dev/null, /dev/zero) takes
    // no line settings and no board answers on it.
    if (!::isatty(fd)) {
        ::close(fd);
        throw SerialError(SerialStep::NotATerminal, ENOTTY, device, kNotASerialPort);
    }
    // Recorded before it is locked and made exclusive, so an interrupt from
    // here on releases it.
    const int entry = posix::recordDevice(fd);
    // TIOCEXCL keeps other openers out, but not root; the lock keeps out every
    // program that asks for it, root included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        posix::forgetDevice(entry);
        ::close(fd);
        if (error == EWOULDBLOCK) throw SerialError(SerialStep::InUse, error, device, kInUse);
        fail(SerialStep::Open, error, "cannot lock");
    }
    System& system = *system_;
    system.madeExclusive = makeExclusive(fd);
    posix::recordMadeExclusive(entry, system.madeExclusive);
    system.pseudoTerminal = isPseudoTerminalSlave(fd);
    system.fd = fd;
    system.entry = entry;
    lineFailed_ = false;
}

void SerialPort::configure(const LineSettings& settings) {
    requireOpen("configure");
    const int fd = system_->fd;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) fail(SerialStep::ReadSettings, errno, "cannot read the line settings");
    speed_t speed{};
    if (!speedForRate(settings.baudRate, speed))
        fail(SerialStep::ApplySettings, EINVAL, "unsupported baud rate " + std::to_string(settings.baudRate));
    if (settings.dataBits != 7 && settings.dataBits != 8)
        fail(SerialStep::ApplySettings, EINVAL, "unsupported data bits " + std::to_string(settings.dataBits));
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= (settings.dataBits == 7 ? CS7 : CS8) | CLOCAL | CREAD;
    if (settings.parity == Parity::Even) tio.c_cflag |= PARENB;
    if (settings.stopBits == 2) tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // The descriptor never blocks (O_NONBLOCK). With VMIN 1 an empty line
    // reads EAGAIN; with VMIN 0 it would read 0 bytes, the same as a line
    // that has hung up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        failOrHangUp(SerialStep::ApplySettings, errno, "cannot apply the line settings");
    system_->baudRate = settings.baudRate;
    // tcsetattr succeeds when any part was taken; a pseudo-terminal, for
    // one, keeps 8 data bits without a word. Only reading back tells.
    termios taken{};
    if (::tcgetattr(fd, &taken) != 0) failOrHangUp(SerialStep::ReadSettings, errno, "cannot read the line settings");
    constexpr tcflag_t kFormat = CSIZE | PARENB | PARODD | CSTOPB;
    if ((taken.c_cflag & kFormat) != (tio.c_cflag & kFormat) || ::cfgetospeed(&taken) != speed ||
        ::cfgetispeed(&taken) != speed) {
        throw SerialError(SerialStep::ApplySettings, EINVAL, device_,
                          "the device did not take " + std::to_string(settings.baudRate) + " baud, " +
                              std::to_string(settings.dataBits) + " data bits, " +
                              (settings.parity == Parity::Even ? "even parity, " : "no parity, ") +
                              std::to_string(settings.stopBits) + " stop bits");
    }
}

// Returns 0 or the error of close(). The descriptor is gone after close()
// whatever it returns, so the port counts as closed either way.
int SerialPort::release(bool discardOutput) noexcept {
    System& system = *system_;
    const int fd = system.fd;
    system.fd = -1;
    // Bytes still in the transmitter would go out garbled if the old speed
    // came back under them; after a failure they are not wanted at all.
    if (discardOutput) ::tcflush(fd, TCOFLUSH);
    posix::letGo(fd, system.entry, discardOutput ? TCSANOW : TCSADRAIN, system.madeExclusive);
    posix::forgetDevice(system.entry);
    system.entry = -1;
    return ::close(fd) != 0 && errno != EINTR ? errno : 0;
}

namespace {

// A UART driver queues a few KiB and wakes a writer only once the queue is
// nearly empty again: the 8250 holds 4,095 bytes and reports room below 256,
// 2.2 s at 19200 baud. The line is stuck only when that queue stops
// shrinking; where the driver cannot count it, the wait is stretched by the
// time such a queue takes to drain.
class OutputProgress {
public:
    OutputProgress(int fd, std::uint32_t baudRate, std::chrono::milliseconds stallTimeout)
        : fd_(fd), baudRate_(baudRate ? baudRate : 19200), stallTimeout_(stallTimeout) {
        restart();
    }
    Clock::time_point deadline() const { return deadline_; }
    // Bytes went into the queue: the stall is counted afresh.
    void restart() {
        queued_ = queuedBytes();
        deadline_ = Clock::now() + stallTimeout_ + (queued_ ? std::chrono::milliseconds(0) : drainAllowance());
    }
    // The deadline passed without room: true, with a new deadline, when the
    // driver sent bytes meanwhile.
    bool drained() {
        const std::optional<std::size_t> now = queuedBytes();
        if (!now || !queued_ || *now >= *queued_) return false;
        queued_ = now;
        deadline_ = Clock::now() + stallTimeout_;
        return true;
    }

private:
    static constexpr std::size_t kUncountedQueue = 4096;
    std::optional<std::size_t> queuedBytes() const {
        int unsent = 0;
        if (::ioctl(fd_, TIOCOUTQ, &unsent) != 0) return std::nullopt;
        return unsent > 0 ? static_cast<std::size_t>(unsent) : 0;
    }
    // 11 bits a byte (start, 8 data, 2 stop) for a queue nobody can count.
    std::chrono::milliseconds drainAllowance() const {
        return std::chrono::milliseconds(kUncountedQueue * 11 * 1000 / baudRate_ + 1);
    }

    int fd_;
    std::uint32_t baudRate_;
    std::chrono::milliseconds stallTimeout_;
    std::optional<std::size_t> queued_;
    Clock::time_point deadline_;
};

}  // namespace

void SerialPort::write(const std::uint8_t* data, std::size_t count, std::chrono::milliseconds stallTimeout) {
    requireOpen("write");
    OutputProgress progress(system_->fd, system_->baudRate, stallTimeout);
    while (count > 0) {
        const ssize_t written = ::write(system_->fd, data, count);
        if (written > 0) {
            data += written;
            count -= static_cast<std::size_t>(written);
            progress.restart();
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN) failOrHangUp(SerialStep::Write, errno, "write failed");
        const bool bounded = writeDeadline() && *writeDeadline() < progress.deadline();
        const int events = pollInSlices(system_->fd, POLLOUT, bounded ? *writeDeadline() : progress.deadline(),
                                        slicesWaits(), [this] { giveTurn("write"); });
        if (events == 0 && bounded) fail(SerialStep::OutOfTime, ETIMEDOUT, "the operation's time ran out");
        if (events == 0 && progress.drained()) continue;
        if (events == 0) fail(SerialStep::WriteTimeout, ETIMEDOUT, "the line takes no more bytes");
        if (events < 0) fail(SerialStep::Write, errno, "write failed");
        if (events & POLLNVAL) fail(SerialStep::Write, EBADF, "write failed");
        if ((events & POLLOUT) == 0) failOrHangUp(SerialStep::Write, EIO, "write failed");
    }
}

std::size_t SerialPort::readAvailable(std::uint8_t* data, std::size_t count) {
    requireOpen("read");
    if (count == 0) return 0;
    for (;;) {
        const ssize_t got = ::read(system_->fd, data, count);
        if (got > 0) return static_cast<std::size_t>(got);
        // Without data a non-blocking terminal says EAGAIN; end of file
        // means it has hung up.
        if (got == 0) failOrHangUp(SerialStep::Read, EIO, "read failed");
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        failOrHangUp(SerialStep::Read, errno, "read failed");
    }
}

bool SerialPort::waitReadable(std::chrono::milliseconds timeout) {
    requireOpen("wait for input");
    const int events = pollInSlices(system_->fd, POLLIN, Clock::now() + timeout, slicesWaits(),
                                    [this] { giveTurn("wait for input"); });
    if (events < 0) fail(SerialStep::Read, errno, "wait for input failed");
    if (events == 0) return false;
    if (events & POLLNVAL) fail(SerialStep::Read, EBADF, "wait for input failed");
    // A hung-up line reports itself readable too; it is only while bytes
    // that came before the hang-up are still there.
    if (events & (POLLHUP | POLLERR)) {
        if (bytesWaiting() > 0) return true;
        failOrHangUp(SerialStep::Read, EIO, "wait for input failed");
    }
    return (events & POLLIN) != 0;
}

std::size_t SerialPort::bytesWaiting() {
    requireOpen("count input");
    int waiting = 0;
    if (::ioctl(system_->fd, FIONREAD, &waiting) != 0)
        failOrHangUp(SerialStep::QueueCount, errno, "cannot count waiting bytes");
    return waiting > 0 ? static_cast<std::size_t>(waiting) : 0;
}

std::size_t SerialPort::bytesUnsent() {
    requireOpen("count output");
    int unsent = 0;
    if (::ioctl(system_->fd, TIOCOUTQ, &unsent) != 0) {
        // A device that cannot tell has nothing to report; one that hung up
        // will send nothing more, which is no empty queue.
        if (meansHangUp(errno)) failOrHangUp(SerialStep::QueueCount, errno, "cannot count unsent bytes");
        return 0;
    }
    return unsent > 0 ? static_cast<std::size_t>(unsent) : 0;
}

void SerialPort::purgeInput() {
    requireOpen("discard input");
    if (::tcflush(system_->fd, TCIFLUSH) != 0) failOrHangUp(SerialStep::Purge, errno, "cannot discard input");
}

void SerialPort::purgeOutput() {
    requireOpen("discard output");
    // A pseudo-terminal has no transmitter: what waits in its queue is the
    // tail that the previous program wrote and the far side has not read yet
    // (a UART would have sent it before that program's close returned).
    // Discarding it would lose the end of that program's upload.
    if (system_->pseudoTerminal) return;
    if (::tcflush(system_->fd, TCOFLUSH) != 0) failOrHangUp(SerialStep::Purge, errno, "cannot discard output");
}

}  // namespace qm730
