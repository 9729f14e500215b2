// The commands of qm730ctl. Each command lives in a file of its own and is
// listed in main.cpp.
#pragma once

#include <string>
#include <vector>

namespace qm730::cli {

// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the operation itself failed
inline constexpr int kExitUsage = 2;   // bad arguments, or a file that cannot be read or written

struct Command {
    const char* name;
    const char* synopsis;  // one line: "new OUT.tbl"
    const char* help;      // the whole help text of the command
    int (*run)(const std::vector<std::string>& args);
};

extern const Command kNewCommand;
extern const Command kDumpCommand;
extern const Command kSendCommand;
extern const Command kReadCommand;

// Prints "qm730ctl: " and the message on stderr.
void printError(const std::string& message);
// Prints the usage complaint and a pointer to the command's help; returns kExitUsage.
int usageError(const Command& command, const std::string& message);

}  // namespace qm730::cli
