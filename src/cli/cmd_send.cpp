// qm730ctl send: sends a table file to the board.
#include "cli/command.h"
#include "cli/transfer_console.h"

namespace qm730::cli {
namespace {

int run(const std::vector<std::string>& args) {
    TransferOptions options;
    if (const auto status = parseTransferOptions(kSendCommand, args, false, options)) return *status;
    ConfigImage image;
    if (const auto status = loadWholeTableFile(options.file, image)) return *status;
    return runTransfer(TransferKind::Send, options, image) ? kExitOk : kExitFailed;
}

}  // namespace

const Command kSendCommand{"send", "send --port PORT [--verbose] FILE.tbl",
                           "Usage: qm730ctl send --port PORT [--verbose] FILE.tbl\n"
                           "Send the configuration in FILE.tbl (exactly 40,959 bytes) to the board\n"
                           "on PORT at 19200 baud, 8 data bits, no parity, two stop bits. The port\n"
                           "is held exclusively for the transfer. Prints \"Transfer Success !\" or\n"
                           "\"Transfer Error !\" and the reason. --verbose also prints the logon log.\n"
                           "Exit status: 0 sent, 1 the transfer failed or the port cannot be used,\n"
                           "2 usage error or unusable file.\n",
                           run};

}  // namespace qm730::cli
