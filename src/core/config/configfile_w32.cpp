// Table files on Windows: Win32 file calls on wide \\?\ names, so neither
// the 260-character limit nor the console's code page limits a file name.
#include "core/config/configfile.h"

#include <algorithm>
#include <random>
#include <vector>

#include "core/config/win32_text.h"

namespace qm730 {

namespace {

using win32::Handle;

constexpr const char* kNotRegular = "not a regular file";
constexpr const char* kIsDirectory = "Is a directory";
constexpr const char* kLinkLeadsNowhere = "dangling symbolic link";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileResult failure(FileStatus status, DWORD error) {
    FileResult result;
    result.status = status;
    result.errorNumber = static_cast<int>(error);
    result.reason = win32::errorText(error);
    return result;
}

// A refusal for what the file is rather than for a failing call.
FileResult refusal(FileStatus status, const char* reason) {
    FileResult result;
    result.status = status;
    result.reason = reason;
    return result;
}

FileResult saved(FileContents contents) {
    FileResult result;
    result.bytes = contents.size();
    return result;
}

// The replacing file shows itself as the old one did (hidden, system,
// archive...); a failure here does not undo the save.
void keepAttributes(const std::wstring& path, DWORD attributes) {
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD now = ::GetFileAttributesW(path.c_str());
    if (now == INVALID_FILE_ATTRIBUTES || (now & kKept) == (attributes & kKept)) return;
    const DWORD wanted = (now & ~kKept & ~FILE_ATTRIBUTE_NORMAL) | (attributes & kKept);
    ::SetFileAttributesW(path.c_str(), wanted ? wanted : FILE_ATTRIBUTE_NORMAL);
}

// A console interrupt (Ctrl+C, Ctrl+Break, a closed console window) that
// arrives while a save runs waits until the save is over: the program then
// ends with the old file or the whole new one and no temporary file.
SRWLOCK saveLock = SRWLOCK_INIT;

BOOL WINAPI waitForSaves(DWORD) {
    ::AcquireSRWLockExclusive(&saveLock);
    ::ReleaseSRWLockExclusive(&saveLock);
    return FALSE;  // the next handler decides what the interrupt does
}

class SaveInProgress {
public:
    SaveInProgress() {
        static const bool installed = ::SetConsoleCtrlHandler(waitForSaves, TRUE) != 0;
        (void)installed;
        ::AcquireSRWLockShared(&saveLock);
    }
    ~SaveInProgress() { ::ReleaseSRWLockShared(&saveLock); }
    SaveInProgress(const SaveInProgress&) = delete;
    SaveInProgress& operator=(const SaveInProgress&) = delete;
};

bool readFully(HANDLE file, std::uint8_t* buffer, std::size_t size, std::size_t& done) {
    done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer + done, static_cast<DWORD>(size - done), &got, nullptr)) return false;
        if (got == 0) break;
        done += got;
    }
    return true;
}

// Writes everything at the offset or fails; a write that makes no progress
// counts as a full disk, never as success.
bool writeFully(HANDLE file, const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED at{};
        const std::uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD put = 0;
        if (!::WriteFile(file, data + done, static_cast<DWORD>(size - done), &put, &at)) return false;
        if (put == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return false;
        }
        done += put;
    }
    return true;
}

bool setLength(HANDLE file, std::uint64_t length) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(length);
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

std::wstring directoryOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L".";
    // Keep the separator of a root ("\\?\C:\"): without it the name is the drive.
    if (slash > 0 && path[slash - 1] == L':') return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

// The file a save writes.
struct SaveTarget {
    std::wstring path;  // \\?\ form; an existing symbolic link is followed to the file it names
    bool exists = false;
    DWORD links = 1;
    DWORD attributes = 0;
};

// Finds the file a save writes and refuses what must not be written: a
// device, a link that leads nowhere, a folder, a read-only file, a file that
// cannot be opened for writing (another program holds it).
FileResult findSaveTarget(const std::string& path, SaveTarget& target) {
    target.path = win32::fileNameForSystem(path);
    if (target.path.empty()) return refusal(FileStatus::NotRegular, kNotRegular);
    DWORD attributes = ::GetFileAttributesW(target.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return {};
        return failure(FileStatus::CannotCreate, error);
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        Handle linked(::CreateFileW(target.path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!linked.valid()) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return refusal(FileStatus::CannotCreate, kLinkLeadsNowhere);
            return failure(FileStatus::CannotCreate, error);
        }
        std::wstring resolved(MAX_PATH, L'\0');
        DWORD length = ::GetFinalPathNameByHandleW(linked.get(), resolved.data(), static_cast<DWORD>(resolved.size()), 0);
        if (length >= resolved.size()) {
            resolved.resize(length + 1);
            length = ::GetFinalPathNameByHandleW(linked.get(), resolved.data(), static_cast<DWORD>(resolved.size()), 0);
        }
        if (length == 0) return failure(FileStatus::CannotCreate, ::GetLastError());
        resolved.resize(length);
        target.path = resolved;
        attributes = ::GetFileAttributesW(target.path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return failure(FileStatus::CannotCreate, ::GetLastError());
    }
    target.exists = true;
    target.attributes = attributes;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return refusal(FileStatus::NotRegular, kIsDirectory);
    if (attributes & FILE_ATTRIBUTE_READONLY) return failure(FileStatus::CannotCreate, ERROR_ACCESS_DENIED);
    Handle file(::CreateFileW(target.path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) return failure(FileStatus::CannotCreate, ::GetLastError());
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) return refusal(FileStatus::NotRegular, kNotRegular);
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file.get(), &info)) target.links = info.nNumberOfLinks;
    return {};
}

// A name in the folder that nothing has yet: short, so that a target name
// of any legal length leaves room for it.
std::wstring unusedName(const std::wstring& folder) {
    static constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kLetters) - 2);
    const std::wstring prefix = folder + (folder.back() == L'\\' ? L"" : L"\\") + L".qm730-";
    std::wstring candidate;
    for (int attempt = 0; attempt < 100; ++attempt) {
        candidate = prefix;
        for (int i = 0; i < 6; ++i) candidate += kLetters[pick(random)];
        if (::GetFileAttributesW(candidate.c_str()) == INVALID_FILE_ATTRIBUTES && ::GetLastError() == ERROR_FILE_NOT_FOUND)
            break;
    }
    return candidate;
}

// Creates a new, empty file of an unused name in the folder.
HANDLE createTemporary(const std::wstring& folder, std::wstring& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = unusedName(folder);
        const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

// Writes the contents into the temporary file and makes it durable; on
// failure the temporary file is removed.
FileResult fillTemporary(Handle& file, const std::wstring& temporary, FileContents contents) {
    if (!writeFully(file.get(), contents.data(), contents.size(), 0) || !::FlushFileBuffers(file.get()) || !file.close()) {
        const DWORD error = ::GetLastError();
        file.close();
        ::DeleteFileW(temporary.c_str());
        return failure(FileStatus::WriteFailed, error);
    }
    return {};
}

// A new file appears whole under its name, and never over a file that
// another program created meanwhile.
FileResult createNewFile(const std::wstring& path, FileContents contents) {
    std::wstring temporary;
    Handle file(createTemporary(directoryOf(path), temporary));
    if (!file.valid()) return failure(FileStatus::CannotCreate, ::GetLastError());
    if (FileResult filled = fillTemporary(file, temporary, contents); !filled.ok()) return filled;
    if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(temporary.c_str());
        return failure(FileStatus::CannotReplace, error);
    }
    return saved(contents);
}

// Replaces the file in one step by a new one that takes over its identity:
// ReplaceFileW keeps the old file's attributes, security (owner and access
// list), creation time and short name. The old file is moved to a backup
// name during the swap, so that no failure of it can lose the old file; the
// backup is removed when the swap is done. Sets fallBack (and leaves
// everything as it was) when no new file can be made beside it.
FileResult replaceFile(const SaveTarget& target, FileContents contents, bool& fallBack) {
    const std::wstring folder = directoryOf(target.path);
    std::wstring temporary;
    Handle file(createTemporary(folder, temporary));
    if (!file.valid()) {
        fallBack = true;
        return {};
    }
    if (FileResult filled = fillTemporary(file, temporary, contents); !filled.ok()) return filled;
    const std::wstring backup = unusedName(folder);
    if (::ReplaceFileW(target.path.c_str(), temporary.c_str(), backup.c_str(),
                       REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)) {
        ::DeleteFileW(backup.c_str());
        keepAttributes(target.path, target.attributes);
        return saved(contents);
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        // The old file already has the backup name: it goes back.
        ::MoveFileExW(backup.c_str(), target.path.c_str(), MOVEFILE_WRITE_THROUGH);
        ::DeleteFileW(temporary.c_str());
        return failure(FileStatus::CannotReplace, error);
    }
    // Both files have kept their names. A file system without ReplaceFileW
    // still renames atomically; the new file then has the folder's default
    // security instead of the old file's.
    if (error != ERROR_UNABLE_TO_MOVE_REPLACEMENT && error != ERROR_UNABLE_TO_REMOVE_REPLACED &&
        ::GetFileAttributesW(target.path.c_str()) != INVALID_FILE_ATTRIBUTES &&
        ::MoveFileExW(temporary.c_str(), target.path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        keepAttributes(target.path, target.attributes);
        return saved(contents);
    }
    ::DeleteFileW(temporary.c_str());
    return failure(FileStatus::CannotReplace, error);
}

// Writes the contents over the file itself, keeping it and with it every
// name and its security. Room is reserved before the first byte is written;
// if the write still fails, the old bytes are put back as far as the file
// system allows.
FileResult writeInPlace(const SaveTarget& target, FileContents contents) {
    bool readable = true;
    Handle file(::CreateFileW(target.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    if (!file.valid() && ::GetLastError() == ERROR_ACCESS_DENIED) {
        readable = false;
        file.reset(::CreateFileW(target.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    if (!file.valid()) return failure(FileStatus::CannotCreate, ::GetLastError());
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) return refusal(FileStatus::NotRegular, kNotRegular);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) return failure(FileStatus::CannotCreate, ::GetLastError());
    const auto oldSize = static_cast<std::uint64_t>(size.QuadPart);
    const std::uint64_t newSize = contents.size();

    // The old bytes, all of them, so that a longer file already cut to the
    // contents can be made whole again (up to a size no table file reaches).
    constexpr std::uint64_t kRestoreLimit = std::uint64_t{64} << 20;
    std::vector<std::uint8_t> old(static_cast<std::size_t>(std::min(oldSize, kRestoreLimit)));
    std::size_t got = 0;
    const bool restorable = readable && readFully(file.get(), old.data(), old.size(), got) && got == old.size();
    const auto undo = [&](DWORD error) {
        if (restorable) writeFully(file.get(), old.data(), old.size(), 0);
        setLength(file.get(), oldSize);
        ::FlushFileBuffers(file.get());
        return failure(FileStatus::WriteFailed, error);
    };

    if (oldSize < newSize && !setLength(file.get(), newSize)) return undo(::GetLastError());
    if (!writeFully(file.get(), contents.data(), contents.size(), 0)) return undo(::GetLastError());
    // Until the file is cut to the new contents and on the disk, a failure
    // still puts the old bytes back; after that only the close can fail, and
    // the file then holds the whole new contents.
    if (oldSize > newSize && !setLength(file.get(), newSize)) return undo(::GetLastError());
    if (!::FlushFileBuffers(file.get())) return undo(::GetLastError());
    if (!file.close()) return failure(FileStatus::WriteFailed, ::GetLastError());
    return saved(contents);
}

}  // namespace

FileResult loadTableFile(const std::string& path, ConfigImage& image) {
    // The kind is checked before the open: opening a device can act on it.
    const std::wstring name = win32::fileNameForSystem(path);
    if (name.empty()) return refusal(FileStatus::NotRegular, kNotRegular);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failure(FileStatus::CannotOpen, ::GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return refusal(FileStatus::NotRegular, kIsDirectory);
    Handle file(::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr));
    if (!file.valid()) return failure(FileStatus::CannotOpen, ::GetLastError());
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) return refusal(FileStatus::NotRegular, kNotRegular);

    // Read into a buffer first so a read error leaves the image untouched.
    // One byte more than an image tells a longer file from a whole one.
    std::vector<std::uint8_t> buffer(kImageSize + 1);
    std::size_t got = 0;
    if (!readFully(file.get(), buffer.data(), buffer.size(), got)) return failure(FileStatus::ReadFailed, ::GetLastError());

    std::uintmax_t size = got;
    if (got > kImageSize) {
        LARGE_INTEGER recorded{};
        if (!::GetFileSizeEx(file.get(), &recorded)) return failure(FileStatus::ReadFailed, ::GetLastError());
        size = std::max<std::uintmax_t>(got, static_cast<std::uintmax_t>(recorded.QuadPart));
    }

    FileResult result;
    result.bytes = std::min<std::size_t>(got, kImageSize);
    result.fileSize = size;
    std::copy_n(buffer.begin(), result.bytes, image.bytes().begin());
    return result;
}

FileResult saveFileContents(const std::string& path, FileContents contents) {
    const SaveInProgress saving;
    // Another program may create the file while a new one is written: the
    // save then starts again and replaces that file as an existing one.
    constexpr int kStarts = 3;
    for (int start = 1;; ++start) {
        SaveTarget target;
        if (FileResult found = findSaveTarget(path, target); !found.ok()) return found;
        if (!target.exists) {
            FileResult created = createNewFile(target.path, contents);
            const auto error = static_cast<DWORD>(created.errorNumber);
            if (created.status == FileStatus::CannotReplace &&
                (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) && start < kStarts)
                continue;
            return created;
        }
        // A file with several names keeps them all only if it is written in place.
        if (target.links == 1) {
            bool fallBack = false;
            FileResult replaced = replaceFile(target, contents, fallBack);
            if (!fallBack) return replaced;
        }
        return writeInPlace(target, contents);
    }
}

FileResult saveTableFile(const std::string& path, const ConfigImage& image) { return saveFileContents(path, image.bytes()); }

FileResult checkSaveTarget(const std::string& path) {
    SaveTarget target;
    if (FileResult found = findSaveTarget(path, target); !found.ok()) return found;
    if (!target.exists) {
        // Windows has no cheap question for "may I create a file here":
        // a file that removes itself when closed answers it.
        std::wstring probe;
        const std::wstring folder = directoryOf(target.path);
        for (int attempt = 0; attempt < 100; ++attempt) {
            probe = unusedName(folder);
            Handle file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
            if (file.valid()) return {};
            if (::GetLastError() != ERROR_FILE_EXISTS) return failure(FileStatus::CannotCreate, ::GetLastError());
        }
        return failure(FileStatus::CannotCreate, ERROR_FILE_EXISTS);
    }
    return {};
}

}  // namespace qm730
