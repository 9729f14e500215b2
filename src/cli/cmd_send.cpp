// Placeholder until the command is written.
#include "cli/command.h"

namespace qm730::cli {
namespace {
int run(const std::vector<std::string>&) {
    printError("send: not available yet");
    return kExitFailed;
}
}  // namespace

const Command kSendCommand{"send", "send --port PORT FILE.tbl", "Usage: qm730ctl send --port PORT FILE.tbl\n", run};

}  // namespace qm730::cli
