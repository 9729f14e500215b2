#include "core/link/serial_registry_posix.h"

#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

namespace qm730::posix {

namespace {

// The handler may only use lock-free atomics and plain system calls.
struct OpenDevice {
    std::atomic<int> fd{-1};
    std::atomic<bool> haveSettings{false};
    std::atomic<bool> madeExclusive{false};  // this program set TIOCEXCL, so it clears it
    termios settings{};  // as the device had them when it was opened
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

constexpr int kRecordedDevices = 8;  // more open at once go unrecorded
OpenDevice openDevices[kRecordedDevices];

// Every signal whose default action ends the program (and that can be
// caught): each would leave the port raw at 19200 baud, exclusive and locked.
const int kReleaseSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGPIPE,   SIGUSR1,
                               SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};

// The kernel sends SIGPIPE to a process that writes to a pipe nobody reads,
// as coming from that process itself; another process that sends it shows
// its own number.
bool causedByOwnWrite(int sig, const siginfo_t* info) {
    return sig == SIGPIPE && info != nullptr && info->si_code == SI_USER && info->si_pid == ::getpid();
}

extern "C" void releaseOnSignal(int sig, siginfo_t* info, void*) {
    // The write that caused it fails with EPIPE, and the program reports
    // that as the output error it is.
    if (causedByOwnWrite(sig, info)) return;
    for (int entry = 0; entry < kRecordedDevices; ++entry) {
        const int fd = openDevices[entry].fd.exchange(-1);
        if (fd < 0) continue;
        ::tcflush(fd, TCOFLUSH);  // or close() would wait for the unsent bytes
        letGo(fd, entry, TCSANOW, openDevices[entry].madeExclusive.load());
        ::close(fd);
    }
    // End as the signal would have: it is blocked while this handler runs,
    // so it arrives, with its default action, as soon as the handler returns.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

int recordDevice(int fd) {
    for (int i = 0; i < kRecordedDevices; ++i) {
        int free = -1;
        if (openDevices[i].fd.compare_exchange_strong(free, fd)) {
            if (::tcgetattr(fd, &openDevices[i].settings) == 0) openDevices[i].haveSettings.store(true);
            return i;
        }
    }
    return -1;
}

void recordMadeExclusive(int entry, bool madeExclusive) {
    if (entry >= 0) openDevices[entry].madeExclusive.store(madeExclusive);
}

void forgetDevice(int entry) {
    if (entry < 0) return;
    openDevices[entry].haveSettings.store(false);
    openDevices[entry].madeExclusive.store(false);
    openDevices[entry].fd.store(-1);
}

void letGo(int fd, int entry, int when, bool madeExclusive) {
    if (entry >= 0 && openDevices[entry].haveSettings.load())
        ::tcsetattr(fd, when, &openDevices[entry].settings);
    if (madeExclusive) ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
}

void releaseOnEndingSignals() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_sigaction = releaseOnSignal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (int sig : kReleaseSignals) sigaddset(&action.sa_mask, sig);  // one release at a time
    for (int sig : kReleaseSignals) {
        struct sigaction previous {};
        if (::sigaction(sig, nullptr, &previous) == 0 && (previous.sa_flags & SA_SIGINFO) == 0 &&
            previous.sa_handler == SIG_DFL)
            ::sigaction(sig, &action, nullptr);
    }
}

}  // namespace qm730::posix
