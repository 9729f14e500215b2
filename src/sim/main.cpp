// qm730sim: a simulated board on a pseudo-terminal. Prints the device path to
// connect to as its first line, then serves until interrupted.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <optional>
#include <string>
#include <utility>

#include "sim/file_checks.h"
#include "sim/flash_file.h"
#include "sim/pseudo_terminal.h"
#include "sim/sim_board.h"
#include "sim/sim_options.h"

namespace {

using namespace qm730::sim;

SimBoard* runningBoard = nullptr;

extern "C" void onSignal(int) {
    if (runningBoard) runningBoard->stop();
}

extern "C" void onHeal(int) {
    if (runningBoard) runningBoard->heal();
}

int refuse(const std::string& problem) {
    std::cerr << "qm730sim: " << problem << "\n";
    return 2;
}

// A process started with a standard stream closed would hand that number to
// the pseudo-terminal, and the device's name would be written into the line.
void parkClosedStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) ::close(opened);
    }
}

// Loads the files to start from and checks the files to save to, so that a
// bad file is refused before the board starts. Returns what is wrong, or
// nothing.
std::optional<std::string> prepareFiles(const SimCommandLine& commandLine, qm730::ConfigImage& image, Bytes& flash) {
    const SimOptions& options = commandLine.options;
    if (!commandLine.loadFile.empty()) {
        if (auto problem = loadWholeImage(commandLine.loadFile, image)) return problem;
    }
    if (!options.saveFile.empty()) {
        if (auto problem = saveTargetProblem(options.saveFile)) return problem;
    }
    if (!commandLine.flashLoadFile.empty()) {
        if (auto problem = loadFlashFile(commandLine.flashLoadFile, flash)) return problem;
    }
    if (!options.flashSaveFile.empty()) {
        // Saved once at the start, so the file holds the board's flash for
        // as long as the board runs, changed or not.
        if (auto problem = saveTargetProblem(options.flashSaveFile)) return problem;
        if (flash.empty()) flash.assign(loader::kFlashBytes, loader::kErased);
        if (auto problem = saveFlashFile(options.flashSaveFile, flash)) return problem;
    }
    return std::nullopt;
}

// Serves the line until a signal stops the board or the board lets it go.
int serve(const SimOptions& options, const qm730::ConfigImage& image, Bytes flash) {
    try {
        PseudoTerminal line;
        SimBoard board(options, image, std::cerr, std::move(flash));
        runningBoard = &board;
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGHUP, onSignal);
        std::signal(SIGUSR1, onHeal);
        std::cout << line.slavePath() << std::endl;
        // Returns when stopped, or when the board has let the line go: the
        // pseudo-terminal then closes with the board, and the device is gone.
        board.serve(line.master());
        runningBoard = nullptr;
    } catch (const std::exception& e) {
        std::cerr << "qm730sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    parkClosedStandardStreams();
    SimCommandLine commandLine;
    if (const auto status = parseCommandLine(argc, argv, std::string("qm730sim ") + QM730_VERSION, commandLine))
        return *status;
    qm730::ConfigImage image = qm730::defaultImage();
    Bytes flash;
    if (const auto problem = prepareFiles(commandLine, image, flash)) return refuse(*problem);
    return serve(commandLine.options, image, std::move(flash));
}
