#include "config/configfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qm730 {

namespace {

FileResult failure(FileStatus status, int error) {
    FileResult result;
    result.status = status;
    result.errorNumber = error;
    result.reason = std::strerror(error);
    return result;
}

// Closes the descriptor when it goes out of scope unless it was released.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    // Closes now and reports the result: a close can be the first place a
    // delayed write error shows.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

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

// Writes everything or fails; a write that makes no progress counts as a
// short write (ENOSPC), never as success.
bool writeFully(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
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

// The file that a save really replaces: an existing symbolic link is followed
// so the link itself stays in place.
std::string resolveTarget(const std::string& path) {
    char resolved[PATH_MAX];
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode) && ::realpath(path.c_str(), resolved))
        return resolved;
    return path;
}

// Permission bits for the saved file: those of the file it replaces, or the
// usual 0666 less the umask for a new file.
mode_t permissionsFor(const std::string& target) {
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) return info.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Makes the rename itself durable; a failure here does not undo the save.
void syncDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

FileResult loadTableFile(const std::string& path, ConfigImage& image) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return failure(FileStatus::CannotOpen, errno);

    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return failure(FileStatus::ReadFailed, errno);
    if (S_ISDIR(info.st_mode)) return failure(FileStatus::CannotOpen, EISDIR);

    // Read into a buffer first so a read error leaves the image untouched.
    std::vector<std::uint8_t> buffer(kImageSize);
    const ssize_t got = readFully(file.get(), buffer.data(), buffer.size());
    if (got < 0) return failure(FileStatus::ReadFailed, errno);

    std::copy_n(buffer.begin(), got, image.bytes().begin());
    FileResult result;
    result.bytes = static_cast<std::size_t>(got);
    result.fileSize = static_cast<std::uintmax_t>(info.st_size);
    return result;
}

FileResult saveTableFile(const std::string& path, const ConfigImage& image) {
    const std::string target = resolveTarget(path);
    const mode_t mode = permissionsFor(target);

    std::string temporary = target + ".tmpXXXXXX";
    FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) return failure(FileStatus::CannotCreate, errno);

    const auto abandon = [&](FileStatus status) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return failure(status, error);
    };
    if (::fchmod(file.get(), mode) != 0) return abandon(FileStatus::CannotCreate);
    if (!writeFully(file.get(), image.data(), kImageSize)) return abandon(FileStatus::WriteFailed);
    if (::fsync(file.get()) != 0) return abandon(FileStatus::WriteFailed);
    if (file.close() != 0) return abandon(FileStatus::WriteFailed);
    if (::rename(temporary.c_str(), target.c_str()) != 0) return abandon(FileStatus::CannotReplace);

    syncDirectory(directoryOf(target));
    FileResult result;
    result.bytes = kImageSize;
    return result;
}

}  // namespace qm730
