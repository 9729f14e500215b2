// The table-file lock on POSIX systems: flock on a descriptor of the file.
#include "core/config/tablefilelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace qm730 {

namespace {

using Clock = std::chrono::steady_clock;

// A lock offers nothing to wait on with a time limit (a blocking flock ends
// early only for a signal), so a waiter tries again at this pace, asleep in
// between. A writer holds the lock for a few milliseconds.
constexpr std::chrono::milliseconds kRetryPause{20};

// Opens the regular file the path names, for nothing but its lock; -1 when
// there is none or it cannot be opened. The kind is checked before the open:
// opening a device can act on it.
int openForLock(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    constexpr int kFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(path.c_str(), O_RDONLY | kFlags);
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | kFlags);
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

enum class Try { Locked, Busy, Unsupported };

Try tryLock(int fd) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Try::Locked;
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? Try::Busy : Try::Unsupported;
    }
}

// The name still leads to the locked file: no save replaced it meanwhile.
bool stillNamed(const std::string& path, int fd) {
    struct stat named {}, locked {};
    return ::stat(path.c_str(), &named) == 0 && ::fstat(fd, &locked) == 0 && named.st_dev == locked.st_dev &&
           named.st_ino == locked.st_ino;
}

}  // namespace

FileResult TableFileLock::acquire(const std::string& path, std::chrono::milliseconds wait) {
    release();
    const Clock::time_point deadline = Clock::now() + wait;
    for (;;) {
        const int fd = openForLock(path);
        if (fd < 0) return {};
        Try attempt;
        while ((attempt = tryLock(fd)) == Try::Busy && Clock::now() < deadline)
            std::this_thread::sleep_for(std::min<Clock::duration>(kRetryPause, deadline - Clock::now()));
        if (attempt == Try::Unsupported) {  // a file system without locks: nothing to take turns by
            ::close(fd);
            return {};
        }
        if (attempt == Try::Locked && stillNamed(path, fd)) {
            handle_ = fd;
            return {};
        }
        ::close(fd);
        if (Clock::now() >= deadline) return lockedByAnother(wait);
    }
}

void TableFileLock::release() {
    if (!held()) return;
    ::close(static_cast<int>(handle_));  // closing lets go of the lock
    handle_ = kNone;
}

}  // namespace qm730
