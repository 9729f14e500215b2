#include "cli/options.h"

#include <CLI/CLI.hpp>

#include <cctype>

#include "core/link/portname.h"

namespace qm730::cli {

namespace {

// A value that starts with '-' is the next option, taken for a value
// because the value was left out.
std::string optionInPlaceOfValue(const std::string& value) {
    if (value.size() > 1 && value[0] == '-') return "a value is missing: '" + value + "' is an option";
    return {};
}

}  // namespace

std::optional<std::string> portNameProblem(const std::string& name) {
    if (name.empty()) return "a port name is missing";
    if (std::string option = optionInPlaceOfValue(name); !option.empty()) return option;
    if (isPortName(name)) return std::nullopt;
    return "'" + name + "' is not a port: use " + portNamesInWords();
}

CLI::Option* addPortOption(CLI::App& command, std::string& port) {
    const CLI::Validator portName(
        [](std::string& name) -> std::string { return portNameProblem(name).value_or(std::string()); }, "");
    return command
        .add_option("-p,--port", port, portNamesInWords())
        ->type_name("PORT")
        ->check(portName);
}

void addVerbosityOptions(CLI::App& command, Verbosity& verbosity) {
    CLI::Option* verbose = command.add_flag("-v,--verbose", verbosity.verbose,
                                            "explain each step of the exchange on stderr");
    CLI::Option* quiet = command.add_flag("-q,--quiet", verbosity.quiet, "print nothing on success");
    verbose->excludes(quiet);
}

namespace {

// An argument that begins with '-' reaches a file argument only after "--",
// where it is meant as a name; an option's value may be the next option.
CLI::Validator fileName(bool optionValue) {
    return CLI::Validator(
        [optionValue](std::string& name) -> std::string {
            if (name.empty()) return "a file name is missing";
            return optionValue ? optionInPlaceOfValue(name) : std::string();
        },
        "");
}

}  // namespace

CLI::Option* addFileArgument(CLI::App& command, const std::string& name, std::string& file,
                             const std::string& description) {
    return command.add_option(name, file, description)->required()->type_name("")->check(fileName(false));
}

CLI::Option* addFileOption(CLI::App& command, const std::string& names, const std::string& valueName,
                           std::string& file, const std::string& description) {
    return command.add_option(names, file, description)->type_name(valueName)->check(fileName(true));
}

std::string portLabel(const std::string& port) {
    const std::string device = deviceForPortName(port);
    // Windows reaches COM3 as \\.\COM3: the same port, nothing to add.
    std::string upper = port;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (device == port || device == "\\\\.\\" + upper) return port;
    return port + " (" + device + ")";
}

}  // namespace qm730::cli
