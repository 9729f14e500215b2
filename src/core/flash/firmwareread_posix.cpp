// Reading the firmware file with POSIX file calls.
#include "core/flash/firmwareread.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/config/file_descriptor.h"

namespace qm730 {

namespace {

FirmwareLoad systemFailure(FirmwareLoadStatus status, int errorNumber) {
    return firmwareReadRefusal(status, std::strerror(errorNumber), errorNumber);
}

}  // namespace

std::string absoluteFileName(const std::string& path) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    return error ? path : full.lexically_normal().string();
}

std::optional<FirmwareLoad> readFirmwareFile(const std::string& path, std::string& text) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) return systemFailure(FirmwareLoadStatus::CannotOpen, errno);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return systemFailure(FirmwareLoadStatus::ReadFailed, errno);
    if (!S_ISREG(info.st_mode)) return firmwareReadRefusal(FirmwareLoadStatus::NotRegularFile, kNotRegularFileText);
    if (static_cast<std::uintmax_t>(info.st_size) > kFirmwareFileLimit)
        return firmwareReadRefusal(FirmwareLoadStatus::TooLarge, kTooLargeText);
    // Read to the end rather than trust the size: a file may grow meanwhile.
    text.assign(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t have = 0;
    for (;;) {
        if (have == text.size()) {
            if (text.size() > kFirmwareFileLimit) return firmwareReadRefusal(FirmwareLoadStatus::TooLarge, kTooLargeText);
            text.resize(text.size() + 4096);
        }
        const ssize_t got = ::read(file.get(), text.data() + have, text.size() - have);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return systemFailure(FirmwareLoadStatus::ReadFailed, errno);
        }
        have += static_cast<std::size_t>(got);
    }
    text.resize(have);
    return std::nullopt;
}

}  // namespace qm730
