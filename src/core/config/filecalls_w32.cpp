// The file calls on Windows: Win32 calls on wide \\?\ names.
#include "core/config/filecalls.h"

#include "core/config/win32_text.h"

namespace qm730::filecalls {

using win32::Handle;

struct File {
    Handle handle;
};

void CloseFile::operator()(File* file) const { delete file; }

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Windows' byte locks keep other handles from the bytes they cover, so the
// lock covers one byte at 1 TiB, which no file of this program reaches:
// reading and writing the file stay free.
constexpr DWORD kLockedByteHigh = 0x100;

HANDLE handleOf(File& file) { return file.handle.get(); }

// The error of the call just made: GetLastError(), or 0 when it succeeded.
Error result(BOOL succeeded) { return succeeded ? 0 : static_cast<Error>(::GetLastError()); }

Error holding(HANDLE handle, OpenFile& file) {
    if (handle == INVALID_HANDLE_VALUE) return static_cast<Error>(::GetLastError());
    file.reset(new File{Handle(handle)});
    return 0;
}

Error attributesOf(const Name& name, DWORD& attributes) {
    attributes = ::GetFileAttributesW(name.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ? static_cast<Error>(::GetLastError()) : 0;
}

Info infoFrom(DWORD attributes, bool linksShown) {
    Info info;
    if (linksShown && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) info.kind = Kind::Link;
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY) info.kind = Kind::Directory;
    else info.kind = Kind::Regular;
    info.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    info.mode = attributes;
    return info;
}

OVERLAPPED at(std::uint64_t position) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(position);
    where.OffsetHigh = static_cast<DWORD>(position >> 32);
    return where;
}

OVERLAPPED lockedByte() {
    OVERLAPPED where{};
    where.OffsetHigh = kLockedByteHigh;
    return where;
}

// The replacing file shows itself as the old one did (hidden, system,
// archive...); a failure here does not undo the save.
void keepAttributes(const Name& name, DWORD attributes) {
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD now = ::GetFileAttributesW(name.c_str());
    if (now == INVALID_FILE_ATTRIBUTES || (now & kKept) == (attributes & kKept)) return;
    const DWORD wanted = (now & ~kKept & ~FILE_ATTRIBUTE_NORMAL) | (attributes & kKept);
    ::SetFileAttributesW(name.c_str(), wanted ? wanted : FILE_ATTRIBUTE_NORMAL);
}

// Opens with the access asked for, or for writing only where that is
// refused; `readable` tells which.
Error openReadingIfAllowed(const Name& name, DWORD access, DWORD share, OpenFile& file, bool& readable) {
    readable = true;
    HANDLE handle = ::CreateFileW(name.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        readable = false;
        handle = ::CreateFileW(name.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    return holding(handle, file);
}

// A console interrupt (Ctrl+C, Ctrl+Break, a closed console window) that
// arrives while a save runs waits until the save is over.
SRWLOCK saveLock = SRWLOCK_INIT;

BOOL WINAPI waitForSaves(DWORD) {
    ::AcquireSRWLockExclusive(&saveLock);
    ::ReleaseSRWLockExclusive(&saveLock);
    return FALSE;  // the next handler decides what the interrupt does
}

}  // namespace

bool systemName(const std::string& path, Name& name) {
    name = win32::fileNameForSystem(path);
    return !name.empty();
}

Name folderOf(const Name& name) {
    const std::wstring& path = name.native();
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L".";
    // Keep the separator of a root ("\\?\C:\"): without it the name is the drive.
    if (slash > 0 && path[slash - 1] == L':') return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

std::string fullName(const std::string& path) {
    const std::wstring given = win32::widen(path);
    const DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    full.resize(::GetFullPathNameW(given.c_str(), size, full.data(), nullptr));
    return win32::narrow(full);
}

std::string errorText(Error error) { return win32::errorText(static_cast<DWORD>(error)); }
bool isMissing(Error error) { return error == ERROR_FILE_NOT_FOUND; }
bool isAlreadyThere(Error error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }
Error accessDenied() { return ERROR_ACCESS_DENIED; }
Error folderError() { return 0; }

Error lookAt(const Name& name, Info& info) {
    DWORD attributes = 0;
    if (const Error error = attributesOf(name, attributes)) return error;
    info = infoFrom(attributes, true);
    return 0;
}

Error lookThrough(const Name& name, Info& info) {
    DWORD attributes = 0;
    if (const Error error = attributesOf(name, attributes)) return error;
    info = infoFrom(attributes, false);
    return 0;
}

Error followLinks(Name& name, Info& info) {
    const Handle linked(::CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                      nullptr));
    if (!linked.valid()) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return static_cast<Error>(error);
        info.kind = Kind::Missing;
        return 0;
    }
    std::wstring resolved(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(linked.get(), resolved.data(), static_cast<DWORD>(resolved.size()), 0);
    if (length >= resolved.size()) {
        resolved.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(linked.get(), resolved.data(), static_cast<DWORD>(resolved.size()), 0);
    }
    if (length == 0) return static_cast<Error>(::GetLastError());
    resolved.resize(length);
    name = resolved;
    return lookThrough(name, info);
}

Error infoOf(File& file, Info& info) {
    info = Info{};
    if (::GetFileType(handleOf(file)) != FILE_TYPE_DISK) {
        info.kind = Kind::Other;
        return 0;
    }
    info.kind = Kind::Regular;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handleOf(file), &size)) return static_cast<Error>(::GetLastError());
    info.size = static_cast<std::uint64_t>(size.QuadPart);
    return 0;
}

// Another program that holds the file without sharing writes refuses this open.
Error mayWrite(const Name& name, Info& info) {
    const Handle file(::CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) return static_cast<Error>(::GetLastError());
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        info.kind = Kind::Other;
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION about{};
    if (::GetFileInformationByHandle(file.get(), &about)) info.links = about.nNumberOfLinks;
    return 0;
}

// Windows has no cheap question for "may I create a file here": a file that
// removes itself when closed answers it.
Error mayCreateIn(const Name& folder) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const Handle probe(::CreateFileW(temporaryNameIn(folder).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (probe.valid()) return 0;
        if (::GetLastError() != ERROR_FILE_EXISTS) return static_cast<Error>(::GetLastError());
    }
    return ERROR_FILE_EXISTS;
}

Error openToRead(const Name& name, OpenFile& file) {
    return holding(::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                 nullptr),
                   file);
}

Error openToRewrite(const Name& name, OpenFile& file, bool& readable) {
    return openReadingIfAllowed(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, file, readable);
}

Error openToLock(const Name& name, OpenFile& file) {
    bool readable = true;
    return openReadingIfAllowed(name, GENERIC_READ, kShareAll, file, readable);
}

Error createNew(const Name& name, Access, OpenFile& file) {
    return holding(::CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                 nullptr),
                   file);
}

Error close(OpenFile& file) {
    const Error error = result(file->handle.close());
    file.reset();
    return error;
}

Error readSome(File& file, std::uint8_t* buffer, std::size_t size, std::size_t& got) {
    DWORD read = 0;
    const Error error = result(::ReadFile(handleOf(file), buffer, static_cast<DWORD>(size), &read, nullptr));
    got = read;
    return error;
}

Error writeSomeAt(File& file, std::uint64_t offset, const std::uint8_t* data, std::size_t size, std::size_t& put) {
    OVERLAPPED where = at(offset);
    DWORD written = 0;
    if (!::WriteFile(handleOf(file), data, static_cast<DWORD>(size), &written, &where))
        return static_cast<Error>(::GetLastError());
    put = written;
    return written == 0 ? ERROR_DISK_FULL : 0;
}

Error reserve(File& file, std::uint64_t size) { return setLength(file, size); }

Error setLength(File& file, std::uint64_t size) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(size);
    return result(::SetFilePointerEx(handleOf(file), position, nullptr, FILE_BEGIN) && ::SetEndOfFile(handleOf(file)));
}

Error flush(File& file) { return result(::FlushFileBuffers(handleOf(file))); }

// ReplaceFileW keeps the old file's attributes, security (owner and access
// list), creation time and short name: nothing to take over beforehand.
Error takeOver(File&, const Info&, bool& ownerKept) {
    ownerKept = true;
    return 0;
}

Error moveNew(const Name& from, const Name& to) {
    return result(::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH));
}

// The old file is moved to a backup name during the swap, so that no failure
// of it can lose the old file; the backup is removed when the swap is done.
Error replace(const Name& from, const Name& to, const Info& old) {
    const Name backup = temporaryNameIn(folderOf(to));
    if (::ReplaceFileW(to.c_str(), from.c_str(), backup.c_str(),
                       REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)) {
        ::DeleteFileW(backup.c_str());
        keepAttributes(to, old.mode);
        return 0;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        // The old file already has the backup name: it goes back.
        ::MoveFileExW(backup.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
        return static_cast<Error>(error);
    }
    // Both files have kept their names. A file system without ReplaceFileW
    // still renames atomically; the new file then has the folder's default
    // security instead of the old file's.
    if (error != ERROR_UNABLE_TO_MOVE_REPLACEMENT && error != ERROR_UNABLE_TO_REMOVE_REPLACED &&
        ::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES &&
        ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        keepAttributes(to, old.mode);
        return 0;
    }
    return static_cast<Error>(error);
}

void removeFile(const Name& name) { ::DeleteFileW(name.c_str()); }

// MoveFileExW and ReplaceFileW write the folder through themselves.
void flushFolder(const Name&) {}

LockTry tryLock(File& file) {
    OVERLAPPED where = lockedByte();
    if (::LockFileEx(handleOf(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where))
        return LockTry::Locked;
    return ::GetLastError() == ERROR_LOCK_VIOLATION ? LockTry::Busy : LockTry::Unsupported;
}

void unlock(File& file) {
    OVERLAPPED where = lockedByte();
    ::UnlockFileEx(handleOf(file), 0, 1, 0, &where);
}

bool sameFile(const Name& name, File& file) {
    const Handle named(::CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                     nullptr));
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return named.valid() && ::GetFileInformationByHandle(named.get(), &first) &&
           ::GetFileInformationByHandle(handleOf(file), &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

struct InterruptsHeld::Held {};

InterruptsHeld::InterruptsHeld() {
    static const bool installed = ::SetConsoleCtrlHandler(waitForSaves, TRUE) != 0;
    (void)installed;
    ::AcquireSRWLockShared(&saveLock);
}

InterruptsHeld::~InterruptsHeld() { ::ReleaseSRWLockShared(&saveLock); }

}  // namespace qm730::filecalls
