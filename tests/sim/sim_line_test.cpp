// The simulated board's end of the line, driven through a real
// pseudo-terminal from the program's side.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <numeric>
#include <vector>

#include "sim/pseudo_terminal.h"
#include "sim/sim_line.h"

using namespace qm730::sim;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// The program's side of the line, opened like a serial port.
class ProgramSide {
public:
    explicit ProgramSide(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    ~ProgramSide() { ::close(fd_); }

    void write(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void purge() {
        ::tcflush(fd_, TCOFLUSH);
        ::tcflush(fd_, TCIFLUSH);
    }
    // What the board link does before every frame: a stray byte must not be
    // taken for the frame's answer.
    void discardInput() { ::tcflush(fd_, TCIFLUSH); }

private:
    int fd_;
};

std::vector<std::uint8_t> counting(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{1});
    return bytes;
}

// Everything the board is handed until `count` bytes have come or the line
// has been quiet for a second.
std::vector<std::uint8_t> receiveAll(SimLine& line, std::size_t count) {
    std::vector<std::uint8_t> got;
    std::uint8_t buffer[4096];
    while (got.size() < count) {
        const std::size_t n = line.receive(buffer, sizeof buffer, 1000ms);
        if (n == 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

class Line : public ::testing::Test {
protected:
    Line() {
        int fds[2];
        if (::pipe(fds) == 0) {
            wakeRead_ = fds[0];
            wakeWrite_ = fds[1];
        }
    }
    ~Line() override {
        ::close(wakeRead_);
        ::close(wakeWrite_);
    }

    PseudoTerminal pty_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
};

}  // namespace

TEST_F(Line, PacedBytesReachTheBoardInOrderAndNoSoonerThanOnTheWire) {
    SimLine line(pty_.master(), wakeRead_, true);
    ProgramSide program(pty_.slavePath());
    const std::vector<std::uint8_t> sent = counting(200);
    const auto start = Clock::now();
    program.write(sent);
    EXPECT_EQ(receiveAll(line, sent.size()), sent);
    EXPECT_GE(Clock::now() - start, SimLine::kByteTime * 200);
}

TEST_F(Line, WhileTheBoardSendsItKeepsTakingBytesSoThePurgeOfTheNextExchangeLosesNone) {
    SimLine line(pty_.master(), wakeRead_, true);
    ProgramSide program(pty_.slavePath());
    // More than the kernel keeps safe from a purge once the board has read it.
    const std::vector<std::uint8_t> sent = counting(6000);
    program.write(sent);
    // About 170 ms on the wire, in which the line keeps taking the program's bytes.
    const std::vector<std::uint8_t> answer(300, 'A');
    const auto start = Clock::now();
    line.send(answer.data(), answer.size());
    // The answer's last chunk is handed over once its last bit is on the wire.
    EXPECT_GE(Clock::now() - start, SimLine::kByteTime * answer.size());
    EXPECT_EQ(line.queued(), sent.size());
    program.purge();
    program.write({'\r'});
    std::vector<std::uint8_t> expected = sent;
    expected.push_back('\r');
    EXPECT_EQ(receiveAll(line, expected.size()), expected);
    // What crossed the line, each byte once, the purge notwithstanding.
    EXPECT_EQ(line.bytesTaken(), expected.size());
    EXPECT_EQ(line.bytesSent(), answer.size());
}

TEST_F(Line, APurgeWithNothingOnTheWireLetsNoLaterByteSkipIt) {
    SimLine line(pty_.master(), wakeRead_, true);
    ProgramSide program(pty_.slavePath());
    program.write(counting(20));
    EXPECT_EQ(receiveAll(line, 20).size(), 20u);
    // The next frame goes out right after the purge: it is as slow as ever.
    program.discardInput();
    const std::vector<std::uint8_t> frame = counting(200);
    const auto start = Clock::now();
    program.write(frame);
    EXPECT_EQ(receiveAll(line, frame.size()), frame);
    EXPECT_GE(Clock::now() - start, SimLine::kByteTime * 200);
}
