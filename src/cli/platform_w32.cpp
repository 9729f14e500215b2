// qm730ctl on Windows.
#include "cli/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <streambuf>

#include "core/config/win32_text.h"

namespace qm730::cli {

namespace {

// Text for a console window, written as UTF-16 with WriteConsoleW: the
// program's texts are UTF-8, and the console would show them in its own code
// page otherwise. Only whole characters are written; the bytes of one that a
// flush cuts in two wait for the rest.
class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        pending_ += traits_type::to_char_type(c);
        if (pending_.size() >= kFlushAt && !writeWholeCharacters()) return traits_type::eof();
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        if (pending_.size() >= kFlushAt && !writeWholeCharacters()) return 0;
        return count;
    }
    int sync() override { return writeWholeCharacters() ? 0 : -1; }

private:
    static constexpr std::size_t kFlushAt = 4096;

    // Where the last character that is not yet complete begins.
    std::size_t wholeLength() const {
        std::size_t end = pending_.size();
        for (std::size_t back = 1; back <= 3 && back <= pending_.size(); ++back) {
            const auto byte = static_cast<unsigned char>(pending_[pending_.size() - back]);
            if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            if (length > back) end = pending_.size() - back;
            break;
        }
        return end;
    }

    bool writeWholeCharacters() {
        const std::size_t whole = wholeLength();
        const std::wstring text = win32::widen(pending_.substr(0, whole));
        pending_.erase(0, whole);
        for (std::size_t done = 0; done < text.size();) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 8192));
            if (!::WriteConsoleW(console_, text.data() + done, chunk, &written, nullptr) || written == 0) return false;
            done += written;
        }
        return true;
    }

    HANDLE console_;
    std::string pending_;
};

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// A standard stream that has no handle (a program started without a console
// or with a stream closed) writes to NUL instead of failing every write.
bool giveNulIfMissing(DWORD which, std::FILE* stream, const char* mode) {
    const HANDLE handle = ::GetStdHandle(which);
    if (handle && handle != INVALID_HANDLE_VALUE) return true;
    return std::freopen("NUL", mode, stream) != nullptr;
}

bool isComName(const std::string& name) {
    if (name.size() < 4 || name.size() > 6) return false;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
    if (name[3] < '1' || name[3] > '9') return false;
    for (std::size_t i = 4; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    return true;
}

}  // namespace

bool prepareStandardStreams() {
    if (!giveNulIfMissing(STD_INPUT_HANDLE, stdin, "r") || !giveNulIfMissing(STD_OUTPUT_HANDLE, stdout, "w") ||
        !giveNulIfMissing(STD_ERROR_HANDLE, stderr, "w"))
        return false;
    // Bytes in and out unchanged: a CSV table keeps its CR LF, input is not
    // cut at a Ctrl+Z.
    if (::_setmode(::_fileno(stdin), _O_BINARY) == -1 || ::_setmode(::_fileno(stdout), _O_BINARY) == -1) return false;
    // The buffers live as long as the process: the streams are flushed once
    // more after main() has returned.
    if (const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE); isConsole(out)) std::cout.rdbuf(new ConsoleBuffer(out));
    if (const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE); isConsole(err)) std::cerr.rdbuf(new ConsoleBuffer(err));
    return true;
}

std::vector<std::string> argumentsAsUtf8(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(win32::narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    std::wstring name = win32::fileNameForSystem(path);
    if (name.empty()) name = win32::widen(path);  // a device such as CON
    return ::_wfopen(name.c_str(), win32::widen(mode).c_str());
}

bool sameFile(const std::string& a, const std::string& b) {
    // One file: the same volume and the same file index.
    const auto identify = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
        std::wstring name = win32::fileNameForSystem(path);
        if (name.empty()) return false;
        win32::Handle file(::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return file.valid() && ::GetFileInformationByHandle(file.get(), &info);
    };
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return identify(a, first) && identify(b, second) && first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

bool errorsGoToTerminal() { return isConsole(::GetStdHandle(STD_ERROR_HANDLE)); }

bool isPortName(const std::string& name) {
    return isComName(name) || name.find('\\') != std::string::npos || name.find('/') != std::string::npos;
}

std::string portNamesInWords() { return "COM1 to COM5, another COMn or a device path such as \\\\.\\COM12"; }

std::string portNamesExplained() {
    return "PORT is COM1 to COM5, another COMn or a device path such as \\\\.\\COM12.\n"
           "COMn is the Windows port of that name; the environment variable\n"
           "QM730C_COM1 ... QM730C_COM5 can name another device for COM1 ... COM5.\n"
           "'qm730ctl ports' lists the serial ports Windows knows of.\n";
}

}  // namespace qm730::cli
