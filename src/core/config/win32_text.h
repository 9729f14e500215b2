// Names and messages between the program's UTF-8 strings and Win32: file
// names as wide strings, system error numbers as text. Windows only.
#pragma once

#ifndef _WIN32
#error "win32_text.h is for Windows builds"
#endif

#include <windows.h>

#include <string>

namespace qm730::win32 {

// UTF-8 to UTF-16. Text that is not UTF-8 (a name typed in the console's
// code page) is taken in the system's code page instead.
inline std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    UINT codePage = CP_UTF8;
    int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        codePage = CP_ACP;
        length = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(codePage, codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, text.data(),
                              static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

inline std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length, nullptr, nullptr);
    return utf8;
}

// The system's message for an error number, in UTF-8, as one line without
// the closing full stop (like the POSIX texts).
inline std::string errorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text;
    if (length > 0 && buffer) text.assign(buffer, length);
    if (buffer) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    if (text.empty()) return "system error " + std::to_string(error);
    return narrow(text);
}

// The full name of a file as the \\?\ form that passes the 260-character
// limit; empty when the name is a device ("NUL", "COM1", \\.\pipe\...)
// rather than a file.
inline std::wstring fileNameForSystem(const std::string& path) {
    const std::wstring given = widen(path);
    if (given.rfind(L"\\\\?\\", 0) == 0) return given;
    DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return given;
    std::wstring full(size, L'\0');
    size = ::GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    full.resize(size);
    if (full.rfind(L"\\\\.\\", 0) == 0) return {};
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// Closes the handle when it goes out of scope unless it was closed.
class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    void reset(HANDLE handle) {
        close();
        handle_ = handle;
    }
    // Hands the handle over; it is no longer closed here.
    HANDLE release() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    // Closes now and reports the result: the last place a write can fail.
    bool close() {
        if (!valid()) return true;
        const bool closed = ::CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

}  // namespace qm730::win32
