// What qm730ctl send and read share: their options, loading a table file
// strictly, and running one configuration transfer on a port with progress
// on the terminal.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "core/config/image.h"

namespace qm730::cli {

struct TransferOptions {
    std::string port;
    std::optional<std::string> base;  // read only
    std::string file;
    bool verbose = false;
};

// Parses --port PORT, [--base BASE] (when allowed), [--verbose] and one file.
// Returns an exit status on a usage error.
std::optional<int> parseTransferOptions(const Command& command, const std::vector<std::string>& args,
                                        bool allowBase, TransferOptions& options);

// Loads a table file that must be exactly one image long. Returns an exit
// status (after printing why) when it cannot be used.
std::optional<int> loadWholeTableFile(const std::string& path, ConfigImage& image);

enum class TransferKind { Send, Read };

// Opens the port, runs the transfer and prints its outcome. Returns true on
// success; on failure the reason has been printed and the image is unchanged
// (for a read).
bool runTransfer(TransferKind kind, const TransferOptions& options, ConfigImage& image);

}  // namespace qm730::cli
