// The serial layer on a POSIX terminal device (termios).
#include "link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qm730 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kComPortCount = 5;

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

}  // namespace

std::string SerialPort::deviceForPortName(std::string_view name) {
    const bool looksLikeCom = name.size() == 4 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
                              std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
                              std::toupper(static_cast<unsigned char>(name[2])) == 'M' && name[3] >= '1' &&
                              name[3] < '1' + kComPortCount;
    if (!looksLikeCom) return std::string(name);
    const int number = name[3] - '0';
    const std::string variable = "QM730C_COM" + std::to_string(number);
    if (const char* override = std::getenv(variable.c_str()); override && *override) return override;
    return "/dev/ttyS" + std::to_string(number - 1);
}

SerialPort::~SerialPort() {
    if (fd_ >= 0) {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }
}

void SerialPort::fail(SerialStep step, int systemError, const std::string& action) const {
    throw SerialError(step, systemError, device_ + ": " + action + ": " + std::strerror(systemError));
}

void SerialPort::requireOpen(const char* action) const {
    if (fd_ < 0) fail(SerialStep::NotOpen, EBADF, action);
}

void SerialPort::open(const std::string& device) {
    if (fd_ >= 0) close();
    device_ = device;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        // EBUSY comes from another opener's TIOCEXCL.
        if (error == EBUSY) throw SerialError(SerialStep::InUse, error, device + " is in use by another program");
        fail(SerialStep::Open, error, "cannot open");
    }
    // TIOCEXCL keeps other openers out, but not root; the lock keeps out every
    // program that asks for it, root included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) throw SerialError(SerialStep::InUse, error, device + " is in use by another program");
        fail(SerialStep::Open, error, "cannot lock");
    }
    ::ioctl(fd, TIOCEXCL);  // a device that is not a terminal fails later, in configure()
    fd_ = fd;
}

void SerialPort::configure(const LineSettings& settings) {
    requireOpen("configure");
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) fail(SerialStep::ReadSettings, errno, "cannot read the line settings");
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
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) fail(SerialStep::ApplySettings, errno, "cannot apply the line settings");
}

void SerialPort::close() {
    if (fd_ < 0) return;
    ::ioctl(fd_, TIOCNXCL);
    const int fd = fd_;
    // The descriptor is gone after close() whatever it returns, so the port
    // counts as closed even when close() reports a failure.
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) fail(SerialStep::Close, errno, "cannot close");
}

void SerialPort::write(const std::uint8_t* data, std::size_t count, std::chrono::milliseconds stallTimeout) {
    requireOpen("write");
    auto deadline = Clock::now() + stallTimeout;
    while (count > 0) {
        const ssize_t written = ::write(fd_, data, count);
        if (written > 0) {
            data += written;
            count -= static_cast<std::size_t>(written);
            deadline = Clock::now() + stallTimeout;
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN) fail(SerialStep::Write, errno, "write failed");
        const int events = pollFor(fd_, POLLOUT, deadline);
        if (events == 0) fail(SerialStep::WriteTimeout, ETIMEDOUT, "the line takes no more bytes");
        if (events < 0) fail(SerialStep::Write, errno, "write failed");
        if ((events & POLLOUT) == 0) fail(SerialStep::Write, EIO, "the line hung up");
    }
}

std::size_t SerialPort::readAvailable(std::uint8_t* data, std::size_t count) {
    requireOpen("read");
    for (;;) {
        const ssize_t got = ::read(fd_, data, count);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        fail(SerialStep::Read, errno, "read failed");
    }
}

bool SerialPort::waitReadable(std::chrono::milliseconds timeout) {
    requireOpen("wait for input");
    const int events = pollFor(fd_, POLLIN, Clock::now() + timeout);
    if (events < 0) fail(SerialStep::Read, errno, "wait for input failed");
    if (events == 0) return false;
    if ((events & POLLIN) == 0) fail(SerialStep::Read, EIO, "the line hung up");
    return true;
}

std::size_t SerialPort::bytesWaiting() {
    requireOpen("count input");
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) fail(SerialStep::QueueCount, errno, "cannot count waiting bytes");
    return waiting > 0 ? static_cast<std::size_t>(waiting) : 0;
}

std::size_t SerialPort::bytesUnsent() {
    requireOpen("count output");
    int unsent = 0;
    if (::ioctl(fd_, TIOCOUTQ, &unsent) != 0) return 0;
    return unsent > 0 ? static_cast<std::size_t>(unsent) : 0;
}

void SerialPort::purgeInput() {
    requireOpen("discard input");
    if (::tcflush(fd_, TCIFLUSH) != 0) fail(SerialStep::Purge, errno, "cannot discard input");
}

void SerialPort::purgeOutput() {
    requireOpen("discard output");
    if (::tcflush(fd_, TCOFLUSH) != 0) fail(SerialStep::Purge, errno, "cannot discard output");
}

void SerialPort::setRts(bool raised) {
    requireOpen("set RTS");
    const int bits = TIOCM_RTS;
    if (::ioctl(fd_, raised ? TIOCMBIS : TIOCMBIC, &bits) != 0) fail(SerialStep::ModemLine, errno, "cannot set RTS");
}

}  // namespace qm730
