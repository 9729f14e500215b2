// qm730ctl backup: reads the board's whole flash through its flash loader
// into a firmware file that 'qm730ctl flash' (and service mode's Open)
// accepts, so the firmware on a board can be kept before new firmware is
// written over it.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "cli/command.h"
#include "cli/console.h"
#include "cli/console_host.h"
#include "core/config/configfile.h"
#include "core/flash/firmwarefile.h"
#include "core/flash/programmer.h"
#include "core/link/serial_port.h"

namespace qm730::cli {

namespace {

// What the file says about itself in its header record.
constexpr const char* kBackupHeader = "QM730C flash D0000-EFFFF";

struct BackupOptions {
    std::string port;
    std::string out;
    Verbosity verbosity;
};

std::optional<int> cannotWrite(const std::string& path, const FileResult& result) {
    if (result.ok()) return std::nullopt;
    printError("cannot write '" + path + "': " + result.reason);
    return kExitUsage;
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

// The checksum of the last two bytes tells whether the flash holds a whole
// image as a write leaves it; a backup is kept either way.
std::string checksumNote(const FlashImage& flash) {
    const std::uint16_t stored = flash.storedChecksum();
    const std::uint16_t computed = flash.computeChecksum();
    if (stored == computed) return "image checksum at EFFFE/EFFFF: " + hex4(stored) + ", matches the flash";
    return "image checksum at EFFFE/EFFFF: " + hex4(stored) + ", the flash sums to " + hex4(computed) +
           " (not an image as a write leaves it)";
}

int backup(const BackupOptions& options) {
    // Find out before the read, not after it, that the result cannot be kept.
    if (const auto status = cannotWrite(options.out, checkSaveTarget(options.out))) return *status;

    // Ctrl+C or a kill in the middle of the read leaves the port as it was
    // and OUT untouched.
    SerialPort::releasePortsOnInterrupt();
    Console console(options.verbosity);
    // The bar of the read is labelled for what it reads, not as a read-back.
    ConsoleHost host(console, {{kReadStatus, "reading the flash"}});
    SerialPort port;
    LinkState state;
    BoardLink link(port, host, state);
    auto flash = std::make_unique<FlashImage>();  // 128 KiB: kept off the stack
    const FlashOutcome outcome = ReadFirmware(link, options.port, *flash);
    if (!outcome.ok()) {
        console.clearBar();
        printError("backup on " + portLabel(options.port) + ": " + describeFlashOutcome(outcome));
        return kExitFailed;
    }
    console.completeBar();
    console.step(std::to_string(outcome.blocksRead) + " blocks read, D0000 to EFFFF");
    console.step(checksumNote(*flash));

    const std::string text = firmwareFileText(*flash, kBackupHeader);
    const FileResult saved =
        saveFileContents(options.out, FileContents(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    if (const auto status = cannotWrite(options.out, saved)) return *status;
    console.step(options.out + " written: " + std::to_string(flash->blocksToProgram().size()) +
                 " blocks hold data, the rest is erased");
    printSuccess(options.verbosity, "Read Success !");
    return kExitOk;
}

}  // namespace

Action addBackupCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("backup", "read the board's whole flash into a firmware file");
    auto options = std::make_shared<BackupOptions>();
    addPortOption(*command, options->port)->required();
    addVerbosityOptions(*command, options->verbosity);
    addFileArgument(*command, "OUT.s28", options->out, "the firmware file to write (Motorola S-records)");
    command->footer(
        "Checks that the board's flash loader answers on PORT at 19200 baud, 8 data\n"
        "bits, no parity, two stop bits, reads all 64 blocks of 2048 bytes from\n"
        "D0000 to EFFFF and writes them to OUT.s28 as S-records: an S0 header, S2\n"
        "records of 32 bytes (records that hold only erased bytes, FF, are left\n"
        "out: a write erases the flash first) and an S8 end record. The file is\n"
        "what 'qm730ctl flash' writes back; the two bytes at EFFFE/EFFFF are kept\n"
        "as read, and a write puts the image checksum there. Every data frame is\n"
        "checked whole: its size, length, count and command, its 16-bit sum, the\n"
        "address asked for and its complement, and it must be as long as the first.\n"
        "A block whose frame arrives damaged is read again, three reads in all; one\n"
        "that never arrives sound fails the backup, naming the block and what was\n"
        "wrong. A full read takes over a minute; the whole read is given twice its\n"
        "time on the line (77 s) plus 30 s, and a board that sends far slower fails\n"
        "it. OUT.s28 is checked before the line is touched and written only after a\n"
        "complete read, in one step; a failed read leaves it untouched. Prints\n"
        "\"Read Success !\" once OUT.s28 is written; a failure prints one line on\n"
        "stderr: \"qm730ctl: backup on PORT: REASON\".\n"
        "Exit status: 0 read and written, 1 the board or the line failed or the port\n"
        "cannot be used, 2 usage error or OUT.s28 cannot be written.\n");
    return [options] { return backup(*options); };
}

}  // namespace qm730::cli
