// qm730ctl new: writes a table file holding the start-up default
// configuration.
#include "cli/command.h"
#include "core/config/configfile.h"
#include "core/config/image.h"

namespace qm730::cli {
namespace {

int run(const std::vector<std::string>& args) {
    std::vector<std::string> paths;
    for (const std::string& arg : args) {
        if (!arg.empty() && arg[0] == '-')
            return usageError(kNewCommand, "new: unknown option '" + arg + "'");
        else
            paths.push_back(arg);
    }
    if (paths.size() != 1) return usageError(kNewCommand, "new: expected exactly one output file");
    const std::string& path = paths.front();
    const FileResult result = saveTableFile(path, defaultImage());
    if (!result.ok()) {
        printError("cannot write '" + path + "': " + result.reason);
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace

const Command kNewCommand{"new", "new OUT.tbl",
                          "Usage: qm730ctl new OUT.tbl\n"
                          "Write a table file holding the default configuration: 454.5 MHz at\n"
                          "12.5 kHz spacing, pagers 1..99 at 1234560.., pagers 100..899 at 100..,\n"
                          "the default PPG and alarm messages. The file is exactly 40,959 bytes.\n"
                          "An existing file is replaced in one step, so a failed write never\n"
                          "destroys it, and keeps its permissions, owner and group. Where no new\n"
                          "file can be made beside it (a folder that is not writable, a file with\n"
                          "several names) it is written in place. A symbolic link is followed; a\n"
                          "read-only file, a folder, a device or a FIFO is refused (exit status 2).\n",
                          run};

}  // namespace qm730::cli
