// qm730ctl: the command line, parsed by CLI11, and the commands it runs.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <new>

#include "cli/command.h"
#include "cli/console.h"
#include "cli/platform.h"
#include "core/link/portname.h"
#include "version.h"

namespace qm730::cli {
namespace {

constexpr const char* kProgram = "qm730ctl";

constexpr const char* kOverviewFooter =
    "\n"
    "'qm730ctl help COMMAND' or 'qm730ctl COMMAND --help' explains a command.\n"
    "Exit status: 0 success, 1 the operation failed (the board, the line or the\n"
    "port), 2 a usage error or a file that cannot be read or written.\n";

// Output that did not reach standard output (a full disk, a closed pipe) makes
// an otherwise successful run fail; a failed run has said why already.
int finishOutput(int status) {
    errno = 0;
    std::cout.flush();
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (status != kExitOk || (flushed && !std::ferror(stdout) && std::cout.good())) return status;
    printError(std::string("cannot write to standard output") + (error ? ": " + std::string(std::strerror(error)) : ""));
    return kExitFailed;
}

bool looksLikeOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

// CLI11 reports a missing value or argument before an argument it does not
// know; the unknown option is the likelier mistake ("--portX"), so it is
// named first.
std::string complaint(const CLI::App& command, const CLI::ParseError& error) {
    for (const std::string& arg : command.remaining())
        if (looksLikeOption(arg)) return "unknown option '" + arg + "'";
    return error.what();
}

int unknownCommand(const std::string& message) {
    printError(message);
    std::cerr << "Try 'qm730ctl help' for the commands.\n";
    return kExitUsage;
}

int reportParseError(const CLI::App& app, const CLI::ParseError& error) {
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    if (!chosen.empty()) return usageError(*chosen.front(), complaint(*chosen.front(), error));
    const std::vector<std::string> rest = app.remaining();
    if (rest.empty()) {
        std::cerr << app.get_formatter()->make_help(&app, kProgram, CLI::AppFormatMode::Normal);
        return kExitUsage;
    }
    if (looksLikeOption(rest.front())) return unknownCommand("unknown option '" + rest.front() + "'");
    return unknownCommand("unknown command '" + rest.front() + "'");
}

int runCommandLine(int argc, char** argv) {
    CLI::App app("qm730ctl - prepare, inspect and transfer QM730C configurations, write the board's firmware",
                 kProgram);
    app.set_version_flag("--version", std::string(kProgram) + " " + QM730_VERSION, "print the version and exit");
    app.set_help_flag("-h,--help", "print this help and exit");
    app.require_subcommand(1);
    // Options begin with '-' on every system: on Windows CLI11 would take
    // "/data/a.tbl" for an option. The commands inherit this.
    app.allow_windows_style_options(false);
    app.footer(portNamesExplained() + kOverviewFooter);

    std::map<const CLI::App*, Action> actions;
    for (Action (*add)(CLI::App&) :
         {addNewCommand, addDumpCommand, addGetCommand, addSetCommand, addPagersCommand, addMessagesCommand,
          addDiffCommand, addSendCommand, addReadCommand, addVerifyCommand, addFlashCommand, addProbeCommand,
          addBackupCommand, addPortsCommand}) {
        Action action = add(app);
        actions.emplace(app.get_subcommands({}).back(), std::move(action));
    }
    CLI::App* help = app.add_subcommand("help", "explain qm730ctl or one of its commands");
    std::string topic;
    help->add_option("COMMAND", topic, "the command to explain")->type_name("");
    help->footer("Without COMMAND: the commands of qm730ctl, the port names and the exit statuses.\n");
    // The overview, as --help prints it; once a command is chosen, help()
    // would describe that command instead.
    const auto overview = [&app] { return app.get_formatter()->make_help(&app, kProgram, CLI::AppFormatMode::Normal); };

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return reportParseError(app, e);
    }

    const CLI::App* chosen = app.get_subcommands().front();
    if (chosen == help) {
        if (topic.empty()) {
            std::cout << overview();
            return kExitOk;
        }
        for (const CLI::App* command : app.get_subcommands({}))
            if (command->get_name() == topic) {
                std::cout << command->help(kProgram);
                return kExitOk;
            }
        return unknownCommand("unknown command '" + topic + "'");
    }
    return actions.at(chosen)();
}

}  // namespace

void printError(const std::string& message) { std::cerr << kProgram << ": " << terminalText(message) << "\n"; }

int usageError(const CLI::App& command, const std::string& message) {
    printError(command.get_name() + ": " + message);
    std::cerr << "Try 'qm730ctl help " << command.get_name() << "' for more information.\n";
    return kExitUsage;
}

}  // namespace qm730::cli

int main(int argc, char** argv) {
    using namespace qm730::cli;
    if (!prepareStandardStreams()) return kExitFailed;
    // Whatever escapes a command ends the run with one line, never with the
    // C++ runtime's abort: the files were saved whole or not at all, and a
    // port is put back as it is let go.
    try {
        std::vector<std::string> arguments = argumentsAsUtf8(argc, argv);
        std::vector<char*> pointers;
        for (std::string& argument : arguments) pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        return finishOutput(runCommandLine(static_cast<int>(arguments.size()), pointers.data()));
    } catch (const std::bad_alloc&) {
        std::fputs("qm730ctl: out of memory\n", stderr);  // no text is built: memory is short
    } catch (const std::exception& e) {
        printError(std::string("unexpected failure: ") + e.what());
    } catch (...) {
        printError("unexpected failure");
    }
    return kExitFailed;
}
