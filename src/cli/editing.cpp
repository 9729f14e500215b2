#include "cli/editing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli/command.h"
#include "cli/console.h"
#include "cli/tablefile.h"
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

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
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
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return cannot("read", path, std::strerror(errno));
    text.clear();
    char buffer[1 << 16];
    int error = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error = errno;
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > kLargestText) break;
    }
    if (!standardInput) ::close(fd);
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
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return cannot("write", path, std::strerror(errno));
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
    const int error = errno;
    if (std::fclose(out) != 0 || !written) return cannot("write", path, std::strerror(written ? errno : error));
    return std::nullopt;
}

}  // namespace qm730::cli
