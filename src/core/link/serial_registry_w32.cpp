#include "core/link/serial_registry_w32.h"

#include <atomic>

namespace qm730::win32 {

namespace {

struct OpenPort {
    std::atomic<HANDLE> handle{nullptr};
    std::atomic<bool> haveSettings{false};
    DCB settings{};  // as the port had them when it was opened
    COMMTIMEOUTS timeouts{};
};
static_assert(std::atomic<HANDLE>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

constexpr int kRecordedPorts = 8;  // more open at once go unrecorded
OpenPort openPorts[kRecordedPorts];

// Set once an interrupt has released the ports: the program is ending, and
// a failure that the release caused is not reported.
std::atomic<bool> releasedForExit{false};

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
    for (OpenPort& port : openPorts) {
        const HANDLE handle = port.handle.exchange(nullptr);
        if (!handle) continue;
        // Abort what is under way (the thread that waits on it finds the
        // program ending), drop what the line has not taken, and put the
        // settings back. The handle itself closes with the process.
        ::PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        if (port.haveSettings.load()) {
            ::SetCommState(handle, &port.settings);
            ::SetCommTimeouts(handle, &port.timeouts);
        }
    }
    // The next handler, in the end the system's own, ends the program as
    // the interrupt would have.
    return FALSE;
}

}  // namespace

int recordPort(HANDLE handle, const DCB& settings, const COMMTIMEOUTS& timeouts) {
    for (int i = 0; i < kRecordedPorts; ++i) {
        HANDLE free = nullptr;
        if (openPorts[i].handle.compare_exchange_strong(free, handle)) {
            openPorts[i].settings = settings;
            openPorts[i].timeouts = timeouts;
            openPorts[i].haveSettings.store(true);
            return i;
        }
    }
    return -1;
}

bool forgetPort(int entry, HANDLE handle) {
    if (entry < 0) return true;
    HANDLE expected = handle;
    const bool ours = openPorts[entry].handle.compare_exchange_strong(expected, nullptr);
    openPorts[entry].haveSettings.store(false);
    return ours;
}

void releaseOnConsoleEnd() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    ::SetConsoleCtrlHandler(releaseOnInterrupt, TRUE);
}

void parkIfReleasedForExit() {
    if (releasedForExit.load()) ::Sleep(INFINITE);
}

}  // namespace qm730::win32
