// qm730sim: a simulated board on a pseudo-terminal. Prints the device path to
// connect to as its first line, then serves until interrupted.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "sim/board_wire.h"
#include "sim/pseudo_terminal.h"
#include "sim/sim_board.h"
#include "sim/sim_options.h"

namespace {

constexpr const char* kUsage =
    "Usage: qm730sim [--load FILE.tbl] [--save FILE.tbl] [--pace] [--silent]\n"
    "                [--wrong-answer] [--refuse] [--bad-checksum] [--stop-after N]\n"
    "\n"
    "Simulates the board's configuration service on a pseudo-terminal. The first\n"
    "line printed is the device to connect to, e.g. qm730ctl send --port DEVICE.\n"
    "\n"
    "  --load FILE      start from this table file of exactly 40959 bytes\n"
    "                   (default: the default image)\n"
    "  --save FILE      write the image to FILE after each completed upload; its\n"
    "                   folder must exist and be writable\n"
    "  --pace           take and send bytes at 19200 baud (11 bits a byte)\n"
    "  --silent         answer nothing\n"
    "  --wrong-answer   answer the logon with \"IX=\" instead of \"ID=\"\n"
    "  --refuse         answer the upload request with NAK instead of the go-ahead\n"
    "  --bad-checksum   send download frames with a wrong checksum\n"
    "  --stop-after N   send only the first N bytes (0 to 8846) of a download frame\n";

qm730::sim::SimBoard* runningBoard = nullptr;

extern "C" void onSignal(int) {
    if (runningBoard) runningBoard->stop();
}

int usage(const std::string& complaint) {
    std::cerr << "qm730sim: " << complaint << "\n" << kUsage;
    return 2;
}

int refuse(const std::string& problem) {
    std::cerr << "qm730sim: " << problem << "\n";
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
        } else if ((arg == "--load" || arg == "--save") && hasValue) {
            const std::string& file = args[++i];
            if (file.empty()) return usage(arg + " needs a file name");
            (arg == "--load" ? loadFile : options.saveFile) = file;
        } else if (arg == "--stop-after" && hasValue) {
            options.stopAfter = qm730::sim::parseCount(args[++i], qm730::sim::kFrameLength);
            if (!options.stopAfter)
                return usage("--stop-after takes a byte count from 0 to 8846, not '" + args[i] + "'");
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
        if (const auto problem = qm730::sim::loadWholeImage(loadFile, image)) return refuse(*problem);
    }
    if (!options.saveFile.empty()) {
        if (const auto problem = qm730::sim::saveTargetProblem(options.saveFile)) return refuse(*problem);
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
