// qm730ctl diff and verify: how two table files, or a table file and the
// board, differ, in the words of the settings, pager records and messages.
#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

#include "cli/command.h"
#include "cli/console.h"
#include "cli/tablefile.h"
#include "cli/transfer_console.h"
#include "core/config/imagediff.h"

namespace qm730::cli {

namespace {

struct DiffOptions {
    std::string first;
    std::string second;
    bool quiet = false;
};

struct VerifyOptions {
    std::string port;
    std::string file;
    Verbosity verbosity;
};

constexpr const char* kWording =
    "One line per difference, \"NAME: BEFORE -> AFTER\":\n"
    "  Frequency: 454500000 Hz -> 455000000 Hz      a setting, as 'qm730ctl get' names it\n"
    "  pager 12 Name: '' -> 'Bob'                   a pager record and its column\n"
    "  message 5: 'No.5 ppg message' -> 'Hello'     a PPG message\n"
    "  alarm 3 Pager ID: '103' -> '200'             an alarm message's pager ID or Content\n"
    "Texts are quoted, control characters shown as \\xNN. Bytes that differ where no\n"
    "setting shows them (reserved bytes, name bytes past the name's length, the\n"
    "spare capcode slots 900 to 1000) follow, a run per line:\n"
    "  pager 5: bytes +22..+31 differ (no setting shows them)\n";

int diff(const DiffOptions& options) {
    ConfigImage first, second;
    if (const auto status = loadWholeTableFile(options.first, first)) return *status;
    if (const auto status = loadWholeTableFile(options.second, second)) return *status;
    const std::vector<std::string> lines = describeDifferences(first, second);
    if (!options.quiet)
        for (const std::string& line : lines) std::cout << line << "\n";
    return lines.empty() ? kExitOk : kExitFailed;
}

int verify(const VerifyOptions& options) {
    ConfigImage file;
    if (const auto status = loadWholeTableFile(options.file, file)) return *status;
    // What the board does not send is taken from the file, so only what it
    // sends can differ.
    ConfigImage board = file;
    if (const int status = runTransfer(TransferKind::Read, options.port, options.verbosity, board, "verify"))
        return status;
    const std::vector<std::string> lines = describeDifferences(file, board);
    if (lines.empty()) {
        printSuccess(options.verbosity, "The board holds " + options.file);
        return kExitOk;
    }
    if (!options.verbosity.quiet)
        for (const std::string& line : lines) std::cout << line << "\n";
    printError("verify on " + portLabel(options.port) + ": the board differs from " + options.file + " in " +
               std::to_string(lines.size()) + (lines.size() == 1 ? " place" : " places"));
    return kExitFailed;
}

}  // namespace

Action addDiffCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("diff", "tell how two table files differ, in setting and record words");
    auto options = std::make_shared<DiffOptions>();
    command->add_flag("-q,--quiet", options->quiet, "print nothing; the exit status tells");
    addFileArgument(*command, "A.tbl", options->first, "the first table file (the BEFORE values)");
    addFileArgument(*command, "B.tbl", options->second, "the second table file (the AFTER values)");
    command->footer(std::string("Compares every byte of the two files and tells the differences.\n") + kWording +
                    "Exit status: 0 the files are the same, 1 they differ, 2 usage error or a\n"
                    "file that cannot be read.\n");
    return [options] { return diff(*options); };
}

Action addVerifyCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("verify", "tell how the board's configuration differs from a table file");
    auto options = std::make_shared<VerifyOptions>();
    addPortOption(*command, options->port)->required();
    addVerbosityOptions(*command, options->verbosity);
    addFileArgument(*command, "FILE.tbl", options->file, "the table file the board should hold");
    command->footer(
        std::string("Reads the board's configuration on PORT, as 'qm730ctl read' does, and compares\n"
                    "it with FILE.tbl; nothing is written. The board sends the system settings,\n"
                    "pagers 1..99, the first pager of each later hundred up to 800 (bytes +0..+21),\n"
                    "the alarm messages and bytes 0..59 of PPG messages 1..99; only those are\n"
                    "compared. Prints \"The board holds FILE.tbl\" when they agree; otherwise the\n"
                    "differences with the file's value BEFORE and the board's AFTER the arrow,\n"
                    "and one line on stderr: \"qm730ctl: verify on PORT: the board differs from\n"
                    "FILE.tbl in N places\".\n") +
        kWording +
        "Exit status: 0 the board holds the file, 1 it differs, the read failed or the\n"
        "port cannot be used, 2 usage error or a file that cannot be read.\n");
    return [options] { return verify(*options); };
}

}  // namespace qm730::cli
