// Table files on Linux: POSIX file calls, plus renameat2 and fallocate.
#include "core/config/configfile.h"
#include "core/config/file_descriptor.h"
#include "core/config/savefaults.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace qm730 {

namespace {

using savefault::Call;
using savefault::saveCallFails;

constexpr const char* kNotRegular = "not a regular file";
constexpr const char* kLinkLeadsNowhere = "dangling symbolic link";

FileResult failure(FileStatus status, int error) {
    FileResult result;
    result.status = status;
    result.errorNumber = error;
    result.reason = std::strerror(error);
    return result;
}

// A refusal for what the file is rather than for a failing call.
FileResult refusal(FileStatus status, const char* reason) {
    FileResult result;
    result.status = status;
    result.reason = reason;
    return result;
}

FileResult notRegular(const struct stat& info) {
    return S_ISDIR(info.st_mode) ? failure(FileStatus::NotRegular, EISDIR) : refusal(FileStatus::NotRegular, kNotRegular);
}

// Closes the file now and reports the result: a close can be the first
// place a delayed write error shows.
int closeWritten(FileDescriptor& file) {
    const int error = file.close();
    if (saveCallFails(Call::Close)) return -1;
    errno = error;
    return error == 0 ? 0 : -1;
}

// Holds back interrupt and termination signals in this thread while a save
// runs: delivered afterwards, they find the old file or the whole new one and
// no temporary file, whatever their handler does (exit included).
class SignalDeferral {
public:
    SignalDeferral() {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
        ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    ~SignalDeferral() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalDeferral(const SignalDeferral&) = delete;
    SignalDeferral& operator=(const SignalDeferral&) = delete;

private:
    sigset_t previous_;
};

int syncFile(int fd) { return saveCallFails(Call::Sync) ? -1 : ::fsync(fd); }

// Reads until the buffer is full or the file ends; -1 on a read error.
ssize_t readFully(int fd, std::uint8_t* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Reads what is left of the file and returns how much that was; -1 on error.
ssize_t countRest(int fd) {
    std::vector<std::uint8_t> chunk(65536);
    ssize_t total = 0;
    for (;;) {
        const ssize_t n = readFully(fd, chunk.data(), chunk.size());
        if (n < 0) return -1;
        total += n;
        if (static_cast<std::size_t>(n) < chunk.size()) return total;
    }
}

// Writes everything at the offset or fails; a write that makes no progress
// counts as a short write (ENOSPC), never as success.
bool writeFully(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            saveCallFails(Call::Write) ? -1 : ::pwrite(fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Makes a rename durable; a failure here does not undo the save.
void syncDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The file a save writes.
struct SaveTarget {
    std::string path;   // an existing symbolic link is followed to the name of the file it leads to
    bool exists = false;
    struct stat info {};
};

// Follows the symbolic links at the end of the name, one by one, as the
// system follows them for this user where links are protected: a link in a
// folder that everyone may write and only owners may delete from (/tmp) is
// followed only for the link's owner or when the folder's owner owns it. Any
// other user's link there could send the save to any file the saver may
// write. The rule holds here even where the system does not enforce it.
// Links in the folder part of a name are left to the system, which follows
// them when the save creates and renames its files.
FileResult followLinks(SaveTarget& target) {
    constexpr int kMostLinks = 40;  // as many as the system follows
    for (int followed = 0; S_ISLNK(target.info.st_mode); ++followed) {
        if (followed == kMostLinks) return failure(FileStatus::CannotCreate, ELOOP);
        const std::string folder = directoryOf(target.path);
        struct stat folderInfo {};
        if (::stat(folder.c_str(), &folderInfo) != 0) return failure(FileStatus::CannotCreate, errno);
        constexpr mode_t kProtectedFolder = S_ISVTX | S_IWOTH;
        if ((folderInfo.st_mode & kProtectedFolder) == kProtectedFolder && target.info.st_uid != ::geteuid() &&
            target.info.st_uid != folderInfo.st_uid)
            return failure(FileStatus::CannotCreate, EACCES);
        std::vector<char> link(static_cast<std::size_t>(std::max<off_t>(target.info.st_size, 255)) + 2);
        const ssize_t length = ::readlink(target.path.c_str(), link.data(), link.size());
        if (length < 0) return failure(FileStatus::CannotCreate, errno);
        if (static_cast<std::size_t>(length) >= link.size()) return failure(FileStatus::CannotCreate, ENAMETOOLONG);
        const std::string leadsTo(link.data(), static_cast<std::size_t>(length));
        target.path = leadsTo.front() == '/' ? leadsTo : folder + "/" + leadsTo;
        if (::lstat(target.path.c_str(), &target.info) != 0) {
            if (errno == ENOENT) return refusal(FileStatus::CannotCreate, kLinkLeadsNowhere);
            return failure(FileStatus::CannotCreate, errno);
        }
    }
    return {};
}

// Finds the file a save writes and refuses what must not be written: a link
// that leads nowhere or may not be followed, anything but a regular file, a
// read-only file. A file with no write permission for anyone counts as
// read-only for the superuser too, who could otherwise write it.
FileResult findSaveTarget(const std::string& path, SaveTarget& target) {
    target.path = path;
    if (::lstat(path.c_str(), &target.info) != 0) {
        if (errno == ENOENT) return {};
        return failure(FileStatus::CannotCreate, errno);
    }
    if (FileResult followed = followLinks(target); !followed.ok()) return followed;
    target.exists = true;
    if (!S_ISREG(target.info.st_mode)) return notRegular(target.info);
    if ((target.info.st_mode & 0222) == 0) return failure(FileStatus::CannotCreate, EACCES);
    if (::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0) return failure(FileStatus::CannotCreate, errno);
    return {};
}

// Creates a new, empty file of a short random name in the folder, so that a
// target name of any legal length leaves room for it.
int createTemporary(const std::string& folder, mode_t mode, std::string& name) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    const std::string prefix = folder + (folder.back() == '/' ? "" : "/") + ".qm730-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = prefix;
        for (int i = 0; i < 6; ++i) candidate += kLetters[pick(random)];
        const int fd =
            saveCallFails(Call::Create) ? -1 : ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            name = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// Writes the contents into the temporary file and makes it durable; on
// failure the temporary file is removed.
FileResult fillTemporary(FileDescriptor& file, const std::string& temporary, FileContents contents) {
    if (!writeFully(file.get(), contents.data(), contents.size(), 0) || syncFile(file.get()) != 0 || closeWritten(file) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return failure(FileStatus::WriteFailed, error);
    }
    return {};
}

FileResult saved(FileContents contents) {
    FileResult result;
    result.bytes = contents.size();
    return result;
}

// A new file appears whole under its name, and never over a file that
// another program created meanwhile.
FileResult createNewFile(const std::string& path, FileContents contents) {
    std::string temporary;
    FileDescriptor file(createTemporary(directoryOf(path), 0666, temporary));
    if (file.get() < 0) return failure(FileStatus::CannotCreate, errno);
    if (FileResult filled = fillTemporary(file, temporary, contents); !filled.ok()) return filled;
    int rc = saveCallFails(Call::Rename)
                 ? -1
                 : ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) rc = ::rename(temporary.c_str(), path.c_str());
    if (rc != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return failure(FileStatus::CannotReplace, error);
    }
    syncDirectory(directoryOf(path));
    return saved(contents);
}

// Replaces the file in one step by a new one with its permissions, owner and
// group. Sets fallBack (and leaves everything as it was) when no such file
// can be made beside it.
FileResult replaceFile(const SaveTarget& target, FileContents contents, bool& fallBack) {
    std::string temporary;
    FileDescriptor file(createTemporary(directoryOf(target.path), 0600, temporary));
    if (file.get() < 0) {
        fallBack = true;
        return {};
    }
    // The owner first: changing it clears set-id bits that the mode restores.
    // A new file's group may come from the folder, so the file itself is asked.
    struct stat made {};
    if (::fstat(file.get(), &made) != 0 ||
        ((made.st_uid != target.info.st_uid || made.st_gid != target.info.st_gid) &&
         ::fchown(file.get(), target.info.st_uid, target.info.st_gid) != 0)) {
        ::unlink(temporary.c_str());
        fallBack = true;
        return {};
    }
    if (saveCallFails(Call::Chmod) || ::fchmod(file.get(), target.info.st_mode & 07777) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return failure(FileStatus::CannotCreate, error);
    }
    if (FileResult filled = fillTemporary(file, temporary, contents); !filled.ok()) return filled;
    if (saveCallFails(Call::Rename) || ::rename(temporary.c_str(), target.path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return failure(FileStatus::CannotReplace, error);
    }
    syncDirectory(directoryOf(target.path));
    return saved(contents);
}

// Writes the contents over the file itself, keeping its inode and with it
// every name, its owner and its permissions. Room is reserved before the
// first byte is written; if the write still fails, the old bytes are put back
// as far as the file system allows.
FileResult writeInPlace(const SaveTarget& target, FileContents contents) {
    constexpr int kFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    bool readable = true;
    int fd = saveCallFails(Call::Open) ? -1 : ::open(target.path.c_str(), O_RDWR | kFlags);
    if (fd < 0 && errno == EACCES) {
        readable = false;
        fd = ::open(target.path.c_str(), O_WRONLY | kFlags);
    }
    FileDescriptor file(fd);
    if (file.get() < 0) return failure(FileStatus::CannotCreate, errno);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return failure(FileStatus::CannotCreate, errno);
    if (!S_ISREG(info.st_mode)) return notRegular(info);

    // The old bytes, all of them, so that a longer file already cut to the
    // image can be made whole again (up to a size no table file reaches).
    constexpr off_t kRestoreLimit = off_t{64} << 20;
    const off_t oldSize = info.st_size;
    const std::size_t size = contents.size();
    std::vector<std::uint8_t> old(static_cast<std::size_t>(std::min(oldSize, kRestoreLimit)));
    const bool restorable =
        readable && readFully(file.get(), old.data(), old.size()) == static_cast<ssize_t>(old.size());
    const auto undo = [&](int error) {
        if (restorable) writeFully(file.get(), old.data(), old.size(), 0);
        ::ftruncate(file.get(), oldSize);
        ::fsync(file.get());
        return failure(FileStatus::WriteFailed, error);
    };

    if (oldSize < static_cast<off_t>(size) && size > 0 &&
        (saveCallFails(Call::Reserve) || ::fallocate(file.get(), 0, 0, static_cast<off_t>(size)) != 0) &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return undo(errno);
    if (!writeFully(file.get(), contents.data(), size, 0)) return undo(errno);
    // Until the file is cut to the new contents and on the disk, a failure
    // still puts the old bytes back; after that only the close can fail, and
    // the file then holds the whole new contents.
    if (oldSize > static_cast<off_t>(size) &&
        (saveCallFails(Call::Truncate) || ::ftruncate(file.get(), static_cast<off_t>(size)) != 0))
        return undo(errno);
    if (syncFile(file.get()) != 0) return undo(errno);
    if (closeWritten(file) != 0) return failure(FileStatus::WriteFailed, errno);
    return saved(contents);
}

}  // namespace

FileResult loadTableFile(const std::string& path, ConfigImage& image) {
    // The type is checked before the open: opening a FIFO waits for a writer,
    // and opening a device can act on it.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return failure(FileStatus::CannotOpen, errno);
    if (!S_ISREG(info.st_mode)) return notRegular(info);
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) return failure(FileStatus::CannotOpen, errno);
    if (::fstat(file.get(), &info) != 0) return failure(FileStatus::ReadFailed, errno);
    if (!S_ISREG(info.st_mode)) return notRegular(info);

    // Read into a buffer first so a read error leaves the image untouched.
    // One byte more than an image tells a longer file from a whole one.
    std::vector<std::uint8_t> buffer(kImageSize + 1);
    const ssize_t got = readFully(file.get(), buffer.data(), buffer.size());
    if (got < 0) return failure(FileStatus::ReadFailed, errno);

    // The size is what the file holds: a read that ended early is exact, and
    // a file whose recorded size is short of what it gave (a file made up by
    // the system, such as those under /proc) is read to its end.
    std::uintmax_t size = static_cast<std::uintmax_t>(got);
    if (static_cast<std::size_t>(got) > kImageSize) {
        if (info.st_size >= got) {
            size = static_cast<std::uintmax_t>(info.st_size);
        } else {
            const ssize_t rest = countRest(file.get());
            if (rest < 0) return failure(FileStatus::ReadFailed, errno);
            size += static_cast<std::uintmax_t>(rest);
        }
    }

    FileResult result;
    result.bytes = std::min<std::size_t>(static_cast<std::size_t>(got), kImageSize);
    result.fileSize = size;
    std::copy_n(buffer.begin(), result.bytes, image.bytes().begin());
    return result;
}

FileResult saveFileContents(const std::string& path, FileContents contents) {
    const SignalDeferral deferral;
    // Another program may create the file while a new one is written: the
    // save then starts again and replaces that file as an existing one.
    constexpr int kStarts = 3;
    for (int start = 1;; ++start) {
        SaveTarget target;
        if (FileResult found = findSaveTarget(path, target); !found.ok()) return found;
        if (!target.exists) {
            FileResult created = createNewFile(target.path, contents);
            if (created.status == FileStatus::CannotReplace && created.errorNumber == EEXIST && start < kStarts)
                continue;
            return created;
        }
        // A file with several names keeps them all only if it is written in place.
        if (target.info.st_nlink == 1) {
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
    if (!target.exists && ::faccessat(AT_FDCWD, directoryOf(target.path).c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return failure(FileStatus::CannotCreate, errno);
    return {};
}

}  // namespace qm730
