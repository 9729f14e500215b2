// Reading the firmware file whole, over the file calls of every platform.
#include "core/flash/firmwareread.h"

#include "core/config/filecalls.h"

namespace qm730 {

namespace {

using namespace filecalls;

FirmwareLoad systemFailure(FirmwareLoadStatus status, const FileResult& failed) {
    return firmwareReadRefusal(status, failed.reason, failed.errorNumber);
}

FirmwareLoad tooLarge() { return firmwareReadRefusal(FirmwareLoadStatus::TooLarge, kTooLargeText); }

}  // namespace

std::string absoluteFileName(const std::string& path) { return fullName(path); }

std::optional<FirmwareLoad> readFirmwareFile(const std::string& path, std::string& text) {
    OpenFile file;
    Info info;
    if (const FileResult opened = openRegularFile(path, file, info); !opened.ok()) {
        switch (opened.status) {
            case FileStatus::NotRegular:
                return firmwareReadRefusal(FirmwareLoadStatus::NotRegularFile, kNotRegularFileText);
            case FileStatus::CannotOpen: return systemFailure(FirmwareLoadStatus::CannotOpen, opened);
            default: return systemFailure(FirmwareLoadStatus::ReadFailed, opened);
        }
    }
    if (info.size > kFirmwareFileLimit) return tooLarge();
    // Read to the end rather than trust the size: a file may grow meanwhile.
    text.assign(static_cast<std::size_t>(info.size), '\0');
    std::size_t have = 0;
    for (;;) {
        if (have == text.size()) {
            if (text.size() > kFirmwareFileLimit) return tooLarge();
            text.resize(text.size() + 4096);
        }
        std::size_t got = 0;
        if (const Error error = readSome(*file, reinterpret_cast<std::uint8_t*>(text.data() + have), text.size() - have, got))
            return systemFailure(FirmwareLoadStatus::ReadFailed, failure(FileStatus::ReadFailed, error));
        if (got == 0) break;
        have += got;
    }
    text.resize(have);
    return std::nullopt;
}

}  // namespace qm730
