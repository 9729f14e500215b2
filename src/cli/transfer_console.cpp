#include "cli/transfer_console.h"

#include <memory>

#include "cli/command.h"
#include "cli/console.h"
#include "cli/console_host.h"
#include "core/link/serial_port.h"
#include "core/link/transfer_line.h"
#include "core/link/transfer_protocol.h"

namespace qm730::cli {

int runTransfer(TransferKind kind, const std::string& portName, Verbosity verbosity, ConfigImage& image,
                const char* command) {
    const bool sending = kind == TransferKind::Send;
    if (!command) command = sending ? "send" : "read";
    const std::string failedOn = std::string(command) + " on " + portLabel(portName) + ": ";
    // Ctrl+C or a kill in the middle of a transfer ends the program at once,
    // but leaves the port as it found it for the next command.
    SerialPort::releasePortsOnInterrupt();
    SerialPort serial;
    const TransferPortOpening opening = openTransferPort(serial, portName);
    if (!opening.opened) {
        printError(failedOn + opening.reason);
        return kExitFailed;
    }
    Console console(verbosity);
    console.step("port open at 19200 baud, 8 data bits, no parity, 2 stop bits");
    // The transfer dialog's log and message boxes are the dialog's own: the
    // terminal gets the steps in words instead, and the reason of a failure
    // once, at the end.
    ConsoleHost host(console);
    // Two buffers of 32 KiB and 9 KiB: kept off the stack.
    auto transfer = std::make_unique<ConfigTransfer>(image, serial, host);
    if (!(sending ? transfer->SendConfiguration() : transfer->ReceiveConfiguration())) {
        console.clearBar();
        serial.abandon();  // nothing more is owed to the board
        printError(failedOn + transfer->failureReason());
        return kExitFailed;
    }
    console.completeBar();
    try {
        serial.close();
    } catch (const SerialError& e) {
        // Closing waits for the last bytes; a send is only done once they
        // are out. What a read took is complete and checked already.
        if (sending) {
            printError(failedOn + "cannot close the port: " + e.reason());
            return kExitFailed;
        }
    }
    return kExitOk;
}

}  // namespace qm730::cli
