// qm730ctl started in the background as from a shell, so a test can signal
// it in the middle of its work.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qm730::test {

// The signals whose default is to end a program (and that can be caught).
inline constexpr int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGPIPE,   SIGUSR1,
                                         SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};

class Background {
public:
    // Standard output goes to folder/ctl.out, or to stdoutFd when given.
    Background(const std::vector<std::string>& args, const std::filesystem::path& folder, int stdoutFd = -1) {
        std::vector<std::string> all = {QM730CTL_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        if (stdoutFd >= 0)
            posix_spawn_file_actions_adddup2(&files, stdoutFd, 1);
        else
            posix_spawn_file_actions_addopen(&files, 1, (folder / "ctl.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&files, 2, (folder / "ctl.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        // Whatever the test runner ignores or blocks, the program starts as
        // from a shell.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t signals;
        sigemptyset(&signals);
        posix_spawnattr_setsigmask(&attributes, &signals);
        for (int sig : kEndingSignals) sigaddset(&signals, sig);
        posix_spawnattr_setsigdefault(&attributes, &signals);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (::posix_spawn(&pid_, argv[0], &files, &attributes, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&files);
        posix_spawnattr_destroy(&attributes);
    }
    // Returns the wait status once the program has ended by itself.
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    ~Background() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool started() const { return pid_ > 0; }
    // Sends the signal and returns the wait status once the program has ended.
    int interrupt(int sig) {
        ::kill(pid_, sig);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
};

// Runs qm730ctl with its standard output a pipe nobody reads any more, as
// `qm730ctl ... | head -c 0` would; returns its wait status.
inline int runWithClosedStdout(const std::vector<std::string>& args, const std::filesystem::path& folder) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
    ::close(pipeEnds[0]);
    Background run(args, folder, pipeEnds[1]);
    ::close(pipeEnds[1]);
    return run.started() ? run.wait() : -1;
}

}  // namespace qm730::test
