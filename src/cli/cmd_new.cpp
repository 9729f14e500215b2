// qm730ctl new: writes a table file holding the start-up default
// configuration.
#include <CLI/CLI.hpp>

#include <memory>

#include "cli/command.h"
#include "cli/options.h"
#include "cli/tablefile.h"

namespace qm730::cli {

Action addNewCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("new", "write a table file holding the default configuration");
    auto out = std::make_shared<std::string>();
    addFileArgument(*command, "OUT.tbl", *out, "the table file to write");
    command->footer(
        "Writes the default configuration: 454.5 MHz at 12.5 kHz spacing, pagers\n"
        "1..99 at 1234560.., pagers 100..899 at 100.., the default PPG and alarm\n"
        "messages. The file is exactly 40,959 bytes. An existing file is replaced in\n"
        "one step, so a failed write never destroys it, and keeps its permissions,\n"
        "owner and group. Where no new file can be made beside it (a folder that is\n"
        "not writable, a file with several names) it is written in place. A symbolic\n"
        "link is followed, but not another user's link in a folder such as /tmp; a\n"
        "read-only file, a folder, a device or a FIFO is refused. Another program\n"
        "changing the file is waited for, up to 5 seconds.\n"
        "Prints nothing on success.\n"
        "Exit status: 0 written, 2 usage error or the file cannot be written or is in\n"
        "use.\n");
    return [out] {
        TableFileLock lock;
        if (const auto status = lockTableFile(*out, lock)) return *status;
        return saveWholeTableFile(*out, defaultImage()).value_or(kExitOk);
    };
}

}  // namespace qm730::cli
