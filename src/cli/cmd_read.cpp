// qm730ctl read: reads the board's configuration into a table file.
#include "cli/command.h"
#include "cli/transfer_console.h"
#include "core/config/configfile.h"

namespace qm730::cli {
namespace {

int run(const std::vector<std::string>& args) {
    TransferOptions options;
    if (const auto status = parseTransferOptions(kReadCommand, args, true, options)) return *status;
    // The frame does not carry the whole image; the rest comes from the base.
    ConfigImage image = defaultImage();
    if (options.base)
        if (const auto status = loadWholeTableFile(*options.base, image)) return *status;
    // Find out before the transfer, not after it, that the result cannot be kept.
    if (const FileResult writable = checkSaveTarget(options.file); !writable.ok()) {
        printError("cannot write '" + options.file + "': " + writable.reason);
        return kExitUsage;
    }
    if (!runTransfer(TransferKind::Read, options, image)) return kExitFailed;
    const FileResult saved = saveTableFile(options.file, image);
    if (!saved.ok()) {
        printError("cannot write '" + options.file + "': " + saved.reason);
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace

const Command kReadCommand{"read", "read --port PORT [--base BASE.tbl] [--verbose] OUT.tbl",
                           "Usage: qm730ctl read --port PORT [--base BASE.tbl] [--verbose] OUT.tbl\n"
                           "Read the board's configuration on PORT and write it to OUT.tbl. The\n"
                           "board sends the system settings, pagers 1..99, the first pager of each\n"
                           "later hundred up to 800, the alarm messages and PPG messages 1..99;\n"
                           "everything else comes from BASE.tbl (default: the default configuration).\n"
                           "OUT.tbl is written only after a complete read with a correct checksum,\n"
                           "and saved as 'qm730ctl new' saves; a failed read leaves it untouched.\n"
                           "Exit status: 0 read and written, 1 the transfer failed or the port\n"
                           "cannot be used, 2 usage error or a file that cannot be read or written.\n",
                           run};

}  // namespace qm730::cli
