// A pseudo-terminal standing in for the serial line: the simulated board
// works the master side, the program opens the slave device by its path.
#pragma once

#include <string>

namespace qm730::sim {

class PseudoTerminal {
public:
    // Throws std::system_error when no pseudo-terminal can be had.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_; }
    // Closes both sides now, as a device that goes away: a program that has
    // the device open sees the line hang up.
    void close();
    const std::string& slavePath() const { return slavePath_; }

private:
    int master_ = -1;
    // Held open (raw) for the board's lifetime, so the line stays up while
    // programs open and close the slave one after another.
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace qm730::sim
