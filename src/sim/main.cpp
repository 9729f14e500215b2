// qm730sim: a simulated board on a pseudo-terminal. Prints the device path to
// connect to as its first line, then serves until interrupted.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "config/configfile.h"
#include "sim/pseudo_terminal.h"
#include "sim/sim_board.h"

namespace {

constexpr const char* kUsage =
    "Usage: qm730sim [--load FILE.tbl] [--save FILE.tbl] [--pace] [--silent]\n"
    "                [--wrong-answer] [--refuse] [--bad-checksum] [--stop-after N]\n"
    "\n"
    "Simulates the board's configuration service on a pseudo-terminal. The first\n"
    "line printed is the device to connect to, e.g. qm730ctl send --port DEVICE.\n"
    "\n"
    "  --load FILE      start from this table file (default: the default image)\n"
    "  --save FILE      write the image to FILE after each completed upload\n"
    "  --pace           take and send bytes at 19200 baud (11 bits a byte)\n"
    "  --silent         answer nothing\n"
    "  --wrong-answer   answer the logon with \"IX=\" instead of \"ID=\"\n"
    "  --refuse         answer the upload request with NAK instead of the go-ahead\n"
    "  --bad-checksum   send download frames with a wrong checksum\n"
    "  --stop-after N   send only the first N bytes of a download frame\n";

qm730::sim::SimBoard* runningBoard = nullptr;

extern "C" void onSignal(int) {
    if (runningBoard) runningBoard->stop();
}

int usage(const std::string& complaint) {
    std::cerr << "qm730sim: " << complaint << "\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    qm730::sim::SimOptions options;
    std::string loadFile;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--load" && hasValue) {
            loadFile = args[++i];
        } else if (arg == "--save" && hasValue) {
            options.saveFile = args[++i];
        } else if (arg == "--stop-after" && hasValue) {
            char* end = nullptr;
            const unsigned long long n = std::strtoull(args[++i].c_str(), &end, 10);
            if (*end != '\0' || args[i].empty() || args[i][0] == '-') return usage("--stop-after needs a byte count");
            options.stopAfter = static_cast<std::size_t>(n);
        } else if (arg == "--pace") {
            options.pace = true;
        } else if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--wrong-answer") {
            options.wrongAnswer = true;
        } else if (arg == "--refuse") {
            options.refuse = true;
        } else if (arg == "--bad-checksum") {
            options.badChecksum = true;
        } else {
            return usage("unknown or incomplete option '" + arg + "'");
        }
    }

    qm730::ConfigImage image = qm730::defaultImage();
    if (!loadFile.empty()) {
        const qm730::FileResult loaded = qm730::loadTableFile(loadFile, image);
        if (!loaded.ok()) {
            std::cerr << "qm730sim: cannot load " << loadFile << ": " << loaded.reason << "\n";
            return 2;
        }
    }

    try {
        qm730::sim::PseudoTerminal line;
        qm730::sim::SimBoard board(options, image, std::cerr);
        runningBoard = &board;
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGHUP, onSignal);
        std::cout << line.slavePath() << std::endl;
        board.serve(line.master());
        runningBoard = nullptr;
    } catch (const std::exception& e) {
        std::cerr << "qm730sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
