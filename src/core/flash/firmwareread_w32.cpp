// Reading the firmware file with Win32 file calls.
#include "core/flash/firmwareread.h"

#include "core/config/win32_text.h"

namespace qm730 {

namespace {

FirmwareLoad systemFailure(FirmwareLoadStatus status, DWORD error) {
    return firmwareReadRefusal(status, win32::errorText(error), static_cast<int>(error));
}

}  // namespace

std::string absoluteFileName(const std::string& path) {
    const std::wstring given = win32::widen(path);
    const DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    full.resize(::GetFullPathNameW(given.c_str(), size, full.data(), nullptr));
    return win32::narrow(full);
}

std::optional<FirmwareLoad> readFirmwareFile(const std::string& path, std::string& text) {
    // A device name ("NUL", "COM1", "CON") is refused before it is opened:
    // opening one can act on the device or wait for the console.
    const std::wstring name = win32::fileNameForSystem(path);
    if (name.empty()) return firmwareReadRefusal(FirmwareLoadStatus::NotRegularFile, kNotRegularFileText);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return systemFailure(FirmwareLoadStatus::CannotOpen, ::GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return firmwareReadRefusal(FirmwareLoadStatus::NotRegularFile, kNotRegularFileText);
    win32::Handle file(::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) return systemFailure(FirmwareLoadStatus::CannotOpen, ::GetLastError());
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        return firmwareReadRefusal(FirmwareLoadStatus::NotRegularFile, kNotRegularFileText);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) return systemFailure(FirmwareLoadStatus::ReadFailed, ::GetLastError());
    if (static_cast<std::uintmax_t>(size.QuadPart) > kFirmwareFileLimit)
        return firmwareReadRefusal(FirmwareLoadStatus::TooLarge, kTooLargeText);
    // Read to the end rather than trust the size: a file may grow meanwhile.
    text.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t have = 0;
    for (;;) {
        if (have == text.size()) {
            if (text.size() > kFirmwareFileLimit) return firmwareReadRefusal(FirmwareLoadStatus::TooLarge, kTooLargeText);
            text.resize(text.size() + 4096);
        }
        DWORD got = 0;
        if (!::ReadFile(file.get(), text.data() + have, static_cast<DWORD>(text.size() - have), &got, nullptr))
            return systemFailure(FirmwareLoadStatus::ReadFailed, ::GetLastError());
        if (got == 0) break;
        have += got;
    }
    text.resize(have);
    return std::nullopt;
}

}  // namespace qm730
