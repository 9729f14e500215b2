// What the commands that edit and convert table files share: the options
// -v, -q and --dry-run, CSV text in and out, and telling what an edit changed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "cli/options.h"
#include "core/config/image.h"

namespace CLI {
class App;
}

namespace qm730::cli {

struct EditOptions {
    Verbosity verbosity;
    bool dryRun = false;
};

// -v/--verbose lists every change, -q/--quiet prints nothing on success,
// -n/--dry-run checks and tells but writes nothing.
void addEditOptions(CLI::App& command, EditOptions& options);

// "1 setting", "3 settings".
std::string counted(std::size_t count, const std::string& singular, const std::string& plural);

// Ends an edit of a table file: with -v the changes, one per line in the
// words of `qm730ctl diff`; then, unless -q, "FILE: 3 pager records changed"
// (or "... would change (dry run, nothing written)", or "FILE: nothing
// changed" when `changes` is empty). The file is saved unless it is a dry
// run or nothing changed. `changes` counts them: "3 pager records".
int finishEdit(const std::string& file, const ConfigImage& before, const ConfigImage& after,
               const std::string& changes, const EditOptions& options);

// Reads a whole text file; "-" is standard input. Returns an exit status
// after printing why when it cannot.
std::optional<int> readTextFile(const std::string& path, std::string& text);
// Writes text to a file, or to standard output for "-" or an empty name. A
// file is saved as table files are (replaced in one step, with the same
// refusals); a name that is the table file `table` itself is refused.
std::optional<int> writeTextFile(const std::string& path, const std::string& text, const std::string& table);

}  // namespace qm730::cli
