#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli/command.h"

namespace qm730::cli {
namespace {

const Command* const kCommands[] = {&kNewCommand, &kDumpCommand, &kSendCommand, &kReadCommand};

void printOverview(std::ostream& out) {
    out << "qm730ctl - prepare, inspect and transfer QM730C configurations\n\n"
           "Usage:\n";
    for (const Command* command : kCommands) out << "  qm730ctl " << command->synopsis << "\n";
    out << "  qm730ctl help COMMAND\n\n"
           "PORT is COM1 to COM5 or a device path such as /dev/ttyUSB0.\n"
           "COM1 to COM5 stand for /dev/ttyS0 to /dev/ttyS4 unless the environment\n"
           "variable QM730C_COM1 ... QM730C_COM5 names another device.\n\n"
           "Exit status: 0 success, 1 the operation failed, 2 usage or file error.\n";
}

const Command* findCommand(const char* name) {
    for (const Command* command : kCommands)
        if (std::strcmp(command->name, name) == 0) return command;
    return nullptr;
}

bool isHelpFlag(const std::string& arg) { return arg == "--help" || arg == "-h"; }

// A descriptor 0, 1 or 2 that was closed when the program started would be
// handed out by the next open(): the serial port could become standard output
// and get the program's messages sent down the line. /dev/null takes their
// places first.
bool openClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (::open("/dev/null", O_RDWR) != fd) return false;
    }
    return true;
}

// Output that did not reach standard output (a full disk, a closed pipe) makes
// an otherwise successful run fail; a failed run has said why already.
int finishOutput(int status) {
    errno = 0;
    std::cout.flush();
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (status != kExitOk || (flushed && !std::ferror(stdout) && std::cout.good())) return status;
    printError(std::string("cannot write to standard output") + (error ? ": " + std::string(std::strerror(error)) : ""));
    return kExitFailed;
}

}  // namespace

void printError(const std::string& message) { std::cerr << "qm730ctl: " << message << "\n"; }

int usageError(const Command& command, const std::string& message) {
    printError(message);
    std::cerr << "Usage: qm730ctl " << command.synopsis << "\n"
              << "Try 'qm730ctl help " << command.name << "' for more information.\n";
    return kExitUsage;
}

}  // namespace qm730::cli

static int runCommandLine(int argc, char** argv) {
    using namespace qm730::cli;
    if (argc < 2) {
        printOverview(std::cerr);
        return kExitUsage;
    }
    const std::string first = argv[1];
    if (isHelpFlag(first)) {
        printOverview(std::cout);
        return kExitOk;
    }
    if (first == "help") {
        if (argc == 2) {
            printOverview(std::cout);
            return kExitOk;
        }
        const Command* command = findCommand(argv[2]);
        if (!command) {
            printError(std::string("unknown command '") + argv[2] + "'");
            return kExitUsage;
        }
        std::cout << command->help;
        return kExitOk;
    }
    const Command* command = findCommand(first.c_str());
    if (!command) {
        printError("unknown command '" + first + "'");
        printOverview(std::cerr);
        return kExitUsage;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const std::string& arg : args) {
        if (isHelpFlag(arg)) {
            std::cout << command->help;
            return kExitOk;
        }
    }
    return command->run(args);
}

int main(int argc, char** argv) {
    using namespace qm730::cli;
    if (!openClosedStandardDescriptors()) return kExitFailed;
    return finishOutput(runCommandLine(argc, argv));
}
