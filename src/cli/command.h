// The commands of qm730ctl. Each command lives in a file of its own: it adds
// its subcommand, options and help to the command line and returns what runs
// once the line has been parsed. main.cpp lists them.
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace qm730::cli {

// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the operation itself failed
inline constexpr int kExitUsage = 2;   // bad arguments, or a file that cannot be read or written

using Action = std::function<int()>;

Action addNewCommand(CLI::App& app);
Action addDumpCommand(CLI::App& app);
Action addSendCommand(CLI::App& app);
Action addReadCommand(CLI::App& app);
Action addFlashCommand(CLI::App& app);
Action addProbeCommand(CLI::App& app);
Action addSetCommand(CLI::App& app);
Action addGetCommand(CLI::App& app);
Action addPagersCommand(CLI::App& app);
Action addMessagesCommand(CLI::App& app);
Action addDiffCommand(CLI::App& app);
Action addVerifyCommand(CLI::App& app);
Action addBackupCommand(CLI::App& app);
Action addPortsCommand(CLI::App& app);

// Prints "qm730ctl: " and the message on stderr, as one line.
void printError(const std::string& message);
// Prints a usage complaint about the command and where its help is; returns
// kExitUsage.
int usageError(const CLI::App& command, const std::string& message);

}  // namespace qm730::cli
