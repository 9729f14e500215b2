// The serial layer on a Win32 communications device.
//
// The device is opened for overlapped I/O, so that every wait is the
// program's own: a read or write is started, the program waits on its event
// for as long as it allows, and cancels it when that time is up. The
// driver's time-outs (COMMTIMEOUTS) bound the same operations a second time,
// so neither a driver that ignores them nor one that never completes a
// cancelled request can hold the program for ever.
#include "core/link/serial_port.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "core/config/win32_text.h"
#include "core/link/serial_registry_w32.h"
#include "core/link/serial_w32_io.h"

namespace qm730 {

namespace {

using Clock = std::chrono::steady_clock;
using win32::Requests;

constexpr DWORD kInputQueue = 32768;
constexpr DWORD kOutputQueue = 9216;
// Bytes that are already waiting come off the driver at once; this only
// bounds a driver that misbehaves.
constexpr DWORD kQueuedReadMs = 1000;
// How often a close looks whether the last bytes have left the transmitter.
constexpr DWORD kDrainPollMs = 5;

constexpr const char* kNotASerialPort = "not a serial port";
constexpr const char* kInUse = "in use by another program";

bool inDeviceNamespace(const std::string& device) { return device.rfind("\\\\.\\", 0) == 0; }

// "\\.\COM1" is shown as "COM1": that is the name the operator chose.
std::string shownNameOf(const std::string& device) {
    return inDeviceNamespace(device) ? device.substr(4) : device;
}

// A name outside the device namespace that the file system knows is a file
// or a folder, however its opening failed.
bool isFileOrFolder(const std::string& device) {
    if (inDeviceNamespace(device)) return false;
    return ::GetFileAttributesW(win32::widen(device).c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD clampedMilliseconds(std::chrono::milliseconds duration) {
    const auto count = duration.count();
    if (count <= 0) return 0;
    return count >= static_cast<long long>(MAXDWORD - 1) ? MAXDWORD - 1 : static_cast<DWORD>(count);
}

}  // namespace

struct SerialPort::System {
    HANDLE handle = nullptr;
    Requests* io = nullptr;   // owned; lives from open() to release()
    int lookahead = -1;       // a byte that a wait has already taken off the line
    std::uint32_t baudRate = 19200;
    bool queueSized = false;
    int entry = -1;           // where the port is recorded for release on an interrupt

    // A byte is at most 12 bits on the line (start, 8 data, parity, 2 stop).
    std::uint32_t millisecondsPerByte() const { return std::max<std::uint32_t>(1, (12000 + baudRate - 1) / baudRate); }
    DWORD setTimeouts(std::uint32_t readWaitMs, std::uint32_t writeStallMs) {
        return io->setTimeouts(handle, millisecondsPerByte(), readWaitMs, writeStallMs);
    }
    // What the driver holds: 0 or the system's error.
    DWORD queues(COMSTAT& status) const {
        DWORD errors = 0;
        return ::ClearCommError(handle, &errors, &status) ? 0 : ::GetLastError();
    }
};

SerialPort::SerialPort() : system_(std::make_unique<System>()) {}

SerialPort::~SerialPort() { abandon(); }

bool SerialPort::isOpen() const { return system_->handle != nullptr; }

void SerialPort::releasePortsOnInterrupt() { win32::releaseOnConsoleEnd(); }

bool SerialPort::meansHangUp(int systemError) { return win32::meansHangUp(static_cast<DWORD>(systemError)); }

std::string SerialPort::shownName() const { return shownNameOf(device_); }

void SerialPort::beforeFailing() const { win32::parkIfReleasedForExit(); }

int systemErrorNotOpen() { return ERROR_INVALID_HANDLE; }
int systemErrorTimedOut() { return ERROR_TIMEOUT; }

std::string systemErrorText(int error) { return win32::errorText(static_cast<DWORD>(error)); }

void SerialPort::open(const std::string& device) {
    if (isOpen()) close();
    device_ = device;
    const auto refuse = [&device](SerialStep step, DWORD error, const std::string& reason) {
        throw SerialError(step, static_cast<int>(error), shownNameOf(device), reason);
    };
    const HANDLE handle = ::CreateFileW(win32::widen(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // A port that another handle holds is refused with access denied; so
        // are a folder and a file that another program holds.
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            if (isFileOrFolder(device)) refuse(SerialStep::NotATerminal, ERROR_INVALID_FUNCTION, kNotASerialPort);
            refuse(SerialStep::InUse, error, kInUse);
        }
        refuse(SerialStep::Open, error, systemErrorText(static_cast<int>(error)));
    }
    win32::Handle owned(handle);
    // Only a character device with line settings is a serial line: a file,
    // a pipe, NUL or the console is let go untouched.
    auto io = std::make_unique<Requests>();
    io->saved.DCBlength = sizeof(DCB);
    if (::GetFileType(handle) != FILE_TYPE_CHAR)
        refuse(SerialStep::NotATerminal, ERROR_INVALID_FUNCTION, kNotASerialPort);
    if (!::GetCommState(handle, &io->saved) || !::GetCommTimeouts(handle, &io->savedTimeouts)) {
        // A port whose device fails (an adapter in a bad state) is a port
        // still, and says why.
        const DWORD error = ::GetLastError();
        if (win32::meansHangUp(error))
            refuse(SerialStep::ReadSettings, error,
                   "cannot read the line settings: " + systemErrorText(static_cast<int>(error)));
        refuse(SerialStep::NotATerminal, error, kNotASerialPort);
    }
    io->haveSaved = true;
    if (!io->ready()) {
        const DWORD error = ::GetLastError();
        refuse(SerialStep::Open, error, systemErrorText(static_cast<int>(error)));
    }
    System& system = *system_;
    // What closing puts back.
    system.entry = win32::recordPort(handle, io->saved, io->savedTimeouts);
    if (io->saved.BaudRate > 0) system.baudRate = io->saved.BaudRate;
    system.handle = owned.release();
    system.io = io.release();
    system.lookahead = -1;
    system.queueSized = false;
    lineFailed_ = false;
}

void SerialPort::configure(const LineSettings& settings) {
    requireOpen("configure");
    System& system = *system_;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(system.handle, &dcb))
        failOrHangUp(SerialStep::ReadSettings, static_cast<int>(::GetLastError()), "cannot read the line settings");
    if (!win32::supportedRate(settings.baudRate))
        fail(SerialStep::ApplySettings, ERROR_INVALID_PARAMETER,
             "unsupported baud rate " + std::to_string(settings.baudRate));
    if (settings.dataBits != 7 && settings.dataBits != 8)
        fail(SerialStep::ApplySettings, ERROR_INVALID_PARAMETER,
             "unsupported data bits " + std::to_string(settings.dataBits));
    win32::describeLine(dcb, settings);
    if (!::SetCommState(system.handle, &dcb))
        failOrHangUp(SerialStep::ApplySettings, static_cast<int>(::GetLastError()), "cannot apply the line settings");
    // Drivers differ in what they take without a word: only reading back tells.
    DCB taken{};
    taken.DCBlength = sizeof taken;
    if (!::GetCommState(system.handle, &taken))
        failOrHangUp(SerialStep::ReadSettings, static_cast<int>(::GetLastError()), "cannot read the line settings");
    if (taken.BaudRate != dcb.BaudRate || taken.ByteSize != dcb.ByteSize || taken.Parity != dcb.Parity ||
        taken.StopBits != dcb.StopBits) {
        throw SerialError(SerialStep::ApplySettings, ERROR_INVALID_PARAMETER, shownName(),
                          "the device did not take " + std::to_string(settings.baudRate) +
                              " baud, " + std::to_string(settings.dataBits) + " data bits, " +
                              (settings.parity == Parity::Even ? "even parity, " : "no parity, ") +
                              std::to_string(settings.stopBits) + " stop bits");
    }
    system.baudRate = settings.baudRate;
    system.io->haveCurrent = false;  // the write bound follows the rate
    if (const DWORD error = system.setTimeouts(0, clampedMilliseconds(kWriteStallTimeout)))
        failOrHangUp(SerialStep::ApplySettings, static_cast<int>(error), "cannot set the time-outs");
    if (!system.queueSized) {
        if (!::SetupComm(system.handle, kInputQueue, kOutputQueue))
            failOrHangUp(SerialStep::QueueSize, static_cast<int>(::GetLastError()), "cannot set the queue sizes");
        system.queueSized = true;
    }
}

// Returns 0 or the error of CloseHandle(). The handle is gone afterwards
// whatever it returned, so the port counts as closed either way.
int SerialPort::release(bool discardOutput) noexcept {
    System& system = *system_;
    const HANDLE handle = system.handle;
    system.handle = nullptr;
    system.lookahead = -1;
    // An interrupt may have released the port already; then only the
    // handle is left to close.
    const bool ours = win32::forgetPort(system.entry, handle);
    system.entry = -1;
    Requests* io = system.io;
    system.io = nullptr;
    // Closed while a wait gave the windows their turn: that request ends first.
    if (io) io->endPending(handle);
    if (ours && io) {
        if (discardOutput) {
            ::PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR);
        } else {
            // Bytes still in the transmitter would go out garbled if the old
            // speed came back under them: give them the time they need.
            COMSTAT status{};
            if (system.queues(status) == 0 && status.cbOutQue > 0) {
                const auto deadline = Clock::now() +
                                      std::chrono::milliseconds(status.cbOutQue * system.millisecondsPerByte()) +
                                      kWriteStallTimeout;
                while (system.queues(status) == 0 && status.cbOutQue > 0 && Clock::now() < deadline)
                    ::Sleep(kDrainPollMs);
                if (status.cbOutQue > 0) ::PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR);
            }
        }
        if (io->haveSaved) {
            ::SetCommState(handle, &io->saved);
            ::SetCommTimeouts(handle, &io->savedTimeouts);
        }
    }
    const int error = ::CloseHandle(handle) ? 0 : static_cast<int>(::GetLastError());
    // A request that never ended may still write into its OVERLAPPED: that
    // memory is left to the process rather than freed under the driver.
    if (io && !io->stuck) delete io;
    return error;
}

void SerialPort::write(const std::uint8_t* data, std::size_t count, std::chrono::milliseconds stallTimeout) {
    requireOpen("write");
    const DWORD stallMs = std::max<DWORD>(1, clampedMilliseconds(stallTimeout));
    System& system = *system_;
    const std::function<void()> turn = [this] { giveTurn("write"); };
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 20));
        // The driver must take the chunk at the line's pace, after what it
        // still holds from before (a USB adapter completes a write once it
        // has the bytes, and takes more only as its queue drains); the stall
        // time is what it may fall behind before the line counts as stuck.
        // The driver's own time-out is sized the same way.
        const std::uint64_t behind = std::uint64_t{bytesUnsent()} * system.millisecondsPerByte();
        if (const DWORD error = system.setTimeouts(system.io->current.ReadTotalTimeoutConstant,
                                                   static_cast<std::uint32_t>(std::min<std::uint64_t>(MAXDWORD - 1, behind + stallMs))))
            failOrHangUp(SerialStep::ApplySettings, static_cast<int>(error), "cannot set the time-outs");
        DWORD bound = static_cast<DWORD>(std::min<std::uint64_t>(
            MAXDWORD - 1, behind + std::uint64_t{chunk} * system.millisecondsPerByte() + stallMs));
        // Never past the deadline of the operation under way.
        const auto untilDeadline = writeDeadline()
                                       ? std::chrono::ceil<std::chrono::milliseconds>(*writeDeadline() - Clock::now())
                                       : std::chrono::milliseconds::max();
        const bool bounded = untilDeadline < std::chrono::milliseconds(bound);
        if (bounded) bound = clampedMilliseconds(untilDeadline);
        if (const DWORD error = system.io->startWrite(system.handle, data, chunk))
            failOrHangUp(SerialStep::Write, static_cast<int>(error), "write failed");
        const win32::IoOutcome outcome = system.io->await(system.handle, system.io->write, bound, slicesWaits() ? &turn : nullptr);
        if (outcome.error) failOrHangUp(SerialStep::Write, static_cast<int>(outcome.error), "write failed");
        data += outcome.transferred;
        count -= outcome.transferred;
        if (bounded && outcome.timedOut && count > 0)
            fail(SerialStep::OutOfTime, ERROR_TIMEOUT, "the operation's time ran out");
        if (outcome.transferred == 0 && count > 0)
            fail(SerialStep::WriteTimeout, ERROR_TIMEOUT, "the line takes no more bytes");
    }
}

std::size_t SerialPort::readAvailable(std::uint8_t* data, std::size_t count) {
    requireOpen("read");
    if (count == 0) return 0;
    System& system = *system_;
    std::size_t got = 0;
    if (system.lookahead >= 0) {
        data[got++] = static_cast<std::uint8_t>(system.lookahead);
        system.lookahead = -1;
        if (count == 1) return got;
    }
    COMSTAT status{};
    if (const DWORD error = system.queues(status)) {
        if (got > 0) return got;  // what came first is read first; the failure shows next time
        failOrHangUp(SerialStep::Read, static_cast<int>(error), "read failed");
    }
    // Only what is waiting is asked for, so the read ends at once on every
    // driver (Wine, for one, keeps an overlapped read pending otherwise).
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(status.cbInQue, std::min<std::size_t>(count - got, MAXDWORD)));
    if (wanted == 0) return got;
    if (const DWORD error = system.io->startRead(system.handle, data + got, wanted))
        failOrHangUp(SerialStep::Read, static_cast<int>(error), "read failed");
    const win32::IoOutcome outcome = system.io->await(system.handle, system.io->read, kQueuedReadMs, nullptr);
    if (outcome.error) failOrHangUp(SerialStep::Read, static_cast<int>(outcome.error), "read failed");
    return got + outcome.transferred;
}

bool SerialPort::waitReadable(std::chrono::milliseconds timeout) {
    requireOpen("wait for input");
    System& system = *system_;
    if (system.lookahead >= 0) return true;
    COMSTAT status{};
    if (const DWORD error = system.queues(status))
        failOrHangUp(SerialStep::Read, static_cast<int>(error), "wait for input failed");
    if (status.cbInQue > 0) return true;
    const DWORD waitMs = clampedMilliseconds(timeout);
    if (waitMs == 0) return false;
    // The wait is a read of one byte: it blocks in the driver until a byte
    // comes or the time is up, and the byte is kept for the next read.
    if (const DWORD error = system.setTimeouts(waitMs, system.io->current.WriteTotalTimeoutConstant))
        failOrHangUp(SerialStep::ApplySettings, static_cast<int>(error), "cannot set the time-outs");
    if (const DWORD error = system.io->startRead(system.handle, &system.io->byte, 1))
        failOrHangUp(SerialStep::Read, static_cast<int>(error), "wait for input failed");
    const std::function<void()> turn = [this] { giveTurn("wait for input"); };
    const win32::IoOutcome outcome = system.io->await(system.handle, system.io->read, waitMs, slicesWaits() ? &turn : nullptr);
    if (outcome.transferred == 1) {
        system.lookahead = system.io->byte;
        return true;
    }
    if (outcome.error) failOrHangUp(SerialStep::Read, static_cast<int>(outcome.error), "wait for input failed");
    return false;
}

std::size_t SerialPort::bytesWaiting() {
    requireOpen("count input");
    COMSTAT status{};
    if (const DWORD error = system_->queues(status))
        failOrHangUp(SerialStep::QueueCount, static_cast<int>(error), "cannot count waiting bytes");
    return status.cbInQue + (system_->lookahead >= 0 ? 1 : 0);
}

std::size_t SerialPort::bytesUnsent() {
    requireOpen("count output");
    COMSTAT status{};
    if (const DWORD error = system_->queues(status)) {
        // A device that cannot tell has nothing to report; one that hung up
        // will send nothing more, which is no empty queue.
        if (win32::meansHangUp(error))
            failOrHangUp(SerialStep::QueueCount, static_cast<int>(error), "cannot count unsent bytes");
        return 0;
    }
    return status.cbOutQue;
}

void SerialPort::purgeInput() {
    requireOpen("discard input");
    system_->lookahead = -1;
    if (!::PurgeComm(system_->handle, PURGE_RXCLEAR))
        failOrHangUp(SerialStep::Purge, static_cast<int>(::GetLastError()), "cannot discard input");
}

void SerialPort::purgeOutput() {
    requireOpen("discard output");
    if (!::PurgeComm(system_->handle, PURGE_TXCLEAR))
        failOrHangUp(SerialStep::Purge, static_cast<int>(::GetLastError()), "cannot discard output");
}

}  // namespace qm730
