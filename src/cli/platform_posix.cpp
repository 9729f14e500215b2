// qm730ctl on a POSIX system.
#include "cli/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace qm730::cli {

bool prepareStandardStreams() {
    // A descriptor 0, 1 or 2 that was closed when the program started would
    // be handed out by the next open(): the serial port could become standard
    // output and get the program's messages sent down the line.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (::open("/dev/null", O_RDWR) != fd) return false;
    }
    return true;
}

std::vector<std::string> argumentsAsUtf8(int argc, char** argv) { return {argv, argv + argc}; }

std::FILE* openFile(const std::string& path, const char* mode) {
    if (std::string(mode) != "rb") return std::fopen(path.c_str(), mode);
    // A terminal named as the file to read does not become the program's
    // controlling terminal.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool errorsGoToTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool isPortName(const std::string& name) {
    const bool com = name.size() == 4 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
                     std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
                     std::toupper(static_cast<unsigned char>(name[2])) == 'M' && name[3] >= '1' && name[3] <= '5';
    return com || name.find('/') != std::string::npos;
}

std::string portNamesInWords() { return "COM1 to COM5 or a device path such as /dev/ttyUSB0"; }

std::string portNamesExplained() {
    return "PORT is COM1 to COM5 or a device path such as /dev/ttyUSB0. COM1 to COM5\n"
           "stand for /dev/ttyS0 to /dev/ttyS4 unless the environment variable\n"
           "QM730C_COM1 ... QM730C_COM5 names another device. 'qm730ctl ports' lists\n"
           "the serial devices the system has (a USB adapter just plugged in, too).\n";
}

}  // namespace qm730::cli
