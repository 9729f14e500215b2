#include "cli/editing.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli/command.h"
#include "cli/console.h"
#include "cli/platform.h"
#include "cli/tablefile.h"
#include "core/config/configfile.h"
#include "core/config/imagediff.h"

namespace qm730::cli {

namespace {

// Far more than any table of pagers or messages; a device that never ends
// (/dev/zero) is stopped there.
constexpr std::size_t kLargestText = 4u << 20;

int cannot(const char* what, const std::string& path, const std::string& reason) {
    printError(std::string("cannot ") + what + " '" + path + "': " + reason);
    return kExitUsage;
}

bool isStandardStream(const std::string& path) { return path.empty() || path == "-"; }

}  // namespace

void addEditOptions(CLI::App& command, EditOptions& options) {
    CLI::Option* verbose = command.add_flag("-v,--verbose", options.verbosity.verbose,
                                            "list every change, in the words of 'qm730ctl diff'");
    CLI::Option* quiet = command.add_flag("-q,--quiet", options.verbosity.quiet, "print nothing on success");
    verbose->excludes(quiet);
    command.add_flag("-n,--dry-run", options.dryRun, "check and tell what would change, but write nothing");
}

std::string counted(std::size_t count, const std::string& singular, const std::string& plural) {
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

int finishEdit(const std::string& file, const ConfigImage& before, const ConfigImage& after,
               const std::string& changes, const EditOptions& options) {
    if (options.verbosity.verbose)
        for (const std::string& line : describeDifferences(before, after)) std::cout << line << "\n";
    if (changes.empty()) {
        printSuccess(options.verbosity, file + ": nothing changed");
        return kExitOk;
    }
    if (options.dryRun) {
        printSuccess(options.verbosity, file + ": " + changes + " would change (dry run, nothing written)");
        return kExitOk;
    }
    if (const auto status = saveWholeTableFile(file, after)) return *status;
    printSuccess(options.verbosity, file + ": " + changes + " changed");
    return kExitOk;
}

std::optional<int> readTextFile(const std::string& path, std::string& text) {
    const bool standardInput = path == "-";
    std::FILE* in = standardInput ? stdin : openFile(path, "rb");
    if (!in) return cannot("read", path, std::strerror(errno));
    text.clear();
    char buffer[1 << 16];
    int error = 0;
    for (;;) {
        errno = 0;
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
        text.append(buffer, got);
        if (got < sizeof buffer) {
            if (std::ferror(in)) error = errno ? errno : EIO;
            break;
        }
        if (text.size() > kLargestText) break;
    }
    if (!standardInput) std::fclose(in);
    if (error) return cannot("read", path, std::strerror(error));
    if (text.size() > kLargestText) return cannot("read", path, "larger than 4 MiB, no table of this program");
    return std::nullopt;
}

std::optional<int> writeTextFile(const std::string& path, const std::string& text, const std::string& table) {
    if (isStandardStream(path)) {
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
            printError(std::string("cannot write to standard output: ") + std::strerror(errno));
            return kExitFailed;
        }
        return std::nullopt;
    }
    if (sameFile(path, table)) return cannot("write", path, "it is the table file itself");
    // Saved as table files are: whole or not at all, never into a FIFO or a device.
    const FileResult saved =
        saveFileContents(path, FileContents(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    if (!saved.ok()) return cannot("write", path, saved.reason);
    return std::nullopt;
}

}  // namespace qm730::cli
