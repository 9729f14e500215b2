// Placeholder until the command is written.
#include "cli/command.h"

namespace qm730::cli {
namespace {
int run(const std::vector<std::string>&) {
    printError("dump: not available yet");
    return kExitFailed;
}
}  // namespace

const Command kDumpCommand{"dump", "dump FILE.tbl", "Usage: qm730ctl dump FILE.tbl\n", run};

}  // namespace qm730::cli
