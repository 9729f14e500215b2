// The table-file lock, over the system's own file locks (filecalls.h).
#include "core/config/tablefilelock.h"

#include <algorithm>
#include <thread>

namespace qm730 {

namespace {

using namespace filecalls;
using Clock = std::chrono::steady_clock;

// A lock offers nothing to wait on with a time limit (a blocking flock ends
// early only for a signal), so a waiter tries again at this pace, asleep in
// between. A writer holds the lock for a few milliseconds.
constexpr std::chrono::milliseconds kRetryPause{20};

// Opens the regular file the name leads to, for nothing but its lock;
// nothing when there is none or it cannot be opened. The kind is checked
// before the open: opening a device can act on it.
OpenFile openForLock(const Name& name) {
    Info info;
    OpenFile file;
    if (lookThrough(name, info) != 0 || info.kind != Kind::Regular) return {};
    if (openToLock(name, file) != 0 || infoOf(*file, info) != 0 || info.kind != Kind::Regular) return {};
    return file;
}

}  // namespace

FileResult TableFileLock::acquire(const std::string& path, std::chrono::milliseconds wait) {
    release();
    Name name;
    if (!systemName(path, name)) return {};
    const Clock::time_point deadline = Clock::now() + wait;
    for (;;) {
        OpenFile file = openForLock(name);
        if (!file) return {};
        LockTry attempt;
        while ((attempt = tryLock(*file)) == LockTry::Busy && Clock::now() < deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            std::this_thread::sleep_for(std::min(kRetryPause, left));
        }
        if (attempt == LockTry::Unsupported) return {};  // a file system without locks: nothing to take turns by
        if (attempt == LockTry::Locked) {
            if (sameFile(name, *file)) {
                file_ = std::move(file);
                return {};
            }
            unlock(*file);  // a save replaced the file meanwhile: on to the one the name leads to now
        }
        if (Clock::now() >= deadline) return lockedByAnother(wait);
    }
}

void TableFileLock::release() {
    if (!held()) return;
    unlock(*file_);  // at once: on Windows a close lets go of it only some time later
    file_.reset();
}

}  // namespace qm730
