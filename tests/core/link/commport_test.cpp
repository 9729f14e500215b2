// The serial-port class and the serial layer on a pseudo-terminal: error
// codes, exclusive use, bounded writes and reads, port names, a device that
// goes away, and what a closed port leaves behind.
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
#include <thread>
#include <vector>

#include "core/link/commport.h"
#include "core/link/serial_transfer_port.h"
#include "run_ctl.h"
#include "scripted_line.h"
#include "sim/pseudo_terminal.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;
using namespace std::chrono_literals;

namespace {

std::uint8_t codeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ECommError& e) {
        return e.ErrorCode;
    }
    return 0;
}

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
    TCommPort port;
    void SetUp() override { port.Configure(19200, line.slavePath(), kFormat8N2); }
};

}  // namespace

TEST(CommPort, ClosedPortRefusesIoWithCode7) {
    TCommPort port;
    const std::uint8_t byte = 0;
    EXPECT_EQ(codeOf([&] { port.Write(&byte, 1); }), comm_error::kNotOpen);
    EXPECT_EQ(codeOf([&] { port.Write(nullptr, 0); }), comm_error::kNotOpen) << "checked before the count";
    EXPECT_EQ(codeOf([&] { port.ReadByte(); }), comm_error::kNotOpen);
    EXPECT_EQ(codeOf([&] { port.BytesWaiting(); }), comm_error::kNotOpen);
    EXPECT_EQ(codeOf([&] { port.Purge(); }), comm_error::kNotOpen);
    EXPECT_EQ(codeOf([&] { port.ClosePort(); }), 0);
    EXPECT_EQ(codeOf([&] { port.PulseRts(true); }), 0) << "never opened: no handle to pulse";
}

TEST(CommPort, OpeningAMissingDeviceThrowsCode8WithTheSystemError) {
    TCommPort port;
    try {
        port.Configure(19200, "/dev/qm730-no-such-device", kFormat8N2);
        FAIL() << "no exception";
    } catch (const ECommError& e) {
        EXPECT_EQ(e.ErrorCode, comm_error::kOpenFailed);
        EXPECT_EQ(e.SystemError, static_cast<std::uint32_t>(ENOENT));
    }
    EXPECT_FALSE(port.IsOpen());
}

TEST(CommPort, ADeviceThatIsNotATerminalThrowsCode14) {
    char path[] = "/tmp/qm730-not-a-tty-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    TCommPort port;
    EXPECT_EQ(codeOf([&] { port.Configure(19200, path, kFormat8N2); }), comm_error::kReadSettingsFailed);
    EXPECT_FALSE(port.IsOpen());
    ::unlink(path);
}

TEST_F(OpenPort, SecondOpenerGetsCode8AndFirstKeepsThePort) {
    TCommPort second;
    EXPECT_EQ(codeOf([&] { second.Configure(19200, line.slavePath(), kFormat8N2); }), comm_error::kOpenFailed);
    SerialPort layer;
    try {
        layer.open(line.slavePath());
        FAIL() << "opened a port in use";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.step(), SerialStep::InUse);
    }
    port.ClosePort();
    EXPECT_NO_THROW(second.Configure(19200, line.slavePath(), kFormat8N2)) << "free again once closed";
}

TEST_F(OpenPort, StateChangesFollowTheRules) {
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(codeOf([&] { port.OpenPort(); }), 0);
    EXPECT_EQ(codeOf([&] { port.SetPortName("COM3"); }), comm_error::kRenameWhileOpen);
    EXPECT_EQ(port.PortName(), line.slavePath());
    EXPECT_EQ(codeOf([&] { port.Write(nullptr, 5); }), 0);
    EXPECT_EQ(codeOf([&] { port.SetBaudRate(12345); }), comm_error::kBaudRateRefused);
    EXPECT_EQ(port.Settings().baudRate, 19200u) << "the old rate is put back";
    EXPECT_EQ(codeOf([&] { port.SetBaudRate(9600); }), 0);
    EXPECT_EQ(codeOf([&] { port.PulseRts(false); }), 0);
    EXPECT_EQ(codeOf([&] { port.PulseRts(true); }), comm_error::kOpenFailed) << "a pty has no RTS line";
    port.ClosePort();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(codeOf([&] { port.SetPortName("COM3"); }), 0);
}

TEST_F(OpenPort, DataFormatCodes) {
    // A pseudo-terminal keeps 8 data bits when asked for 7 with parity, and
    // says nothing: only reading the settings back shows it.
    EXPECT_EQ(codeOf([&] { port.Configure(19200, line.slavePath(), kFormat7E2); }), comm_error::kApplySettingsFailed);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Settings(), (LineSettings{19200, 7, Parity::Even, 2}));
    SerialPort other;
    EXPECT_NO_THROW(other.open(line.slavePath())) << "the refused attempt let go of the device";
    other.close();
    port.Configure(9600, line.slavePath(), kFormat8N1);
    EXPECT_EQ(port.Settings(), (LineSettings{9600, 8, Parity::None, 1}));
    port.Configure(19200, line.slavePath(), 7);
    EXPECT_EQ(port.Settings(), kBoardLine);
}

TEST_F(OpenPort, BytesTravelBothWays) {
    const std::uint8_t out[] = {0x02, 0x0D, 0x0A, 0x11, 0x13, 0xFF};  // raw: nothing translated or swallowed
    port.Write(out, sizeof out);
    std::uint8_t seen[sizeof out] = {};
    std::size_t got = 0;
    while (got < sizeof out) {
        pollfd p{line.master(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 1000), 1);
        got += static_cast<std::size_t>(::read(line.master(), seen + got, sizeof out - got));
    }
    EXPECT_EQ(std::vector<std::uint8_t>(seen, seen + got), std::vector<std::uint8_t>(out, out + sizeof out));

    ASSERT_EQ(::write(line.master(), "\x06\r", 2), 2);
    for (int i = 0; i < 100 && port.BytesWaiting() < 2; ++i) ::usleep(1000);
    EXPECT_EQ(port.BytesWaiting(), 2u);
    EXPECT_EQ(port.ReadByte(), 0x06);
    EXPECT_EQ(port.ReadByte(), 0x0D);
    port.Purge();
}

TEST_F(OpenPort, ReadByteWithNothingToReadGivesUpWithCode10) {
    const auto start = std::chrono::steady_clock::now();
    try {
        port.ReadByte();
        FAIL() << "read a byte that was never sent";
    } catch (const ECommError& e) {
        EXPECT_EQ(e.ErrorCode, comm_error::kReadFailed);
        EXPECT_EQ(e.SystemError, static_cast<std::uint32_t>(ETIMEDOUT));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms) << "the byte is given its time to come";
}

// Each call on a line that has gone away fails with the code of its own step.
TEST(CommPort, AHungUpLineFailsEachCallWithItsOwnCode) {
    LinePair line;
    TCommPort port;
    port.Configure(19200, line.path, kFormat8N2);
    line.closeFar();
    const std::uint8_t byte = 0x0E;
    EXPECT_EQ(codeOf([&] { port.Purge(); }), comm_error::kPurgeFailed);
    EXPECT_EQ(codeOf([&] { port.Write(&byte, 1); }), comm_error::kWriteFailed);
    EXPECT_EQ(codeOf([&] { port.BytesWaiting(); }), comm_error::kQueueStatusFailed);
    EXPECT_EQ(codeOf([&] { port.ReadByte(); }), comm_error::kReadFailed);
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
        try {
            port.open(name);  // a FIFO opened for reading would wait here for a writer
            FAIL() << "opened";
        } catch (const SerialError& e) {
            EXPECT_EQ(e.step(), SerialStep::NotATerminal);
            EXPECT_EQ(std::string(e.what()), name + ": not a serial port");
            EXPECT_EQ(e.reason(), "not a serial port");
        }
        EXPECT_FALSE(port.isOpen());
        const TransferPortOpening opening = openTransferPort(port, name);
        EXPECT_FALSE(opening.opened);
        EXPECT_EQ(opening.reason, "cannot open the port: not a serial port");
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
