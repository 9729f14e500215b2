// SerialPort for the fuzz build: the same interface as serial_posix.cpp, on
// the bytes of serialInput() instead of a device.
#include "serial_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/link/serial_port.h"

namespace qm730 {

namespace fuzz {

SerialInput& serialInput() {
    static SerialInput line;
    return line;
}

}  // namespace fuzz

namespace {

std::size_t left() {
    const fuzz::SerialInput& line = fuzz::serialInput();
    return line.size - line.taken;
}

}  // namespace

SerialPort::~SerialPort() { abandon(); }

void SerialPort::releasePortsOnInterrupt() {}

void SerialPort::fail(SerialStep step, int systemError, const std::string& action) const {
    lineFailed_ = true;
    throw SerialError(step, systemError, device_, action + ": " + std::strerror(systemError));
}

void SerialPort::failOrHangUp(SerialStep, int systemError, const std::string&) const {
    lineFailed_ = true;
    throw SerialError(SerialStep::HangUp, systemError, device_, "the line hung up (the device went away)");
}

void SerialPort::requireOpen(const char* action) const {
    if (fd_ < 0) fail(SerialStep::NotOpen, EBADF, action);
}

void SerialPort::open(const std::string& device) {
    device_ = device;
    fd_ = 1;
    pseudoTerminal_ = false;
    entry_ = -1;
    lineFailed_ = false;
}

void SerialPort::configure(const LineSettings&) { requireOpen("configure"); }

int SerialPort::release(bool) noexcept {
    fd_ = -1;
    return 0;
}

void SerialPort::close() { release(false); }

void SerialPort::abandon() noexcept { release(true); }

bool SerialPort::isOpen() const { return fd_ >= 0; }

void SerialPort::write(const std::uint8_t* data, std::size_t count, std::chrono::milliseconds) {
    requireOpen("write");
    auto& written = fuzz::serialInput().written;
    written.insert(written.end(), data, data + count);
}

std::size_t SerialPort::readAvailable(std::uint8_t* data, std::size_t count) {
    requireOpen("read");
    if (left() == 0) failOrHangUp(SerialStep::Read, EIO, "read");
    fuzz::SerialInput& line = fuzz::serialInput();
    const std::size_t n = std::min(count, bytesWaiting());
    std::memcpy(data, line.data + line.taken, n);
    line.taken += n;
    return n;
}

bool SerialPort::waitReadable(std::chrono::milliseconds) {
    requireOpen("wait");
    if (left() == 0) failOrHangUp(SerialStep::Read, EIO, "wait");
    return true;
}

std::size_t SerialPort::bytesWaiting() {
    requireOpen("count");
    const std::size_t piece = fuzz::serialInput().piece;
    return piece == 0 ? left() : std::min(left(), piece);
}

std::size_t SerialPort::bytesUnsent() { return 0; }

// What waits on the line now is thrown away; the rest has not arrived yet.
void SerialPort::purgeInput() {
    requireOpen("purge");
    fuzz::serialInput().taken += bytesWaiting();
}

void SerialPort::purgeOutput() { requireOpen("purge"); }

void SerialPort::setRts(bool) { requireOpen("set RTS"); }

int systemErrorNotOpen() { return EBADF; }
int systemErrorTimedOut() { return ETIMEDOUT; }
std::string systemErrorText(int error) { return std::strerror(error); }

}  // namespace qm730
