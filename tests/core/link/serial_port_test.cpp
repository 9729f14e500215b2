// The serial layer on a pseudo-terminal and the opening of a port by its
// name: the failing steps, exclusive use, bounded writes and reads, a device
// that goes away, and what a closed port leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "core/link/line_opening.h"
#include "core/link/serial_port.h"
#include "closing_pump.h"
#include "serial_checks.h"
#include "core/link/transfer_line.h"
#include "run_ctl.h"
#include "scripted_line.h"
#include "sim/pseudo_terminal.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;
using namespace std::chrono_literals;

namespace {

// A pseudo-terminal with both ends in the test's hands: the far end stands
// for the cable and what hangs on it, the near end is the device a program
// opens, held here as a serial device stays there between programs.
struct LinePair {
    int far = -1;
    int near = -1;
    std::string path;
    LinePair() {
        char name[128];
        if (::openpty(&far, &near, name, nullptr, nullptr) != 0) throw std::runtime_error("no pseudo-terminal");
        path = name;
        termios tio{};
        ::tcgetattr(near, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(near, TCSANOW, &tio);
    }
    ~LinePair() {
        closeFar();
        ::close(near);
    }
    void closeFar() {
        if (far >= 0) ::close(far);
        far = -1;
    }
};

std::string hangUpText(const std::function<void()>& action) {
    try {
        action();
    } catch (const SerialError& e) {
        EXPECT_EQ(e.step(), SerialStep::HangUp);
        return e.what();
    }
    return "no failure";
}

struct OpenPort : ::testing::Test {
    sim::PseudoTerminal line;
    SerialPort port;
    void SetUp() override { ASSERT_TRUE(openLine(port, line.slavePath()).opened); }
};

}  // namespace

TEST(SerialLayer, AClosedPortRefusesEveryStep) {
    SerialPort port;
    std::uint8_t byte = 0;
    for (const auto& step : std::vector<std::function<void()>>{
             [&] { port.write(&byte, 1); },
             [&] { port.write(nullptr, 0); },  // checked before the count
             [&] { port.readAvailable(&byte, 1); },
             [&] { port.waitReadable(10ms); },
             [&] { port.bytesWaiting(); },
             [&] { port.purgeInput(); },
         })
        EXPECT_EQ(stepOf(step), SerialStep::NotOpen);
    EXPECT_EQ(stepOf([&] { port.close(); }), std::nullopt);
}

// A device that cannot be had is told apart from one that is no serial
// line: the board link says "Port already in use?" only for the first.
TEST(PortOpening, AMissingDeviceIsUnavailableWithTheSystemsError) {
    SerialPort port;
    const LineOpening opening = openLine(port, "/dev/qm730-no-such-device");
    EXPECT_FALSE(opening.opened);
    ASSERT_TRUE(opening.error);
    EXPECT_EQ(opening.error->step(), SerialStep::Open);
    EXPECT_EQ(opening.error->systemError(), ENOENT);
    EXPECT_TRUE(opening.deviceUnavailable());
    EXPECT_FALSE(port.isOpen());
}

TEST(PortOpening, ADeviceThatIsNotATerminalIsNoSerialLine) {
    char path[] = "/tmp/qm730-not-a-tty-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    SerialPort port;
    const LineOpening opening = openLine(port, path);
    ASSERT_TRUE(opening.error);
    EXPECT_EQ(opening.error->step(), SerialStep::NotATerminal);
    EXPECT_FALSE(opening.deviceUnavailable());
    EXPECT_FALSE(port.isOpen());
    ::unlink(path);
}

TEST_F(OpenPort, ASecondOpenerFindsItInUseAndTheFirstKeepsThePort) {
    SerialPort second;
    const LineOpening refused = openLine(second, line.slavePath());
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->step(), SerialStep::InUse);
    EXPECT_TRUE(refused.deviceUnavailable());
    EXPECT_TRUE(port.isOpen());
    port.close();
    EXPECT_TRUE(openLine(second, line.slavePath()).opened) << "free again once closed";
}

TEST_F(OpenPort, SettingsTheLayerRefusesLeaveThePortAsItWas) {
    EXPECT_EQ(stepOf([&] { port.configure({12345, 8, Parity::None, 2}); }), SerialStep::ApplySettings);
    EXPECT_EQ(stepOf([&] { port.configure({19200, 6, Parity::None, 2}); }), SerialStep::ApplySettings);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(stepOf([&] { port.configure({9600, 8, Parity::None, 1}); }), std::nullopt);
}

TEST_F(OpenPort, SettingsTheDeviceRefusesCloseThePortAgain) {
    // A pseudo-terminal keeps 8 data bits when asked for 7 with parity, and
    // says nothing: only reading the settings back shows it.
    const LineOpening refused = openLine(port, line.slavePath(), {19200, 7, Parity::Even, 2});
    EXPECT_TRUE(refused.settingsRefused);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->step(), SerialStep::ApplySettings);
    EXPECT_FALSE(refused.deviceUnavailable());
    EXPECT_FALSE(port.isOpen());
    SerialPort other;
    EXPECT_NO_THROW(other.open(line.slavePath())) << "the refused attempt let go of the device";
    other.close();
    EXPECT_TRUE(openLine(port, line.slavePath(), {9600, 8, Parity::None, 1}).opened);
}

TEST_F(OpenPort, BytesTravelBothWays) {
    const std::uint8_t out[] = {0x02, 0x0D, 0x0A, 0x11, 0x13, 0xFF};  // raw: nothing translated or swallowed
    port.write(out, sizeof out);
    std::uint8_t seen[sizeof out] = {};
    std::size_t got = 0;
    while (got < sizeof out) {
        pollfd p{line.master(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 1000), 1);
        got += static_cast<std::size_t>(::read(line.master(), seen + got, sizeof out - got));
    }
    EXPECT_EQ(std::vector<std::uint8_t>(seen, seen + got), std::vector<std::uint8_t>(out, out + sizeof out));

    ASSERT_EQ(::write(line.master(), "\x06\r", 2), 2);
    for (int i = 0; i < 100 && port.bytesWaiting() < 2; ++i) ::usleep(1000);
    EXPECT_EQ(port.bytesWaiting(), 2u);
    std::uint8_t in[2] = {};
    EXPECT_EQ(port.readAvailable(in, 1), 1u);
    EXPECT_EQ(port.readAvailable(in + 1, 1), 1u);
    EXPECT_EQ(in[0], 0x06);
    EXPECT_EQ(in[1], 0x0D);
    port.purgeInput();
    port.purgeOutput();
}

// A board that takes bytes slowly: nothing to read is no failure, and a write
// that goes on for longer than its stall time-out succeeds as long as the line
// keeps taking bytes.
TEST(SerialLayer, ASlowLineIsNoFailure) {
    LinePair line;
    SerialPort port;
    port.open(line.path);
    port.configure(kBoardLine);
    std::uint8_t buffer[16];
    EXPECT_EQ(port.readAvailable(buffer, sizeof buffer), 0u);

    const std::vector<std::uint8_t> data(24 * 1024, 'x');
    std::size_t taken = 0;
    std::thread board([&] {
        std::uint8_t chunk[1024];
        while (taken < data.size()) {
            pollfd p{line.far, POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1) return;
            const ssize_t n = ::read(line.far, chunk, sizeof chunk);
            if (n <= 0) return;
            taken += static_cast<std::size_t>(n);
            std::this_thread::sleep_for(50ms);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(port.write(data.data(), data.size(), 300ms));
    EXPECT_GT(std::chrono::steady_clock::now() - start, 300ms) << "the write outlasted its stall time-out";
    board.join();
    EXPECT_EQ(taken, data.size());
}

// A line that keeps draining, but far too slowly for the operation under
// way, holds a write no longer than the operation's deadline.
TEST(SerialLayer, AWriteEndsAtTheDeadlineOfTheOperation) {
    LinePair line;
    SerialPort port;
    port.open(line.path);
    port.configure(kBoardLine);
    std::atomic<bool> done{false};
    std::thread board([&] {
        std::uint8_t chunk[256];
        while (!done) {
            pollfd p{line.far, POLLIN, 0};
            if (::poll(&p, 1, 50) == 1 && ::read(line.far, chunk, sizeof chunk) <= 0) return;
            std::this_thread::sleep_for(50ms);  // 5 KB a second
        }
    });
    const std::vector<std::uint8_t> data(64 * 1024, 'x');
    const auto start = std::chrono::steady_clock::now();
    port.setWriteDeadline(start + 500ms);
    try {
        port.write(data.data(), data.size());
        ADD_FAILURE() << "64 KB went through a line that takes 5 KB a second";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.step(), SerialStep::OutOfTime);
        EXPECT_EQ(e.reason(), "the operation's time ran out: Connection timed out");
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms);
    done = true;
    board.join();
}

TEST(SerialLayer, ALineThatNeverDrainsEndsInATimeOut) {
    sim::PseudoTerminal line;  // nobody reads the master side
    SerialPort port;
    port.open(line.slavePath());
    port.configure(kBoardLine);
    const std::vector<std::uint8_t> lots(1 << 20, 'x');
    try {
        port.write(lots.data(), lots.size(), 100ms);
        FAIL() << "a megabyte fitted into the line";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.step(), SerialStep::WriteTimeout);
    }
}

// A program whose windows must stay responsive gives them their turn while
// the line waits, a read as well as a write that waits for room; a turn
// that closes the port (a dialog cancelled) ends the wait.
TEST(SerialLayer, WaitsGiveThePumpItsTurnsAndEndWhenItClosesThePort) {
    const std::vector<std::uint8_t> lots(1 << 20, 'x');  // more than a pseudo-terminal holds
    struct Case {
        const char* name;
        std::function<void(SerialPort&)> wait;
    };
    const Case cases[] = {
        {"wait for input", [](SerialPort& port) { port.waitReadable(5s); }},
        {"write", [&](SerialPort& port) { port.write(lots.data(), lots.size()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::PseudoTerminal line;  // nobody reads or writes the far side
        SerialPort port;
        ASSERT_TRUE(openLine(port, line.slavePath()).opened);
        test::ClosingPump pump(port);
        port.setPump(&pump);
        const auto start = std::chrono::steady_clock::now();
        try {
            c.wait(port);
            ADD_FAILURE() << "the wait went on";
        } catch (const SerialError& e) {
            EXPECT_EQ(e.step(), SerialStep::NotOpen);
        }
        EXPECT_EQ(pump.turns, 10);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 9 * kEventSlice) << "the turns come between slices";
        EXPECT_FALSE(port.isOpen());
        port.setPump(nullptr);
        EXPECT_TRUE(openLine(port, line.slavePath()).opened) << "the closed port was let go";
    }
}

TEST(SerialLayer, AFarEndThatClosesIsAHangUpNamingTheDevice) {
    LinePair line;
    SerialPort port;
    port.open(line.path);
    port.configure(kBoardLine);
    line.closeFar();
    const std::string text = line.path + ": the line hung up (the device went away)";
    EXPECT_EQ(hangUpText([&] { port.waitReadable(2s); }), text);
    std::uint8_t buffer[16];
    EXPECT_EQ(hangUpText([&] { port.readAvailable(buffer, sizeof buffer); }), text);
    EXPECT_EQ(port.readAvailable(buffer, 0), 0u) << "asking for nothing is no read";
    EXPECT_EQ(hangUpText([&] { port.write(buffer, sizeof buffer); }), text);
    EXPECT_EQ(hangUpText([&] { port.bytesWaiting(); }), text);
    EXPECT_EQ(hangUpText([&] { port.bytesUnsent(); }), text) << "a hang-up is not an empty queue";
    EXPECT_EQ(hangUpText([&] { port.purgeInput(); }), text);
    port.abandon();
    EXPECT_FALSE(port.isOpen());
}

// A port name that names a file, a FIFO or a device that is no terminal is
// refused without being opened or changed, and a missing device is named
// once, with the system's word for it.
TEST(SerialLayer, NamesThatAreNoSerialLineAreRefusedUntouched) {
    TempDir dir;
    const std::string file = dir.file("COM9");
    { std::ofstream(file) << "keep"; }
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& name : {file, fifo, std::string("/dev/null")}) {
        SCOPED_TRACE(name);
        SerialPort port;
        // A FIFO opened for reading would wait in the open for a writer.
        const TransferPortOpening opening = expectRefusedAsNoSerialPort(port, name);
        ASSERT_TRUE(opening.notice);
        EXPECT_EQ(opening.notice->text, "Open Port Error!!");
    }
    EXPECT_EQ(fileText(file), "keep");

    SerialPort port;
    try {
        port.open(dir.file("ttyUSB9"));
        FAIL() << "opened";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.step(), SerialStep::Open);
        EXPECT_EQ(std::string(e.what()), dir.file("ttyUSB9") + ": No such file or directory");
        EXPECT_EQ(e.reason(), "No such file or directory");
    }
}

TEST(SerialLayer, SettingsTheDeviceDoesNotTakeAreRefused) {
    LinePair line;
    SerialPort port;
    port.open(line.path);
    try {
        port.configure({19200, 7, Parity::Even, 2});
        FAIL() << "a pseudo-terminal took 7 data bits";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.step(), SerialStep::ApplySettings);
        EXPECT_EQ(std::string(e.what()),
                  line.path + ": the device did not take 19200 baud, 7 data bits, even parity, 2 stop bits");
    }
    port.close();

    const TransferPortOpening opening = openTransferPort(port, line.path, {19200, 7, Parity::Even, 2});
    EXPECT_FALSE(opening.opened);
    ASSERT_TRUE(opening.notice);
    EXPECT_EQ(*opening.notice, (Notice{"Port Setting Error!!!", "Set Error", NoticeButtons::Ok, NoticeIcon::None}));
    EXPECT_EQ(opening.reason,
              "cannot set up the port: the device did not take 19200 baud, 7 data bits, even parity, 2 stop bits");
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(openTransferPort(port, line.path).opened) << "the refused attempt let go of the device";
}

// The exclusive-use flag is cleared only by the program that set it: one
// that another program set stays (root opens such a device all the same).
TEST(SerialLayer, ClosingPutsTheDevicesSettingsBackAndLetsGoOfIt) {
    LinePair line;
    const termios before = operatorSettings(line.near);
    struct Case { const char* name; bool failed; bool othersFlag; };
    for (const Case& c : {Case{"after success", false, false}, Case{"after a failure", true, false},
                          Case{"another program's flag, after success", false, true},
                          Case{"another program's flag, after a failure", true, true}}) {
        SCOPED_TRACE(c.name);
        if (c.othersFlag && ::geteuid() != 0) continue;  // only root opens a device made exclusive
        const bool failed = c.failed;
        ASSERT_EQ(::tcsetattr(line.near, TCSANOW, &before), 0);
        if (c.othersFlag) ::ioctl(line.near, TIOCEXCL);
        SerialPort port;
        port.open(line.path);
        port.configure(kBoardLine);
        EXPECT_EQ(exclusiveFlag(line.near), 1);
        termios board{};
        ::tcgetattr(line.near, &board);
        EXPECT_EQ(board.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8 | CSTOPB)) << "8N2";
        EXPECT_EQ(::cfgetospeed(&board), static_cast<speed_t>(B19200));
        EXPECT_EQ(board.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw, as the board's line is";
        EXPECT_EQ(board.c_iflag & (IXON | ICRNL), 0u);
        if (failed) port.abandon();
        else port.close();
        termios after{};
        ::tcgetattr(line.near, &after);
        EXPECT_TRUE(sameSettings(after, before));
        EXPECT_EQ(exclusiveFlag(line.near), c.othersFlag ? 1 : 0);
        ::ioctl(line.near, TIOCNXCL);
        SerialPort next;
        EXPECT_NO_THROW(next.open(line.path));
    }
}
