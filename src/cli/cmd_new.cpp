// qm730ctl new: writes a table file holding the start-up default
// configuration.
#include <sys/stat.h>

#include "cli/command.h"
#include "config/configfile.h"
#include "config/image.h"

namespace qm730::cli {
namespace {

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

int run(const std::vector<std::string>& args) {
    bool force = false;
    std::vector<std::string> paths;
    for (const std::string& arg : args) {
        if (arg == "--force" || arg == "-f")
            force = true;
        else if (!arg.empty() && arg[0] == '-')
            return usageError(kNewCommand, "new: unknown option '" + arg + "'");
        else
            paths.push_back(arg);
    }
    if (paths.size() != 1) return usageError(kNewCommand, "new: expected exactly one output file");
    const std::string& path = paths.front();
    if (!force && exists(path)) {
        printError("'" + path + "' already exists; use --force to replace it");
        return kExitUsage;
    }
    const FileResult result = saveTableFile(path, defaultImage());
    if (!result.ok()) {
        printError("cannot write '" + path + "': " + result.reason);
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace

const Command kNewCommand{"new", "new [--force] OUT.tbl",
                          "Usage: qm730ctl new [--force] OUT.tbl\n"
                          "Write a table file holding the default configuration: 454.5 MHz at\n"
                          "12.5 kHz spacing, pagers 1..99 at 1234560.., pagers 100..899 at 100..,\n"
                          "the default PPG and alarm messages. The file is exactly 40,959 bytes.\n"
                          "An existing file is left alone unless --force (-f) is given; it is then\n"
                          "replaced in one step, so a failed write never destroys it.\n",
                          run};

}  // namespace qm730::cli
