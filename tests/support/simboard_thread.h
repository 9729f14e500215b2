// A simulated board serving a fresh pseudo-terminal on its own thread, for the
// tests that run a whole transfer through a real serial line.
#pragma once

#include <sstream>
#include <string>
#include <thread>

#include "sim/pseudo_terminal.h"
#include "sim/sim_board.h"

namespace qm730::test {

class SimBoardThread {
public:
    explicit SimBoardThread(sim::SimOptions options = {}, const ConfigImage& image = defaultImage())
        : board_(std::move(options), image, log_), thread_([this] {
              if (board_.serve(line_.master())) line_.close();  // the board let the line go
          }) {}
    ~SimBoardThread() {
        board_.stop();
        thread_.join();
    }
    SimBoardThread(const SimBoardThread&) = delete;
    SimBoardThread& operator=(const SimBoardThread&) = delete;

    std::string port() const { return line_.slavePath(); }
    sim::SimBoard& sim() { return board_; }
    // What the board logged, for the message of a failed expectation.
    std::string log() const { return log_.str(); }

private:
    sim::PseudoTerminal line_;
    std::ostringstream log_;
    sim::SimBoard board_;
    std::thread thread_;
};

}  // namespace qm730::test
