// Runs the built qm730ctl as an operator does, with its output captured and
// a time limit past which it is killed (a hang then fails instead of stalling).
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

// Starts one qm730ctl per argument string at the same moment, as scripts
// run at once would, and waits for all of them; each writes its output to
// files of its own in the folder. `took` is at least each run's time.
inline std::vector<CtlRun> runQm730ctlTogether(const std::string& folder, const std::vector<std::string>& arguments,
                                               int limitSeconds = 30) {
    std::vector<pid_t> started;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string command = "exec timeout -s KILL " + std::to_string(limitSeconds) + " " QM730CTL_PATH " " +
                              arguments[i] + " >" + folder + "/ctl-" + std::to_string(i) + ".out 2>" + folder +
                              "/ctl-" + std::to_string(i) + ".err";
        char shell[] = "/bin/sh", option[] = "-c";
        char* argv[] = {shell, option, command.data(), nullptr};
        pid_t pid = -1;
        if (::posix_spawn(&pid, shell, nullptr, nullptr, argv, environ) != 0) pid = -1;
        started.push_back(pid);
    }
    std::vector<CtlRun> runs;
    for (std::size_t i = 0; i < started.size(); ++i) {
        int raw = 0;
        const bool ended = started[i] > 0 && ::waitpid(started[i], &raw, 0) == started[i];
        const std::string out = folder + "/ctl-" + std::to_string(i);
        runs.push_back({ended && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, fileText(out + ".out"), fileText(out + ".err"),
                        std::chrono::steady_clock::now() - start});
    }
    return runs;
}

}  // namespace qm730::test
