// The overlapped requests of a Win32 serial port: each read or write is
// started, waited for on its event as long as the program allows (in
// slices, with the windows served between them, when asked) and cancelled
// when that time is up. Also what the port keeps from its opening.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "core/link/serial_line.h"

namespace qm730::win32 {

// Errors with which drivers report a device that is gone.
bool meansHangUp(DWORD error);

bool supportedRate(std::uint32_t rate);
// Fills in the DCB for the line settings: raw binary bytes, no flow
// control, modem lines ignored.
void describeLine(DCB& dcb, const LineSettings& settings);

struct IoOutcome {
    DWORD transferred = 0;
    DWORD error = 0;        // 0, or why the request failed
    bool timedOut = false;  // the wait ran out and the request was cancelled
};

struct Requests {
    OVERLAPPED read{};
    OVERLAPPED write{};
    std::uint8_t byte = 0;  // what a wait reads
    DCB saved{};            // the settings found at opening, put back at closing
    COMMTIMEOUTS savedTimeouts{};
    bool haveSaved = false;
    COMMTIMEOUTS current{};
    bool haveCurrent = false;
    bool stuck = false;  // a request did not end even when cancelled
    OVERLAPPED* inFlight = nullptr;  // started and not yet ended

    Requests();
    ~Requests();
    Requests(const Requests&) = delete;
    Requests& operator=(const Requests&) = delete;
    bool ready() const { return read.hEvent && write.hEvent; }

    // The driver's time-outs for a read that waits readWaitMs (0: returns
    // at once with what is there) and a write that may stall writeStallMs
    // on top of the time its bytes take; 0 or the system's error.
    DWORD setTimeouts(HANDLE handle, std::uint32_t millisecondsPerByte, std::uint32_t readWaitMs,
                      std::uint32_t writeStallMs);
    // Start a request; 0 when the driver took it, or the system's error.
    DWORD startRead(HANDLE handle, std::uint8_t* data, DWORD count);
    DWORD startWrite(HANDLE handle, const std::uint8_t* data, DWORD count);
    // Waits for the request for at most waitMs and cancels it when that
    // time is up. With a turn, the wait is cut into slices of kEventSlice
    // and the turn runs between them; a turn that throws leaves the request
    // in flight for endPending().
    IoOutcome await(HANDLE handle, OVERLAPPED& request, DWORD waitMs, const std::function<void()>* turn);
    // Cancels a request still in flight and waits for it to end, before its
    // OVERLAPPED is used again or freed with the handle.
    void endPending(HANDLE handle);
};

}  // namespace qm730::win32
