// qm730ctl send: sends a table file to the board.
#include <CLI/CLI.hpp>

#include <memory>

#include "cli/command.h"
#include "cli/console.h"
#include "cli/tablefile.h"
#include "cli/transfer_console.h"

namespace qm730::cli {

namespace {
struct SendOptions {
    std::string port;
    std::string file;
    Verbosity verbosity;
};
}  // namespace

Action addSendCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("send", "send the configuration in a table file to the board");
    auto options = std::make_shared<SendOptions>();
    addPortOption(*command, options->port)->required();
    addVerbosityOptions(*command, options->verbosity);
    addFileArgument(*command, "FILE.tbl", options->file, "the table file to send (exactly 40,959 bytes)");
    command->footer(
        "Sends the configuration to the board on PORT at 19200 baud, 8 data bits, no\n"
        "parity, two stop bits, holding the port exclusively meanwhile. Prints\n"
        "\"Transfer Success !\" once the last block has left the port; a failure prints\n"
        "one line on stderr: \"qm730ctl: send on PORT: REASON\". The whole send is\n"
        "given twice its time on the line (about 17 s) plus 30 s; a line that moves\n"
        "far slower fails it (\"the port sent N of M bytes in T s: far slower than the\n"
        "line\").\n"
        "Exit status: 0 sent, 1 the transfer failed or the port cannot be used,\n"
        "2 usage error or a file that cannot be used.\n");
    return [options] {
        ConfigImage image;
        if (const auto status = loadWholeTableFile(options->file, image)) return *status;
        if (const int status = runTransfer(TransferKind::Send, options->port, options->verbosity, image))
            return status;
        printSuccess(options->verbosity, "Transfer Success !");
        return kExitOk;
    };
}

}  // namespace qm730::cli
