// One configuration transfer on a port, as qm730ctl send and read run it:
// progress on the terminal, the steps with --verbose, and the one line of a
// failure on stderr. The success line is the caller's, once all is done.
#pragma once

#include <string>

#include "cli/options.h"
#include "core/config/image.h"

namespace qm730::cli {

enum class TransferKind { Send, Read };

// Opens the port and runs the transfer. Returns kExitOk, or kExitFailed
// after printing why ("COMMAND on PORT: REASON", the command being send or
// read unless named); after a failed read the image is unchanged.
int runTransfer(TransferKind kind, const std::string& port, Verbosity verbosity, ConfigImage& image,
                const char* command = nullptr);

}  // namespace qm730::cli
