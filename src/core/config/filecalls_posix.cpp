// The file calls on Linux: POSIX calls, plus renameat2 and fallocate. The
// calls a save makes ask saveCallFails() first, so that tests can make any
// of them fail (savefaults.h).
#include "core/config/filecalls.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/config/file_descriptor.h"
#include "core/config/savefaults.h"

namespace qm730::filecalls {

using savefault::Call;
using savefault::saveCallFails;

struct File {
    FileDescriptor fd;
};

void CloseFile::operator()(File* file) const { delete file; }

namespace {

constexpr int kOpenFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

int fdOf(File& file) { return file.fd.get(); }

// The error of the call just made: errno, or 0 when it succeeded.
Error result(int rc) { return rc == 0 ? 0 : errno; }

Info infoFrom(const struct stat& status) {
    Info info;
    if (S_ISREG(status.st_mode)) info.kind = Kind::Regular;
    else if (S_ISDIR(status.st_mode)) info.kind = Kind::Directory;
    else if (S_ISLNK(status.st_mode)) info.kind = Kind::Link;
    else info.kind = Kind::Other;
    info.size = static_cast<std::uint64_t>(status.st_size);
    info.links = static_cast<unsigned>(status.st_nlink);
    info.readOnly = (status.st_mode & 0222) == 0;
    info.mode = status.st_mode & 07777;
    info.owner = status.st_uid;
    info.group = status.st_gid;
    return info;
}

Error statusOf(int rc, const struct stat& status, Info& info) {
    if (rc != 0) return errno;
    info = infoFrom(status);
    return 0;
}

Error holding(int fd, OpenFile& file) {
    if (fd < 0) return errno;
    file.reset(new File{FileDescriptor(fd)});
    return 0;
}

// Keeps the file that the first attempt opened (with reading among its
// access), or where reading was not allowed opens it for writing only.
Error openReadingIfAllowed(const Name& name, int opened, OpenFile& file, bool& readable) {
    readable = true;
    if (opened < 0 && errno == EACCES) {
        readable = false;
        opened = ::open(name.c_str(), O_WRONLY | kOpenFlags);
    }
    return holding(opened, file);
}

}  // namespace

bool systemName(const std::string& path, Name& name) {
    name = path;
    return true;
}

Name folderOf(const Name& name) {
    const std::string& path = name.native();
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string fullName(const std::string& path) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    return error ? path : full.lexically_normal().string();
}

std::string errorText(Error error) { return std::strerror(error); }
bool isMissing(Error error) { return error == ENOENT; }
bool isAlreadyThere(Error error) { return error == EEXIST; }
Error accessDenied() { return EACCES; }
Error folderError() { return EISDIR; }

Error lookAt(const Name& name, Info& info) {
    struct stat status {};
    return statusOf(::lstat(name.c_str(), &status), status, info);
}

Error lookThrough(const Name& name, Info& info) {
    struct stat status {};
    return statusOf(::stat(name.c_str(), &status), status, info);
}

// A link in a folder that everyone may write and only owners may delete
// from (/tmp) is followed only for the link's owner or when the folder's
// owner owns it: any other user's link there could send a save to any file
// the saver may write. The rule holds here even where the system does not
// enforce it. Links in the folder part of a name are left to the system,
// which follows them when the save creates and renames its files.
Error followLinks(Name& name, Info& info) {
    constexpr int kMostLinks = 40;  // as many as the system follows
    for (int followed = 0; info.kind == Kind::Link; ++followed) {
        if (followed == kMostLinks) return ELOOP;
        const std::string folder = folderOf(name);
        struct stat folderStatus {};
        if (::stat(folder.c_str(), &folderStatus) != 0) return errno;
        constexpr mode_t kProtectedFolder = S_ISVTX | S_IWOTH;
        if ((folderStatus.st_mode & kProtectedFolder) == kProtectedFolder && info.owner != ::geteuid() &&
            info.owner != folderStatus.st_uid)
            return EACCES;
        std::vector<char> link(std::max<std::size_t>(info.size, 255) + 2);
        const ssize_t length = ::readlink(name.c_str(), link.data(), link.size());
        if (length < 0) return errno;
        if (static_cast<std::size_t>(length) >= link.size()) return ENAMETOOLONG;
        const std::string leadsTo(link.data(), static_cast<std::size_t>(length));
        name = leadsTo.front() == '/' ? leadsTo : folder + "/" + leadsTo;
        if (const Error error = lookAt(name, info)) {
            if (error != ENOENT) return error;
            info.kind = Kind::Missing;
        }
    }
    return 0;
}

Error infoOf(File& file, Info& info) {
    struct stat status {};
    return statusOf(::fstat(fdOf(file), &status), status, info);
}

Error mayWrite(const Name& name, Info&) { return result(::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS)); }

Error mayCreateIn(const Name& folder) {
    return result(::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS));
}

Error openToRead(const Name& name, OpenFile& file) { return holding(::open(name.c_str(), O_RDONLY | kOpenFlags), file); }

Error openToRewrite(const Name& name, OpenFile& file, bool& readable) {
    const int fd = saveCallFails(Call::Open) ? -1 : ::open(name.c_str(), O_RDWR | kOpenFlags);
    return openReadingIfAllowed(name, fd, file, readable);
}

Error openToLock(const Name& name, OpenFile& file) {
    bool readable = true;
    return openReadingIfAllowed(name, ::open(name.c_str(), O_RDONLY | kOpenFlags), file, readable);
}

Error createNew(const Name& name, Access access, OpenFile& file) {
    const mode_t mode = access == Access::Everyone ? 0666 : 0600;
    return holding(saveCallFails(Call::Create) ? -1 : ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode),
                   file);
}

Error close(OpenFile& file) {
    const Error error = file->fd.close();
    file.reset();
    return saveCallFails(Call::Close) ? errno : error;
}

Error readSome(File& file, std::uint8_t* buffer, std::size_t size, std::size_t& got) {
    for (;;) {
        const ssize_t n = ::read(fdOf(file), buffer, size);
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return 0;
        }
        if (errno != EINTR) return errno;
    }
}

Error writeSomeAt(File& file, std::uint64_t offset, const std::uint8_t* data, std::size_t size, std::size_t& put) {
    for (;;) {
        const ssize_t n = saveCallFails(Call::Write) ? -1 : ::pwrite(fdOf(file), data, size, static_cast<off_t>(offset));
        if (n > 0) {
            put = static_cast<std::size_t>(n);
            return 0;
        }
        if (n == 0) return ENOSPC;
        if (errno != EINTR) return errno;
    }
}

Error reserve(File& file, std::uint64_t size) {
    if (!saveCallFails(Call::Reserve) && ::fallocate(fdOf(file), 0, 0, static_cast<off_t>(size)) == 0) return 0;
    // A file system that cannot reserve room leaves the write to find out.
    return errno == EOPNOTSUPP || errno == ENOSYS ? 0 : errno;
}

Error setLength(File& file, std::uint64_t size) {
    if (saveCallFails(Call::Truncate)) return errno;
    return result(::ftruncate(fdOf(file), static_cast<off_t>(size)));
}

Error flush(File& file) {
    if (saveCallFails(Call::Sync)) return errno;
    return result(::fsync(fdOf(file)));
}

// The owner first: changing it clears set-id bits that the mode restores. A
// new file's group may come from the folder, so the file itself is asked.
Error takeOver(File& replacement, const Info& old, bool& ownerKept) {
    struct stat made {};
    ownerKept = ::fstat(fdOf(replacement), &made) == 0 &&
                ((made.st_uid == old.owner && made.st_gid == old.group) ||
                 ::fchown(fdOf(replacement), old.owner, old.group) == 0);
    if (!ownerKept) return 0;
    if (saveCallFails(Call::Chmod)) return errno;
    return result(::fchmod(fdOf(replacement), old.mode));
}

Error moveNew(const Name& from, const Name& to) {
    int rc = saveCallFails(Call::Rename) ? -1 : ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    // A file system without the call: nothing else can keep the name free.
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) rc = ::rename(from.c_str(), to.c_str());
    return result(rc);
}

Error replace(const Name& from, const Name& to, const Info&) {
    if (saveCallFails(Call::Rename)) return errno;
    return result(::rename(from.c_str(), to.c_str()));
}

void removeFile(const Name& name) { ::unlink(name.c_str()); }

void flushFolder(const Name& folder) {
    const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) ::fsync(fd.get());
}

LockTry tryLock(File& file) {
    for (;;) {
        if (::flock(fdOf(file), LOCK_EX | LOCK_NB) == 0) return LockTry::Locked;
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? LockTry::Busy : LockTry::Unsupported;
    }
}

void unlock(File& file) { ::flock(fdOf(file), LOCK_UN); }

bool sameFile(const Name& name, File& file) {
    struct stat named {}, opened {};
    return ::stat(name.c_str(), &named) == 0 && ::fstat(fdOf(file), &opened) == 0 && named.st_dev == opened.st_dev &&
           named.st_ino == opened.st_ino;
}

struct InterruptsHeld::Held {
    sigset_t previous;
};

InterruptsHeld::InterruptsHeld() : held_(std::make_unique<Held>()) {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
    ::pthread_sigmask(SIG_BLOCK, &held, &held_->previous);
}

InterruptsHeld::~InterruptsHeld() { ::pthread_sigmask(SIG_SETMASK, &held_->previous, nullptr); }

}  // namespace qm730::filecalls
