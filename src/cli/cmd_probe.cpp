// qm730ctl probe: tells whether the board's flash loader answers on a port,
// probing as the connection dialog does until it answers or time runs out.
#include <CLI/CLI.hpp>

#include <cmath>
#include <memory>

#include "cli/command.h"
#include "cli/console.h"
#include "cli/console_host.h"
#include "core/link/boardlink.h"
#include "core/link/serial_port.h"

namespace qm730::cli {

namespace {

constexpr double kDefaultTimeoutSeconds = 10;
constexpr double kLongestTimeoutSeconds = 86400;

struct ProbeOptions {
    std::string port;
    double timeoutSeconds = kDefaultTimeoutSeconds;
    Verbosity verbosity;
};

int probe(const ProbeOptions& options) {
    // Ctrl+C while probing leaves the port as it found it.
    SerialPort::releasePortsOnInterrupt();
    Console console(options.verbosity, false);
    ConsoleHost host(console);
    SerialPort port;
    LinkState state;
    BoardLink link(port, host, state);
    const auto timeout = std::chrono::milliseconds(std::llround(options.timeoutSeconds * 1000));
    const ProbeOutcome outcome = ProbeUntilAnswered(link, options.port, timeout);
    if (!outcome.ok()) {
        printError("probe on " + portLabel(options.port) + ": " + describeProbe(outcome));
        return kExitFailed;
    }
    printSuccess(options.verbosity, kConnectionSuccessText);
    return kExitOk;
}

}  // namespace

Action addProbeCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("probe", "tell whether the board's flash loader answers");
    auto options = std::make_shared<ProbeOptions>();
    addPortOption(*command, options->port)->required();
    command->add_option("--timeout", options->timeoutSeconds, "give up after this many seconds (0 probes once)")
        ->type_name("SECONDS")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                double seconds = -1;
                if (!CLI::detail::lexical_cast(text, seconds) || !(seconds >= 0 && seconds <= kLongestTimeoutSeconds))
                    return "'" + text + "' is not a number of seconds from 0 to 86400";
                return {};
            },
            ""))
        ->capture_default_str();
    addVerbosityOptions(*command, options->verbosity);
    command->footer(
        "Sends the probe byte 0E on PORT at 19200 baud, 8 data bits, no parity, two\n"
        "stop bits, 100 ms after opening the port, and waits up to 1,010 ms for the\n"
        "answer 06; without it, probes again 100 ms later, until the board answers\n"
        "or SECONDS have passed (the probe under way then still gets its 1,010 ms).\n"
        "Prints \"Connection Success !\" when it answered; otherwise one line on\n"
        "stderr: \"qm730ctl: probe on PORT: REASON\".\n"
        "Exit status: 0 the board answered, 1 it did not or the port cannot be used,\n"
        "2 usage error.\n");
    return [options] { return probe(*options); };
}

}  // namespace qm730::cli
