// Placeholder until the command is written.
#include "cli/command.h"

namespace qm730::cli {
namespace {
int run(const std::vector<std::string>&) {
    printError("new: not available yet");
    return kExitFailed;
}
}  // namespace

const Command kNewCommand{"new", "new OUT.tbl", "Usage: qm730ctl new OUT.tbl\n", run};

}  // namespace qm730::cli
