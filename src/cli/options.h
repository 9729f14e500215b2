// Options and arguments that several commands share, defined once so they
// are spelled, checked and explained alike everywhere.
#pragma once

#include <optional>
#include <string>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace qm730::cli {

// What -v and -q ask for: -q prints nothing on success, -v explains each
// step of the exchange on stderr.
struct Verbosity {
    bool verbose = false;
    bool quiet = false;
};

// Why a port name cannot be used, if it cannot: a port is what isPortName
// (core/link/portname.h) accepts. On Linux "COM9", "COM 1" or a bare name would
// otherwise be opened as a file in the current folder.
std::optional<std::string> portNameProblem(const std::string& name);

// -p/--port PORT, checked by portNameProblem.
CLI::Option* addPortOption(CLI::App& command, std::string& port);
// -v/--verbose and -q/--quiet, which exclude each other.
void addVerbosityOptions(CLI::App& command, Verbosity& verbosity);
// A file named on the line: an argument (name in capitals, e.g. "OUT.tbl")
// or an option ("--base"). An empty name, or an option where the value
// belongs ("--base --verbose"), is a usage error.
CLI::Option* addFileArgument(CLI::App& command, const std::string& name, std::string& file,
                             const std::string& description);
CLI::Option* addFileOption(CLI::App& command, const std::string& names, const std::string& valueName,
                           std::string& file, const std::string& description);

// The port as the operator named it, with the device it stands for where
// that differs: "COM1 (/dev/ttyS0)", "/dev/ttyUSB0"; on Windows "COM1".
std::string portLabel(const std::string& port);

}  // namespace qm730::cli
