// Runs the built qm730ctl as an operator does, with its output captured and
// a time limit past which it is killed (a hang then fails instead of stalling).
#pragma once

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace qm730::test {

struct CtlRun {
    int status;  // the exit status; 137 when it was killed at the limit
    std::string out;
    std::string err;
    std::chrono::steady_clock::duration took;
};

inline std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The arguments are one string, quoted by the caller where needed; the output
// goes to files in the given folder.
inline CtlRun runQm730ctl(const std::string& folder, const std::string& arguments, int limitSeconds = 15) {
    const std::string out = folder + "/ctl.out", err = folder + "/ctl.err";
    const std::string command = "timeout -s KILL " + std::to_string(limitSeconds) + " " QM730CTL_PATH " " +
                                arguments + " >" + out + " 2>" + err;
    const auto start = std::chrono::steady_clock::now();
    const int raw = std::system(command.c_str());
    const auto took = std::chrono::steady_clock::now() - start;
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, fileText(out), fileText(err), took};
}

}  // namespace qm730::test
