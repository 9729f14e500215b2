// qm730ctl read: reads the board's configuration into a table file.
#include <CLI/CLI.hpp>

#include <memory>

#include "cli/command.h"
#include "cli/console.h"
#include "cli/tablefile.h"
#include "cli/transfer_console.h"

namespace qm730::cli {

namespace {
struct ReadOptions {
    std::string port;
    std::string base;
    std::string out;
    Verbosity verbosity;
};
}  // namespace

Action addReadCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("read", "read the board's configuration into a table file");
    auto options = std::make_shared<ReadOptions>();
    addPortOption(*command, options->port)->required();
    addFileOption(*command, "--base", "BASE.tbl", options->base,
                  "where what the board does not send comes from (default: the default configuration)");
    addVerbosityOptions(*command, options->verbosity);
    addFileArgument(*command, "OUT.tbl", options->out, "the table file to write");
    command->footer(
        "Reads the board's configuration on PORT and writes it to OUT.tbl. The board\n"
        "sends the system settings, pagers 1..99, the first pager of each later\n"
        "hundred up to 800, the alarm messages and PPG messages 1..99; everything\n"
        "else comes from BASE.tbl. OUT.tbl is checked before the line is touched and\n"
        "written only after a complete read with a correct checksum, saved as\n"
        "'qm730ctl new' saves; a failed read leaves it untouched. Prints\n"
        "\"Read Success !\" once OUT.tbl is written; a failure prints one line on\n"
        "stderr: \"qm730ctl: read on PORT: REASON\". The whole read is given twice its\n"
        "time on the line (5.3 s) plus 30 s; a board that sends far slower fails it\n"
        "(\"the board sent N of 8846 bytes in T s: far slower than the line\").\n"
        "Exit status: 0 read and written, 1 the transfer failed or the port cannot be\n"
        "used, 2 usage error or a file that cannot be read or written.\n");
    return [options] {
        // The frame does not carry the whole image; the rest comes from the base.
        ConfigImage image = defaultImage();
        if (!options->base.empty())
            if (const auto status = loadWholeTableFile(options->base, image)) return *status;
        // Find out before the transfer, not after it, that the result cannot be kept.
        if (const auto status = checkTableFileTarget(options->out)) return *status;
        if (const int status = runTransfer(TransferKind::Read, options->port, options->verbosity, image))
            return status;
        if (const auto status = saveWholeTableFile(options->out, image)) return *status;
        printSuccess(options->verbosity, "Read Success !");
        return kExitOk;
    };
}

}  // namespace qm730::cli
