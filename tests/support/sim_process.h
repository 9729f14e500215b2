// qm730sim run as an operator runs it, and the program's end of its line:
// the simulator in a child process (its first line read from a pipe, its
// messages kept in a file), and the pseudo-terminal opened like a serial
// port that a test writes frames to and reads answers from.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qm730::test {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

class SimProcess {
public:
    SimProcess(const std::vector<std::string>& args, const std::string& errFile) : errFile_(errFile) {
        // Everything the child needs is made before the fork: a test program
        // with threads (the windowed one) may not allocate in the child.
        std::vector<char*> argv{const_cast<char*>(QM730SIM_PATH)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, 2);
            ::execv(QM730SIM_PATH, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }

    // What it has logged so far.
    std::string log() const {
        std::ifstream in(errFile_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Waits until the log holds `text` at least `count` times; false when it
    // did not within the limit.
    bool waitForLogged(const std::string& text, std::size_t count,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        const auto deadline = Clock::now() + limit;
        while (timesLogged(text) < count) {
            if (Clock::now() >= deadline) return false;
            ::usleep(10000);
        }
        return true;
    }

    // Heals the board (SIGUSR1) and waits until it says so; false when it
    // did not within the limit.
    bool heal(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const std::string healed = "healed: every fault is off from now on";
        const std::size_t before = timesLogged(healed);
        if (pid_ <= 0 || ended_ || ::kill(pid_, SIGUSR1) != 0) return false;
        return waitForLogged(healed, before + 1, limit);
    }
    ~SimProcess() {
        stop();
        if (out_ >= 0) ::close(out_);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The first line it prints (the device to use), or "" when it printed
    // none within the limit.
    std::string firstLine(std::chrono::milliseconds limit) {
        std::string line;
        const auto deadline = Clock::now() + limit;
        char c = 0;
        while (Clock::now() < deadline) {
            pollfd entry{out_, POLLIN, 0};
            if (::poll(&entry, 1, 100) <= 0) continue;
            if (::read(out_, &c, 1) != 1) return "";
            if (c == '\n') return line;
            line += c;
        }
        return "";
    }

    // Everything it prints until it closes its output or the limit passes.
    std::string allOutput(std::chrono::milliseconds limit) {
        std::string text;
        const auto deadline = Clock::now() + limit;
        char buffer[4096];
        while (Clock::now() < deadline) {
            pollfd entry{out_, POLLIN, 0};
            if (::poll(&entry, 1, 100) <= 0) continue;
            const ssize_t got = ::read(out_, buffer, sizeof buffer);
            if (got <= 0) break;
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }

    // Its exit status once it has ended by itself; -1 when it was still
    // running at the limit.
    int exitStatus(std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
                ended_ = true;
                return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
            }
            ::usleep(10000);
        }
        return -1;
    }

    // Interrupts it as an operator's Ctrl+C would and waits for its end;
    // returns its exit status.
    int stop() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, &status_, 0);
            ended_ = true;
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }

private:
    std::size_t timesLogged(const std::string& text) const {
        const std::string logged = log();
        std::size_t n = 0;
        for (std::size_t at = logged.find(text); at != std::string::npos; at = logged.find(text, at + 1)) ++n;
        return n;
    }

    std::string errFile_;
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = 0;
    bool ended_ = false;
};

// The program's side of the line, opened like a serial port in raw mode.
class TestPort {
public:
    explicit TestPort(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    ~TestPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    TestPort(const TestPort&) = delete;
    TestPort& operator=(const TestPort&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    void write(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t put = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (put > 0) {
                done += static_cast<std::size_t>(put);
                continue;
            }
            pollfd entry{fd_, POLLOUT, 0};
            ::poll(&entry, 1, 100);
        }
    }

    // Up to `count` bytes: what has come when that many are there or the
    // limit has passed.
    Bytes read(std::size_t count, std::chrono::milliseconds limit) {
        Bytes got;
        const auto deadline = Clock::now() + limit;
        std::uint8_t buffer[4096];
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    // Everything up to and including the first byte 03 after `skip` bytes,
    // or what has come by the limit.
    Bytes readThroughEnd(std::chrono::milliseconds limit, std::size_t skip = 0) {
        Bytes got;
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            const Bytes one = read(1, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
            if (one.empty()) break;
            got.push_back(one[0]);
            if (one[0] == 0x03 && got.size() > skip) break;
        }
        return got;
    }

private:
    int fd_;
};

}  // namespace qm730::test
