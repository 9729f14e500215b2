// The one holder of a POSIX file descriptor: whatever opens a file, a
// folder, a device or the simulator's files keeps the descriptor here, and
// it is closed when the holder goes. POSIX only; Windows handles are held
// by win32::Handle (win32_text.h).
#pragma once

#ifdef _WIN32
#error "file_descriptor.h is for POSIX builds"
#endif

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace qm730 {

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Hands the descriptor over; it is no longer closed here.
    int release() { return std::exchange(fd_, -1); }

    // Closes what is held (without a word on failure) and holds fd instead.
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

    // Closes now and tells how it went: 0, or the error number. A close can
    // be the first place a delayed write error shows; the descriptor is gone
    // either way.
    int close() {
        const int fd = release();
        if (fd < 0) return 0;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_ = -1;
};

}  // namespace qm730
