// Placeholder until the command is written.
#include "cli/command.h"

namespace qm730::cli {
namespace {
int run(const std::vector<std::string>&) {
    printError("read: not available yet");
    return kExitFailed;
}
}  // namespace

const Command kReadCommand{"read", "read --port PORT [--base BASE.tbl] OUT.tbl", "Usage: qm730ctl read --port PORT [--base BASE.tbl] OUT.tbl\n", run};

}  // namespace qm730::cli
