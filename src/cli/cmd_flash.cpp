// qm730ctl flash: writes a firmware file into the board's flash through its
// flash loader, as the Write command of service mode does, or with
// --dry-run only tells what such a write would send.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/command.h"
#include "cli/console.h"
#include "cli/console_host.h"
#include "core/flash/programmer.h"
#include "core/link/serial_port.h"

namespace qm730::cli {

namespace {

struct FlashOptions {
    std::string port;
    std::string file;
    bool dryRun = false;
    Verbosity verbosity;
};

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

// The file is loaded and checked whole before anything else happens; a
// refused file names the line at fault.
std::optional<int> load(const std::string& path, Firmware& firmware, FirmwareLoad& load) {
    load = loadFirmwareFile(path, firmware);
    if (load.ok()) return std::nullopt;
    printError("cannot load '" + path + "': " + load.reason());
    return kExitUsage;
}

std::string checksumLine(const FirmwareLoad& loaded) {
    return "image checksum: " + hex(loaded.checksum, 4) + " (stored low byte first at EFFFE/EFFFF)";
}

// Bytes the file put where the checksum goes are not written as they were.
std::string replacedLine(const FirmwareLoad& loaded) {
    return "the file put " + hex(loaded.fileChecksumLow, 2) + " " + hex(loaded.fileChecksumHigh, 2) +
           " at EFFFE/EFFFF; the image checksum " + hex(loaded.checksum & 0xFF, 2) + " " +
           hex(loaded.checksum >> 8, 2) +
           " replaces them";
}

int dryRun(const FlashOptions& options) {
    Firmware firmware;
    FirmwareLoad loaded;
    if (const auto status = load(options.file, firmware, loaded)) return *status;
    if (options.verbosity.quiet) return kExitOk;
    const std::vector<int> blocks = firmware.image.blocksToProgram();
    std::string report = "firmware: " + firmware.fileName + "\n";
    report += "bytes loaded: " + std::to_string(loaded.bytesLoaded) + "\n";
    report += checksumLine(loaded) + "\n";
    if (loaded.checksumReplaced) report += replacedLine(loaded) + "\n";
    report += "blocks to write: " + std::to_string(blocks.size()) + " of " + std::to_string(kFlashBlockCount) + "\n";
    for (int k : blocks) report += "block " + std::to_string(k) + " at " + hex(FlashImage::blockAddress(k), 5) + "\n";
    std::cout << report;
    return kExitOk;
}

int flash(const FlashOptions& options) {
    auto firmware = std::make_unique<Firmware>();  // 128 KiB: kept off the stack
    FirmwareLoad loaded;
    if (const auto status = load(options.file, *firmware, loaded)) return *status;

    Console console(options.verbosity);
    console.step("firmware " + firmware->fileName + ": " + std::to_string(loaded.bytesLoaded) + " bytes loaded, " +
                 std::to_string(firmware->image.blocksToProgram().size()) + " blocks to write, " +
                 checksumLine(loaded));
    if (loaded.checksumReplaced) console.step(replacedLine(loaded));

    // Ctrl+C or a kill in the middle of a write ends the program at once,
    // but leaves the port as it found it for the next command.
    SerialPort::releasePortsOnInterrupt();
    SerialPort port;
    LinkState state;
    ConsoleHost host(console);
    BoardLink link(port, host, state);
    const FlashOutcome outcome = WriteFirmware(link, options.port, *firmware);
    if (!outcome.ok()) {
        console.clearBar();
        printError("flash on " + portLabel(options.port) + ": " + describeFlashOutcome(outcome));
        return kExitFailed;
    }
    console.completeBar();
    console.step(describeFlashOutcome(outcome));
    printSuccess(options.verbosity, kTransmitSuccessText);
    return kExitOk;
}

}  // namespace

Action addFlashCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("flash", "write a firmware file into the board's flash");
    auto options = std::make_shared<FlashOptions>();
    CLI::Option* port = addPortOption(*command, options->port);
    command->add_flag("--dry-run", options->dryRun,
                      "load and check the file and tell what would be written; no port is used");
    addVerbosityOptions(*command, options->verbosity);
    addFileArgument(*command, "FIRMWARE", options->file, "the firmware file (Motorola S-records, S2)");
    command->footer(
        "Loads and checks the whole firmware file first, then, on PORT at 19200 baud,\n"
        "8 data bits, no parity, two stop bits: checks that the board's flash loader\n"
        "answers, erases D0000-DFFFF and E0000-EFFFF, writes every block of 2048\n"
        "bytes that is not blank and reads each written block back to compare it.\n"
        "The last two bytes (EFFFE/EFFFF) hold the image checksum. Prints\n"
        "\"Transmit Success!\" when every written block read back the same; a failure\n"
        "prints one line on stderr: \"qm730ctl: flash on PORT: REASON\". A failed\n"
        "write leaves the board partly programmed: run it again. The whole write is\n"
        "given twice its time on the line and its pauses plus 30 s (a full 128 KiB:\n"
        "about 5.7 minutes); a board that answers far slower fails it.\n"
        "--dry-run prints the file, the bytes loaded, the image checksum, whether the\n"
        "checksum replaces bytes the file put there, and the blocks to write.\n"
        "Exit status: 0 written and verified (or, with --dry-run, the file is sound),\n"
        "1 the board or the line failed, 2 usage error or the file is refused.\n");
    // The port is needed for a write only.
    command->callback([port, options] {
        if (!options->dryRun && port->count() == 0) throw CLI::RequiredError("--port");
    });
    return [options] { return options->dryRun ? dryRun(*options) : flash(*options); };
}

}  // namespace qm730::cli
