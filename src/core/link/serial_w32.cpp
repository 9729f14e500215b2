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
#include <atomic>
#include <cstring>
#include <memory>

#include "core/config/win32_text.h"

namespace qm730 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kInputQueue = 32768;
constexpr DWORD kOutputQueue = 9216;
// A cancelled request normally ends at once; one that takes longer than this
// is stuck in its driver and the line is given up.
constexpr DWORD kCancelGraceMs = 2000;
// Bytes that are already waiting come off the driver at once; this only
// bounds a driver that misbehaves.
constexpr DWORD kQueuedReadMs = 1000;
// How often a close looks whether the last bytes have left the transmitter.
constexpr DWORD kDrainPollMs = 5;

bool supportedRate(std::uint32_t rate) {
    switch (rate) {
        case 1200: case 2400: case 4800: case 9600: case 19200: case 38400: case 57600: case 115200: return true;
        default: return false;
    }
}

// Errors with which drivers report a device that is gone: a USB adapter
// pulled out (ERROR_BAD_COMMAND, ERROR_GEN_FAILURE, ERROR_ACCESS_DENIED on a
// handle that was open, ERROR_DEVICE_REMOVED...) or, under Wine, a
// pseudo-terminal whose other end has closed (ERROR_NOT_READY,
// ERROR_BROKEN_PIPE).
bool meansHangUp(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_NOT_READY:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_BROKEN_PIPE:
        case 433:  // ERROR_NO_SUCH_DEVICE, missing from MinGW's headers
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED: return true;
        default: return false;
    }
}

constexpr const char* kNotASerialPort = "not a serial port";
constexpr const char* kInUse = "in use by another program";

bool inDeviceNamespace(const std::string& device) { return device.rfind("\\\\.\\", 0) == 0; }

// "\\.\COM1" is shown as "COM1": that is the name the operator chose.
std::string shownName(const std::string& device) { return inDeviceNamespace(device) ? device.substr(4) : device; }

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

// The open devices, recorded so that the console control handler, which
// runs on a thread of its own, can release them.
struct OpenDevice {
    std::atomic<HANDLE> handle{nullptr};
    std::atomic<bool> haveSettings{false};
    DCB settings{};               // as the device had them when it was opened
    COMMTIMEOUTS timeouts{};
};
static_assert(std::atomic<HANDLE>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

constexpr int kRecordedDevices = 8;  // more open at once go unrecorded
OpenDevice openDevices[kRecordedDevices];

// Set once an interrupt has released the devices: the program is ending, and
// a failure that the release caused is not reported.
std::atomic<bool> releasedForExit{false};

int recordDevice(HANDLE handle, const DCB* settings, const COMMTIMEOUTS* timeouts) {
    for (int i = 0; i < kRecordedDevices; ++i) {
        HANDLE free = nullptr;
        if (openDevices[i].handle.compare_exchange_strong(free, handle)) {
            if (settings && timeouts) {
                openDevices[i].settings = *settings;
                openDevices[i].timeouts = *timeouts;
                openDevices[i].haveSettings.store(true);
            }
            return i;
        }
    }
    return -1;
}

BOOL WINAPI releaseOnInterrupt(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: break;
        default: return FALSE;
    }
    releasedForExit.store(true);
    for (OpenDevice& device : openDevices) {
        const HANDLE handle = device.handle.exchange(nullptr);
        if (!handle) continue;
        // Abort what is under way (the thread that waits on it finds the
        // program ending), drop what the line has not taken, and put the
        // settings back. The handle itself closes with the process.
        ::PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        if (device.haveSettings.load()) {
            ::SetCommState(handle, &device.settings);
            ::SetCommTimeouts(handle, &device.timeouts);
        }
    }
    // The next handler, in the end the system's own, ends the program as
    // the interrupt would have.
    return FALSE;
}

// A thread whose port an interrupt has released waits for the end of the
// program instead of reporting what the release did to its I/O.
void parkIfReleasedForExit() {
    if (releasedForExit.load()) ::Sleep(INFINITE);
}

}  // namespace

struct SerialPort::Win32Io {
    OVERLAPPED read{};
    OVERLAPPED write{};
    std::uint8_t byte = 0;  // what a wait reads
    DCB saved{};
    COMMTIMEOUTS savedTimeouts{};
    bool haveSaved = false;
    COMMTIMEOUTS current{};
    bool haveCurrent = false;
    bool stuck = false;  // a request did not end even when cancelled

    Win32Io() {
        read.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        write.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Win32Io() {
        if (read.hEvent) ::CloseHandle(read.hEvent);
        if (write.hEvent) ::CloseHandle(write.hEvent);
    }
    bool ready() const { return read.hEvent && write.hEvent; }
};

namespace {

struct IoOutcome {
    DWORD transferred = 0;
    DWORD error = 0;       // 0, or why the request failed
    bool timedOut = false; // the wait ran out and the request was cancelled
    bool stuck = false;    // cancelled, yet the request has not ended
};

// Waits for an overlapped request that the driver took (ERROR_IO_PENDING or
// done at once) for at most waitMs, cancelling it when that time is up.
IoOutcome awaitRequest(HANDLE handle, OVERLAPPED& request, DWORD waitMs) {
    IoOutcome outcome;
    const DWORD waited = ::WaitForSingleObject(request.hEvent, waitMs);
    if (waited != WAIT_OBJECT_0) {
        outcome.timedOut = waited == WAIT_TIMEOUT;
        if (!outcome.timedOut) outcome.error = ::GetLastError();
        ::CancelIoEx(handle, &request);
        // The request may still write into its OVERLAPPED until it ends.
        if (::WaitForSingleObject(request.hEvent, kCancelGraceMs) != WAIT_OBJECT_0) {
            outcome.stuck = true;
            if (!outcome.error) outcome.error = ERROR_TIMEOUT;
            return outcome;
        }
    }
    if (!::GetOverlappedResult(handle, &request, &outcome.transferred, FALSE)) {
        const DWORD error = ::GetLastError();
        // Cancelled by the program because its time was up: no failure.
        if (!(outcome.timedOut && error == ERROR_OPERATION_ABORTED) && !outcome.error) outcome.error = error;
    }
    return outcome;
}

}  // namespace

int systemErrorNotOpen() { return ERROR_INVALID_HANDLE; }
int systemErrorTimedOut() { return ERROR_TIMEOUT; }

std::string systemErrorText(int error) { return win32::errorText(static_cast<DWORD>(error)); }

SerialPort::~SerialPort() { abandon(); }

bool SerialPort::isOpen() const { return handle_ != nullptr; }

void SerialPort::releasePortsOnInterrupt() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    ::SetConsoleCtrlHandler(releaseOnInterrupt, TRUE);
}

void SerialPort::fail(SerialStep step, int systemError, const std::string& action) const {
    parkIfReleasedForExit();
    switch (step) {
        case SerialStep::Write:
        case SerialStep::WriteTimeout:
        case SerialStep::Read:
        case SerialStep::QueueCount:
        case SerialStep::Purge:
        case SerialStep::HangUp:
        case SerialStep::OutOfTime: lineFailed_ = true; break;
        default: break;
    }
    throw SerialError(step, systemError, shownName(device_), action + ": " + systemErrorText(systemError));
}

void SerialPort::failOrHangUp(SerialStep step, int systemError, const std::string& action) const {
    if (!meansHangUp(static_cast<DWORD>(systemError))) fail(step, systemError, action);
    parkIfReleasedForExit();
    lineFailed_ = true;
    throw SerialError(SerialStep::HangUp, systemError, shownName(device_), "the line hung up (the device went away)");
}

void SerialPort::requireOpen(const char* action) const {
    if (!handle_) fail(SerialStep::NotOpen, ERROR_INVALID_HANDLE, action);
}

std::uint32_t SerialPort::millisecondsPerByte() const {
    // A byte is at most 12 bits on the line (start, 8 data, parity, 2 stop).
    return std::max<std::uint32_t>(1, (12000 + baudRate_ - 1) / baudRate_);
}

void SerialPort::setTimeouts(std::uint32_t readWaitMs, std::uint32_t writeStallMs) {
    COMMTIMEOUTS timeouts{};
    if (readWaitMs == 0) {
        // A read returns at once with what is waiting.
        timeouts.ReadIntervalTimeout = MAXDWORD;
    } else {
        // A read returns as soon as a byte is there, or empty after the wait.
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = readWaitMs;
    }
    timeouts.WriteTotalTimeoutMultiplier = millisecondsPerByte();
    timeouts.WriteTotalTimeoutConstant = writeStallMs;
    Win32Io& io = *io_;
    if (io.haveCurrent && std::memcmp(&timeouts, &io.current, sizeof timeouts) == 0) return;
    if (!::SetCommTimeouts(handle_, &timeouts))
        failOrHangUp(SerialStep::ApplySettings, static_cast<int>(::GetLastError()), "cannot set the time-outs");
    io.current = timeouts;
    io.haveCurrent = true;
}

void SerialPort::open(const std::string& device) {
    if (handle_) close();
    device_ = device;
    const auto refuse = [&device](SerialStep step, DWORD error, const std::string& reason) {
        throw SerialError(step, static_cast<int>(error), shownName(device), reason);
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
    auto io = std::make_unique<Win32Io>();
    io->saved.DCBlength = sizeof(DCB);
    if (::GetFileType(handle) != FILE_TYPE_CHAR)
        refuse(SerialStep::NotATerminal, ERROR_INVALID_FUNCTION, kNotASerialPort);
    if (!::GetCommState(handle, &io->saved) || !::GetCommTimeouts(handle, &io->savedTimeouts)) {
        // A port whose device fails (an adapter in a bad state) is a port
        // still, and says why.
        const DWORD error = ::GetLastError();
        if (meansHangUp(error))
            refuse(SerialStep::ReadSettings, error, "cannot read the line settings: " + systemErrorText(static_cast<int>(error)));
        refuse(SerialStep::NotATerminal, error, kNotASerialPort);
    }
    io->haveSaved = true;
    if (!io->ready()) {
        const DWORD error = ::GetLastError();
        refuse(SerialStep::Open, error, systemErrorText(static_cast<int>(error)));
    }
    // What closing puts back.
    entry_ = recordDevice(handle, &io->saved, &io->savedTimeouts);
    if (io->saved.BaudRate > 0) baudRate_ = io->saved.BaudRate;
    handle_ = owned.release();
    io_ = io.release();
    lookahead_ = -1;
    queueSized_ = false;
    lineFailed_ = false;
}

void SerialPort::configure(const LineSettings& settings) {
    requireOpen("configure");
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb))
        failOrHangUp(SerialStep::ReadSettings, static_cast<int>(::GetLastError()), "cannot read the line settings");
    if (!supportedRate(settings.baudRate))
        fail(SerialStep::ApplySettings, ERROR_INVALID_PARAMETER,
             "unsupported baud rate " + std::to_string(settings.baudRate));
    if (settings.dataBits != 7 && settings.dataBits != 8)
        fail(SerialStep::ApplySettings, ERROR_INVALID_PARAMETER,
             "unsupported data bits " + std::to_string(settings.dataBits));
    // Raw binary bytes, no flow control, modem lines ignored; DTR and RTS
    // stay raised while the port is open. The character fields keep what
    // the device reported.
    dcb.BaudRate = settings.baudRate;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.fDummy2 = 0;
    dcb.wReserved = 0;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = settings.parity == Parity::Even ? EVENPARITY : NOPARITY;
    dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    if (!::SetCommState(handle_, &dcb))
        failOrHangUp(SerialStep::ApplySettings, static_cast<int>(::GetLastError()), "cannot apply the line settings");
    // Drivers differ in what they take without a word: only reading back tells.
    DCB taken{};
    taken.DCBlength = sizeof taken;
    if (!::GetCommState(handle_, &taken))
        failOrHangUp(SerialStep::ReadSettings, static_cast<int>(::GetLastError()), "cannot read the line settings");
    if (taken.BaudRate != dcb.BaudRate || taken.ByteSize != dcb.ByteSize || taken.Parity != dcb.Parity ||
        taken.StopBits != dcb.StopBits) {
        throw SerialError(SerialStep::ApplySettings, ERROR_INVALID_PARAMETER, shownName(device_),
                          "the device did not take " + std::to_string(settings.baudRate) +
                              " baud, " + std::to_string(settings.dataBits) + " data bits, " +
                              (settings.parity == Parity::Even ? "even parity, " : "no parity, ") +
                              std::to_string(settings.stopBits) + " stop bits");
    }
    baudRate_ = settings.baudRate;
    io_->haveCurrent = false;  // the write bound follows the rate
    setTimeouts(0, clampedMilliseconds(kWriteStallTimeout));
    if (!queueSized_) {
        if (!::SetupComm(handle_, kInputQueue, kOutputQueue))
            failOrHangUp(SerialStep::QueueSize, static_cast<int>(::GetLastError()), "cannot set the queue sizes");
        queueSized_ = true;
    }
}

// Returns 0 or the error of CloseHandle(). The handle is gone afterwards
// whatever it returned, so the port counts as closed either way.
int SerialPort::release(bool discardOutput) noexcept {
    const HANDLE handle = handle_;
    handle_ = nullptr;
    lookahead_ = -1;
    // An interrupt may have released the device already; then only the
    // handle is left to close.
    bool ours = true;
    if (entry_ >= 0) {
        HANDLE expected = handle;
        ours = openDevices[entry_].handle.compare_exchange_strong(expected, nullptr);
        openDevices[entry_].haveSettings.store(false);
        entry_ = -1;
    }
    if (ours && io_) {
        if (discardOutput) {
            ::PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR);
        } else {
            // Bytes still in the transmitter would go out garbled if the old
            // speed came back under them: give them the time they need.
            COMSTAT status{};
            DWORD errors = 0;
            if (::ClearCommError(handle, &errors, &status) && status.cbOutQue > 0) {
                const auto deadline = Clock::now() +
                                      std::chrono::milliseconds(status.cbOutQue * millisecondsPerByte()) +
                                      kWriteStallTimeout;
                while (::ClearCommError(handle, &errors, &status) && status.cbOutQue > 0 && Clock::now() < deadline)
                    ::Sleep(kDrainPollMs);
                if (status.cbOutQue > 0) ::PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR);
            }
        }
        if (io_->haveSaved) {
            ::SetCommState(handle, &io_->saved);
            ::SetCommTimeouts(handle, &io_->savedTimeouts);
        }
    }
    const int error = ::CloseHandle(handle) ? 0 : static_cast<int>(::GetLastError());
    // A request that never ended may still write into its OVERLAPPED: that
    // memory is left to the process rather than freed under the driver.
    if (io_ && !io_->stuck) delete io_;
    io_ = nullptr;
    return error;
}

void SerialPort::close() {
    if (!handle_) return;
    if (const int error = release(lineFailed_)) fail(SerialStep::Close, error, "cannot close");
}

void SerialPort::abandon() noexcept {
    if (handle_) release(true);
}

void SerialPort::write(const std::uint8_t* data, std::size_t count, std::chrono::milliseconds stallTimeout) {
    requireOpen("write");
    const DWORD stallMs = std::max<DWORD>(1, clampedMilliseconds(stallTimeout));
    Win32Io& io = *io_;
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 20));
        // The driver must take the chunk at the line's pace, after what it
        // still holds from before (a USB adapter completes a write once it
        // has the bytes, and takes more only as its queue drains); the stall
        // time is what it may fall behind before the line counts as stuck.
        // The driver's own time-out is sized the same way.
        const std::uint64_t behind = std::uint64_t{bytesUnsent()} * millisecondsPerByte();
        setTimeouts(io.current.ReadTotalTimeoutConstant,
                    static_cast<std::uint32_t>(std::min<std::uint64_t>(MAXDWORD - 1, behind + stallMs)));
        DWORD bound = static_cast<DWORD>(
            std::min<std::uint64_t>(MAXDWORD - 1, behind + std::uint64_t{chunk} * millisecondsPerByte() + stallMs));
        // Never past the deadline of the operation under way.
        const auto untilDeadline = writeDeadline_ ? std::chrono::ceil<std::chrono::milliseconds>(*writeDeadline_ - Clock::now())
                                                  : std::chrono::milliseconds::max();
        const bool bounded = untilDeadline < std::chrono::milliseconds(bound);
        if (bounded) bound = clampedMilliseconds(untilDeadline);
        ::ResetEvent(io.write.hEvent);
        io.write.Internal = io.write.InternalHigh = 0;
        io.write.Offset = io.write.OffsetHigh = 0;
        if (!::WriteFile(handle_, data, chunk, nullptr, &io.write)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) failOrHangUp(SerialStep::Write, static_cast<int>(error), "write failed");
        }
        const IoOutcome outcome = awaitRequest(handle_, io.write, bound);
        if (outcome.stuck) io.stuck = true;
        if (outcome.error) failOrHangUp(SerialStep::Write, static_cast<int>(outcome.error), "write failed");
        data += outcome.transferred;
        count -= outcome.transferred;
        if (bounded && outcome.timedOut && count > 0)
            fail(SerialStep::OutOfTime, ERROR_TIMEOUT, "the operation's time ran out");
        if (outcome.transferred == 0 && count > 0)
            fail(SerialStep::WriteTimeout, ERROR_TIMEOUT, "the line takes no more bytes");
    }
}

std::size_t SerialPort::queuedInput(const char* action, SerialStep step) {
    COMSTAT status{};
    DWORD errors = 0;
    if (!::ClearCommError(handle_, &errors, &status)) failOrHangUp(step, static_cast<int>(::GetLastError()), action);
    return status.cbInQue;
}

std::size_t SerialPort::readAvailable(std::uint8_t* data, std::size_t count) {
    requireOpen("read");
    if (count == 0) return 0;
    std::size_t got = 0;
    if (lookahead_ >= 0) {
        data[got++] = static_cast<std::uint8_t>(lookahead_);
        lookahead_ = -1;
        if (count == 1) return got;
    }
    std::size_t waiting = 0;
    try {
        waiting = queuedInput("read failed", SerialStep::Read);
    } catch (const SerialError&) {
        if (got > 0) return got;  // what came first is read first; the failure shows next time
        throw;
    }
    // Only what is waiting is asked for, so the read ends at once on every
    // driver (Wine, for one, keeps an overlapped read pending otherwise).
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(waiting, std::min<std::size_t>(count - got, MAXDWORD)));
    if (wanted == 0) return got;
    Win32Io& io = *io_;
    ::ResetEvent(io.read.hEvent);
    io.read.Internal = io.read.InternalHigh = 0;
    io.read.Offset = io.read.OffsetHigh = 0;
    if (!::ReadFile(handle_, data + got, wanted, nullptr, &io.read)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) failOrHangUp(SerialStep::Read, static_cast<int>(error), "read failed");
    }
    const IoOutcome outcome = awaitRequest(handle_, io.read, kQueuedReadMs);
    if (outcome.stuck) io.stuck = true;
    if (outcome.error) failOrHangUp(SerialStep::Read, static_cast<int>(outcome.error), "read failed");
    return got + outcome.transferred;
}

bool SerialPort::waitReadable(std::chrono::milliseconds timeout) {
    requireOpen("wait for input");
    if (lookahead_ >= 0) return true;
    if (queuedInput("wait for input failed", SerialStep::Read) > 0) return true;
    const DWORD waitMs = clampedMilliseconds(timeout);
    if (waitMs == 0) return false;
    // The wait is a read of one byte: it blocks in the driver until a byte
    // comes or the time is up, and the byte is kept for the next read.
    Win32Io& io = *io_;
    setTimeouts(waitMs, io.current.WriteTotalTimeoutConstant);
    ::ResetEvent(io.read.hEvent);
    io.read.Internal = io.read.InternalHigh = 0;
    io.read.Offset = io.read.OffsetHigh = 0;
    if (!::ReadFile(handle_, &io.byte, 1, nullptr, &io.read)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) failOrHangUp(SerialStep::Read, static_cast<int>(error), "wait for input failed");
    }
    const IoOutcome outcome = awaitRequest(handle_, io.read, waitMs);
    if (outcome.stuck) io.stuck = true;
    if (outcome.transferred == 1) {
        lookahead_ = io.byte;
        return true;
    }
    if (outcome.error) failOrHangUp(SerialStep::Read, static_cast<int>(outcome.error), "wait for input failed");
    return false;
}

std::size_t SerialPort::bytesWaiting() {
    requireOpen("count input");
    return queuedInput("cannot count waiting bytes", SerialStep::QueueCount) + (lookahead_ >= 0 ? 1 : 0);
}

std::size_t SerialPort::bytesUnsent() {
    requireOpen("count output");
    COMSTAT status{};
    DWORD errors = 0;
    if (!::ClearCommError(handle_, &errors, &status)) {
        // A device that cannot tell has nothing to report; one that hung up
        // will send nothing more, which is no empty queue.
        const DWORD error = ::GetLastError();
        if (meansHangUp(error)) failOrHangUp(SerialStep::QueueCount, static_cast<int>(error), "cannot count unsent bytes");
        return 0;
    }
    return status.cbOutQue;
}

void SerialPort::purgeInput() {
    requireOpen("discard input");
    lookahead_ = -1;
    if (!::PurgeComm(handle_, PURGE_RXCLEAR))
        failOrHangUp(SerialStep::Purge, static_cast<int>(::GetLastError()), "cannot discard input");
}

void SerialPort::purgeOutput() {
    requireOpen("discard output");
    if (!::PurgeComm(handle_, PURGE_TXCLEAR))
        failOrHangUp(SerialStep::Purge, static_cast<int>(::GetLastError()), "cannot discard output");
}

void SerialPort::setRts(bool raised) {
    requireOpen("set RTS");
    if (!::EscapeCommFunction(handle_, raised ? SETRTS : CLRRTS))
        failOrHangUp(SerialStep::ModemLine, static_cast<int>(::GetLastError()), "cannot set RTS");
}

}  // namespace qm730
