#include "core/link/serial_w32_io.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "core/link/serial_line.h"

namespace qm730::win32 {

namespace {

using Clock = std::chrono::steady_clock;

// A cancelled request normally ends at once; one that takes longer than this
// is stuck in its driver and the line is given up.
constexpr DWORD kCancelGraceMs = 2000;

void prepare(OVERLAPPED& request) {
    ::ResetEvent(request.hEvent);
    request.Internal = request.InternalHigh = 0;
    request.Offset = request.OffsetHigh = 0;
}

// Waits on the event until it is set or the time is up, in slices with the
// turn between them when there is one; the result of the last wait.
DWORD waitForEvent(HANDLE event, DWORD waitMs, const std::function<void()>* turn) {
    if (!turn) return ::WaitForSingleObject(event, waitMs);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const DWORD slice = static_cast<DWORD>(std::clamp<long long>(left.count(), 0, kEventSlice.count()));
        const DWORD waited = ::WaitForSingleObject(event, slice);
        if (waited != WAIT_TIMEOUT || left <= kEventSlice) return waited;
        (*turn)();
    }
}

}  // namespace

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

bool supportedRate(std::uint32_t rate) {
    switch (rate) {
        case 1200: case 2400: case 4800: case 9600: case 19200: case 38400: case 57600: case 115200: return true;
        default: return false;
    }
}

// DTR and RTS stay raised while the port is open. The character fields keep
// what the device reported.
void describeLine(DCB& dcb, const LineSettings& settings) {
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
}

Requests::Requests() {
    read.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    write.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Requests::~Requests() {
    if (read.hEvent) ::CloseHandle(read.hEvent);
    if (write.hEvent) ::CloseHandle(write.hEvent);
}

DWORD Requests::setTimeouts(HANDLE handle, std::uint32_t millisecondsPerByte, std::uint32_t readWaitMs,
                            std::uint32_t writeStallMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (readWaitMs != 0) {
        // A read returns as soon as a byte is there, or empty after the wait.
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = readWaitMs;
    }
    timeouts.WriteTotalTimeoutMultiplier = millisecondsPerByte;
    timeouts.WriteTotalTimeoutConstant = writeStallMs;
    if (haveCurrent && std::memcmp(&timeouts, &current, sizeof timeouts) == 0) return 0;
    if (!::SetCommTimeouts(handle, &timeouts)) return ::GetLastError();
    current = timeouts;
    haveCurrent = true;
    return 0;
}

DWORD Requests::startRead(HANDLE handle, std::uint8_t* data, DWORD count) {
    endPending(handle);
    prepare(read);
    if (::ReadFile(handle, data, count, nullptr, &read)) return 0;
    const DWORD error = ::GetLastError();
    return error == ERROR_IO_PENDING ? 0 : error;
}

DWORD Requests::startWrite(HANDLE handle, const std::uint8_t* data, DWORD count) {
    endPending(handle);
    prepare(write);
    if (::WriteFile(handle, data, count, nullptr, &write)) return 0;
    const DWORD error = ::GetLastError();
    return error == ERROR_IO_PENDING ? 0 : error;
}

// The request was taken by the driver (ERROR_IO_PENDING or done at once).
IoOutcome Requests::await(HANDLE handle, OVERLAPPED& request, DWORD waitMs, const std::function<void()>* turn) {
    IoOutcome outcome;
    inFlight = &request;
    const DWORD waited = waitForEvent(request.hEvent, waitMs, turn);
    if (waited != WAIT_OBJECT_0) {
        outcome.timedOut = waited == WAIT_TIMEOUT;
        if (!outcome.timedOut) outcome.error = ::GetLastError();
        ::CancelIoEx(handle, &request);
        // The request may still write into its OVERLAPPED until it ends.
        if (::WaitForSingleObject(request.hEvent, kCancelGraceMs) != WAIT_OBJECT_0) {
            stuck = true;
            if (!outcome.error) outcome.error = ERROR_TIMEOUT;
            return outcome;
        }
    }
    inFlight = nullptr;
    if (!::GetOverlappedResult(handle, &request, &outcome.transferred, FALSE)) {
        const DWORD error = ::GetLastError();
        // Cancelled by the program because its time was up: no failure.
        if (!(outcome.timedOut && error == ERROR_OPERATION_ABORTED) && !outcome.error) outcome.error = error;
    }
    return outcome;
}

void Requests::endPending(HANDLE handle) {
    if (!inFlight || stuck) return;
    ::CancelIoEx(handle, inFlight);
    if (::WaitForSingleObject(inFlight->hEvent, kCancelGraceMs) != WAIT_OBJECT_0) stuck = true;
    inFlight = nullptr;
}

}  // namespace qm730::win32
