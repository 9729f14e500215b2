// One writer at a time on a table file. Whoever reads a table file, changes
// it and writes it back holds this lock from before the read until the new
// file is in place, so two programs changing one file at the same moment
// take turns and neither change is lost; a window's save holds it while it
// writes. The lock is advisory: it binds the programs of this system, which
// all take it, and keeps nobody from reading.
//
// The lock sits on the file itself; no lock file is made beside it. A save
// puts a new file in the old one's place, so the lock of the writer before
// stays on a file that no longer has the name: a waiter that gets the lock
// checks that the name still leads to the file it locked, and otherwise
// starts again on the file the name leads to now. It then reads what the
// writer before it wrote.
//
// The lock is the system's own lock on the whole file (filecalls.h): flock
// on POSIX, and on Windows LockFileEx on a byte far beyond any table file's
// end, so that reading the file is not hindered.
#pragma once

#include <chrono>
#include <string>

#include "core/config/configfile.h"
#include "core/config/filecalls.h"

namespace qm730 {

// How long a writer waits for another one to finish before giving up.
inline constexpr std::chrono::milliseconds kTableFileLockWait{5000};

class TableFileLock {
public:
    TableFileLock() = default;
    ~TableFileLock() { release(); }
    TableFileLock(const TableFileLock&) = delete;
    TableFileLock& operator=(const TableFileLock&) = delete;

    // Locks the file the path names, waiting up to `wait` while another
    // holds it; after that FileStatus::InUse ("in use by another program").
    // A name that leads to no regular file (a file not made yet, a folder, a
    // device) or to a file this user cannot open at all needs no lock: the
    // call succeeds without one, and the save says what it makes of the name.
    FileResult acquire(const std::string& path, std::chrono::milliseconds wait = kTableFileLockWait);
    void release();
    bool held() const { return file_ != nullptr; }

private:
    filecalls::OpenFile file_;  // open while the lock is held
};

// The refusal when the wait is over: "in use by another program (waited 5 s)".
inline FileResult lockedByAnother(std::chrono::milliseconds wait) {
    const auto count = wait.count();
    FileResult result;
    result.status = FileStatus::InUse;
    result.reason = "in use by another program (waited " +
                    (count % 1000 == 0 ? std::to_string(count / 1000) + " s)" : std::to_string(count) + " ms)");
    return result;
}

}  // namespace qm730
