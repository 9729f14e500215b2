#include "cli/transfer_console.h"

#include <memory>

#include "cli/command.h"
#include "cli/console.h"
#include "core/link/serial_port.h"
#include "core/link/transfer_line.h"
#include "core/link/transfer_protocol.h"

namespace qm730::cli {

namespace {

// The transfer dialog on a terminal. Its log tokens and message boxes are
// the dialog's own; the terminal gets the steps in words instead, and the
// reason of a failure once, at the end.
class ConsoleDisplay : public TransferDisplay {
public:
    ConsoleDisplay(Console& console, bool reading) : console_(console), reading_(reading) {}

    void setStatus(const std::string&) override { console_.setLabel(reading_ ? "reading" : "sending"); }
    void setProgressRange(int minimum, int maximum) override { console_.setRange(minimum, maximum); }
    // A read reports the index of the byte stored last, one short of a count.
    void setProgress(int position) override { console_.setPosition(reading_ ? position + 1 : position); }
    void repaint() override {}
    void logLine(const std::string&) override {}
    void showNotice(const Notice&) override {}
    void note(const std::string& step) override { console_.step(step); }

private:
    Console& console_;
    bool reading_;
};

}  // namespace

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
    SleepingPump pump;
    ConsoleDisplay display(console, !sending);
    // Two buffers of 32 KiB and 9 KiB: kept off the stack.
    auto transfer = std::make_unique<ConfigTransfer>(image, serial, pump, display);
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
