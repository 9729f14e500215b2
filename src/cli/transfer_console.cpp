#include "cli/transfer_console.h"

#include <unistd.h>

#include <iostream>

#include "core/config/configfile.h"
#include "core/link/serial_transfer_port.h"
#include "core/link/transfer_protocol.h"

namespace qm730::cli {

namespace {

constexpr int kBarWidth = 40;

// The transfer dialog on a terminal: a progress bar on stderr when it is a
// terminal, the log lines with --verbose, message boxes as error lines.
class ConsoleDisplay : public TransferDisplay {
public:
    explicit ConsoleDisplay(bool verbose) : verbose_(verbose), drawBar_(::isatty(STDERR_FILENO) == 1) {}
    ~ConsoleDisplay() override { endBar(); }

    void setStatus(const std::string& text) override { status_ = text; }
    void setProgressRange(int minimum, int maximum) override {
        minimum_ = minimum;
        maximum_ = maximum;
        shownPercent_ = -1;
    }
    void setProgress(int position) override {
        if (!drawBar_ || maximum_ <= minimum_) return;
        // The last position of a read is one short of the range's end.
        const int percent = std::min(100, 100 * (position - minimum_ + 1) / (maximum_ - minimum_));
        if (percent == shownPercent_) return;
        shownPercent_ = percent;
        const int filled = kBarWidth * percent / 100;
        std::cerr << '\r' << status_ << " [" << std::string(filled, '#') << std::string(kBarWidth - filled, ' ')
                  << "] " << percent << "%" << std::flush;
        barShown_ = true;
    }
    void repaint() override {}
    void logLine(const std::string& line) override {
        if (!verbose_) return;
        endBar();
        std::cerr << line << "\n";
    }
    void showNotice(const Notice& notice) override {
        endBar();
        printError(notice.caption + ": " + notice.text);
    }
    void endBar() {
        if (barShown_) std::cerr << "\n";
        barShown_ = false;
    }

private:
    bool verbose_;
    bool drawBar_;
    bool barShown_ = false;
    std::string status_;
    int minimum_ = 0;
    int maximum_ = 100;
    int shownPercent_ = -1;
};

std::string failureReason(const ConfigTransfer& transfer) {
    if (transfer.failure() == TransferFailure::LineFailed) return describeFailure(transfer.failure()) + ": " + transfer.lineError();
    return describeFailure(transfer.failure());
}

}  // namespace

std::optional<int> parseTransferOptions(const Command& command, const std::vector<std::string>& args,
                                        bool allowBase, TransferOptions& options) {
    std::vector<std::string> files;
    const std::string prefix = std::string(command.name) + ": ";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](const std::string& name) -> std::optional<std::string> {
            if (arg.rfind(name + "=", 0) == 0) return arg.substr(name.size() + 1);
            if (arg == name && i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (arg.rfind("--port", 0) == 0) {
            const auto port = value("--port");
            if (!port || port->empty()) return usageError(command, prefix + "--port needs a port name");
            options.port = *port;
        } else if (allowBase && arg.rfind("--base", 0) == 0) {
            const auto base = value("--base");
            if (!base || base->empty()) return usageError(command, prefix + "--base needs a table file");
            options.base = *base;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError(command, prefix + "unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (options.port.empty()) return usageError(command, prefix + "--port PORT is required");
    if (files.size() != 1) return usageError(command, prefix + "expected exactly one table file");
    options.file = files.front();
    return std::nullopt;
}

std::optional<int> loadWholeTableFile(const std::string& path, ConfigImage& image) {
    ConfigImage loaded = image;
    const FileResult result = loadTableFile(path, loaded);
    if (!result.ok()) {
        printError("cannot read '" + path + "': " + result.reason);
        return kExitUsage;
    }
    if (result.fileSize != kImageSize) {
        printError("'" + path + "' is " + std::to_string(result.fileSize) +
                   " bytes; a table file is exactly 40959 bytes");
        return kExitUsage;
    }
    image = loaded;
    return std::nullopt;
}

bool runTransfer(TransferKind kind, const TransferOptions& options, ConfigImage& image) {
    const std::string device = SerialPort::deviceForPortName(options.port);
    const std::string where = options.port == device ? device : options.port + " (" + device + ")";
    // Ctrl+C or a kill in the middle of a transfer ends the program at once,
    // but leaves the port as it found it for the next command.
    SerialPort::releasePortsOnInterrupt();
    SerialPort serial;
    const TransferPortOpening opening = openTransferPort(serial, options.port);
    if (!opening.opened) {
        printError("cannot use port " + where + ": " + opening.detail);
        return false;
    }
    SerialTransferPort port(serial);
    SleepingPump pump;
    ConsoleDisplay display(options.verbose);
    ConfigTransfer transfer(image, port, pump, display);
    const bool sending = kind == TransferKind::Send;
    const bool ok = sending ? transfer.SendConfiguration() : transfer.ReceiveConfiguration();
    display.endBar();
    if (ok) {
        std::cout << (sending ? "Transfer Success !" : "Read Success !") << std::endl;
    } else {
        std::cout << (sending ? "Transfer Error !" : "Read Error !") << std::endl;
        printError(std::string(sending ? "send" : "read") + " on " + where + ": " + failureReason(transfer));
    }
    if (!ok) {
        serial.abandon();  // nothing more is owed to the board
        return false;
    }
    try {
        serial.close();
    } catch (const SerialError& e) {
        printError(e.what());
    }
    return true;
}

}  // namespace qm730::cli
