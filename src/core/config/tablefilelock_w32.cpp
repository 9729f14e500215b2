// The table-file lock on Windows: LockFileEx on a handle of the file.
#include "core/config/tablefilelock.h"

#include <algorithm>

#include "core/config/win32_text.h"

namespace qm730 {

namespace {

using Clock = std::chrono::steady_clock;
using win32::Handle;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Windows' byte locks keep other handles from the bytes they cover, so the
// lock covers one byte at 1 TiB, which no file of this program reaches:
// reading and writing the file stay free.
constexpr DWORD kLockedByteHigh = 0x100;

// A lock offers nothing to wait on with a time limit, so a waiter tries
// again at this pace, asleep in between. A writer holds the lock for a few
// milliseconds.
constexpr DWORD kRetryPauseMs = 20;

OVERLAPPED lockedByte() {
    OVERLAPPED at{};
    at.OffsetHigh = kLockedByteHigh;
    return at;
}

// Opens the file the name leads to, for nothing but its lock; an invalid
// handle when there is none or it cannot be opened. The kind is checked
// before the open: opening a device can act on it.
HANDLE openForLock(const std::wstring& name) {
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (name.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return INVALID_HANDLE_VALUE;
    Handle file(::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid() && ::GetLastError() == ERROR_ACCESS_DENIED)
        file.reset(::CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) return INVALID_HANDLE_VALUE;
    return file.release();
}

enum class Try { Locked, Busy, Unsupported };

Try tryLock(HANDLE file) {
    OVERLAPPED at = lockedByte();
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return Try::Locked;
    return ::GetLastError() == ERROR_LOCK_VIOLATION ? Try::Busy : Try::Unsupported;
}

bool sameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return ::GetFileInformationByHandle(a, &first) && ::GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

// The name still leads to the locked file: no save replaced it meanwhile.
bool stillNamed(const std::wstring& name, HANDLE locked) {
    const Handle named(::CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                     nullptr));
    return named.valid() && sameFile(named.get(), locked);
}

void unlock(HANDLE file) {
    OVERLAPPED at = lockedByte();
    ::UnlockFileEx(file, 0, 1, 0, &at);  // at once: a close lets go of it only some time later
}

}  // namespace

FileResult TableFileLock::acquire(const std::string& path, std::chrono::milliseconds wait) {
    release();
    const std::wstring name = win32::fileNameForSystem(path);
    const Clock::time_point deadline = Clock::now() + wait;
    for (;;) {
        Handle file(openForLock(name));
        if (!file.valid()) return {};
        Try attempt;
        while ((attempt = tryLock(file.get())) == Try::Busy && Clock::now() < deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            ::Sleep(static_cast<DWORD>(std::min<long long>(kRetryPauseMs, left + 1)));
        }
        if (attempt == Try::Unsupported) return {};  // a file system without locks: nothing to take turns by
        if (attempt == Try::Locked) {
            if (stillNamed(name, file.get())) {
                handle_ = reinterpret_cast<std::intptr_t>(file.release());
                return {};
            }
            unlock(file.get());
        }
        if (Clock::now() >= deadline) return lockedByAnother(wait);
    }
}

void TableFileLock::release() {
    if (!held()) return;
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    unlock(file);
    ::CloseHandle(file);
    handle_ = kNone;
}

}  // namespace qm730
