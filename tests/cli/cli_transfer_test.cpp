// qm730ctl send and read end to end over a pseudo-terminal against the
// simulated board, including the board's faults, a device that goes away
// and an operator who interrupts.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <iterator>
#include <filesystem>
#include <fstream>

#include "core/config/configfile.h"
#include "core/link/serial_port.h"
#include "background_ctl.h"
#include "images.h"
#include "run_ctl.h"
#include "scripted_line.h"
#include "simboard_thread.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;
using Board = SimBoardThread;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

void save(const fs::path& path, const ConfigImage& image) { ASSERT_TRUE(saveTableFile(path, image).ok()); }

ConfigImage load(const fs::path& path) {
    ConfigImage image;
    EXPECT_TRUE(loadTableFile(path, image).ok());
    return image;
}

class CliTransfer : public ::testing::Test {
protected:
    fs::path file(const char* name) const { return dir_.file(name); }
    CtlRun ctl(const std::vector<std::string>& args, int limitSeconds = 15) {
        std::string line;
        for (const std::string& arg : args) line += arg + " ";
        return runQm730ctl(dir_.path().string(), line, limitSeconds);
    }

    TempDir dir_;
};

bool sameCarriedByUpload(const ConfigImage& a, const ConfigImage& b) {
    auto same = [&](std::size_t offset, std::size_t length) {
        return std::memcmp(a.data() + offset, b.data() + offset, length) == 0;
    };
    bool ok = same(0, 96) && same(alarmRecordOffset(0), 448);
    for (std::size_t k = 0; k < 999; ++k) ok = ok && same(capcodeSlotOffset(k), 22);
    for (std::size_t m = 0; m < 100; ++m) ok = ok && same(messageSlotOffset(m), 60);
    return ok;
}

}  // namespace

TEST_F(CliTransfer, SendPutsTheFileIntoTheBoard) {
    Board board;
    const ConfigImage sent = seededImage(3);
    save(file("in.tbl"), sent);
    CtlRun r = ctl({"send", "--port", board.port(), file("in.tbl")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Transfer Success !\n");
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(board.sim().waitForUploads(1, 5s));
    EXPECT_EQ(board.sim().stats().uploadsApplied, 1) << board.log();
    EXPECT_EQ(board.sim().stats().malformedBlocks, 0) << board.log();
    EXPECT_TRUE(sameCarriedByUpload(board.sim().image(), sent));

    r = ctl({"send", "-q", "-p", board.port(), file("in.tbl")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "") << "quiet";
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(board.sim().waitForUploads(2, 5s));
}

TEST_F(CliTransfer, ReadTakesTheFrameAndTheRestFromTheBase) {
    const ConfigImage onBoard = seededImage(5);
    Board board({}, onBoard);
    const ConfigImage base = seededImage(90);
    save(file("base.tbl"), base);
    const CtlRun r = ctl({"read", "--port=" + board.port(), "--base", file("base.tbl"), file("out.tbl")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Read Success !\n");
    const ConfigImage got = load(file("out.tbl"));
    EXPECT_EQ(std::memcmp(got.data(), onBoard.data(), 96), 0);
    EXPECT_EQ(std::memcmp(got.capcodeSlot(799), onBoard.capcodeSlot(799), 22), 0);
    EXPECT_EQ(std::memcmp(got.capcodeSlot(800), base.capcodeSlot(800), 32), 0);
    EXPECT_EQ(std::memcmp(got.messageSlot(99), base.messageSlot(99), 64), 0);
    EXPECT_EQ(fs::file_size(file("out.tbl")), kImageSize);
}

TEST_F(CliTransfer, BoardFaultsFailAndLoseNothing) {
    struct Case { const char* name; sim::SimOptions options; const char* command; const char* reason; };
    sim::SimOptions silent, wrong, refuse, badSum, cut;
    silent.silent = true;
    wrong.wrongAnswer = true;
    refuse.refuse = true;
    badSum.badChecksum = true;
    cut.stopAfter = 5000;
    const std::vector<Case> cases = {
        {"silent send", silent, "send", "the board did not answer the logon within 2 seconds"},
        {"silent read", silent, "read", "the board did not answer the logon within 2 seconds"},
        {"wrong answer", wrong, "read", "the board answered \"IX=\" CR instead of \"ID=\""},
        {"refused upload", refuse, "send", "the board answered NAK CR instead of the go-ahead"},
        {"bad checksum", badSum, "read", "the configuration from the board has a wrong checksum"},
        {"frame cut short", cut, "read", "the board stopped sending after 5000 of 8846 bytes of the configuration"},
    };
    save(file("in.tbl"), seededImage(1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Board board(c.options);
        const std::string previous = "previous contents";
        std::ofstream(file("out.tbl"), std::ios::binary) << previous;
        const bool send = std::string(c.command) == "send";
        const CtlRun r = send ? ctl({"send", "--port", board.port(), file("in.tbl")})
                               : ctl({"read", "--port", board.port(), file("out.tbl")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        // One line: the message boxes of the windows are not echoed.
        EXPECT_EQ(r.err, "qm730ctl: " + std::string(c.command) + " on " + board.port() + ": " + c.reason + "\n");
        EXPECT_EQ(fileText(file("out.tbl")), previous);
        if (send) {
            EXPECT_EQ(board.sim().stats().uploadsApplied, 0);
        }
    }
}

TEST_F(CliTransfer, RefusesFilesThatAreNotOneImage) {
    std::ofstream(file("short.tbl"), std::ios::binary) << std::string(100, 'x');
    CtlRun r = ctl({"send", "--port", "/dev/null", file("short.tbl")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(file("short.tbl").string() + "' is 100 bytes"), std::string::npos) << r.err;
    r = ctl({"send", "--port", "/dev/null", file("missing.tbl")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("missing.tbl"), std::string::npos) << r.err;
    r = ctl({"read", "--port", "/dev/null", "--base", file("short.tbl"), file("out.tbl")});
    EXPECT_EQ(r.status, 2);
    r = ctl({"read", file("out.tbl")});
    EXPECT_EQ(r.status, 2) << "--port is required";
    EXPECT_FALSE(fs::exists(file("out.tbl")));
}

TEST_F(CliTransfer, PortInUseMissingOrNoSerialLineFailsWithStatus1AndOneLine) {
    Board board;
    SerialPort holder;
    holder.open(board.port());
    save(file("in.tbl"), defaultImage());
    CtlRun r = ctl({"send", "--port", board.port(), file("in.tbl")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "qm730ctl: send on " + board.port() + ": cannot open the port: in use by another program\n");
    const std::string missing = file("no-such-port").string();
    r = ctl({"read", "--port", missing, file("out.tbl")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qm730ctl: read on " + missing + ": cannot open the port: No such file or directory\n");
    // A file, a FIFO or /dev/null is no serial line and is left alone.
    std::ofstream(file("plain"), std::ios::binary) << "keep";
    ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
    for (const std::string& port : {file("plain").string(), file("fifo").string(), std::string("/dev/null")}) {
        r = ctl({"send", "-p", port, file("in.tbl")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "qm730ctl: send on " + port + ": cannot open the port: not a serial port\n");
    }
    EXPECT_EQ(fileText(file("plain")), "keep");
    EXPECT_FALSE(fs::exists(file("out.tbl")));
}

TEST_F(CliTransfer, ReadAtLineSpeedTakesTheWireTimeAndSucceeds) {
    sim::SimOptions paced;
    paced.pace = true;
    Board board(paced, seededImage(7));
    const CtlRun r = ctl({"read", "--port", board.port(), file("out.tbl")}, 20);
    EXPECT_EQ(r.status, 0) << r.err;
    // 8,846 bytes of 11 bits at 19200 baud (5,068 ms) after the 200 ms delay;
    // the 50 ms pause runs while the frame is already arriving.
    EXPECT_GT(r.took, 5200ms);
    EXPECT_EQ(std::memcmp(load(file("out.tbl")).data(), seededImage(7).data(), 96), 0);
}

TEST_F(CliTransfer, ADeviceThatGoesAwayIsALineFailureNamingIt) {
    using Line = ScriptedLine;
    struct Case { const char* name; Line::Point point; std::size_t bytes; const char* command; };
    const std::vector<Case> cases = {
        {"at the logon of a send", Line::Point::Logon, 0, "send"},
        {"at the logon of a read", Line::Point::Logon, 0, "read"},
        {"in the middle of the upload", Line::Point::Upload, 3000, "send"},
        {"in the middle of the frame", Line::Point::Frame, 3000, "read"},
    };
    save(file("in.tbl"), seededImage(2));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Line line(c.point, Line::Then::HangUp, c.bytes);
        const bool send = std::string(c.command) == "send";
        const CtlRun r = send ? ctl({"send", "--port", line.path(), file("in.tbl")})
                              : ctl({"read", "--port", line.path(), file("out.tbl")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string("qm730ctl: ") + c.command + " on " + line.path() +
                             ": the serial line failed: the line hung up (the device went away)\n");
        EXPECT_FALSE(fs::exists(file("out.tbl")));
    }
}


// Whatever signal ends a transfer (from the terminal, kill, a timer, a
// limit reached), the port is handed back as it was found.
TEST_F(CliTransfer, AnInterruptedTransferLeavesThePortUsable) {
    using Line = ScriptedLine;
    struct Case { int sig; Line::Point point; const char* command; };
    std::vector<Case> cases;
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
        cases.push_back(i % 2 ? Case{kEndingSignals[i], Line::Point::Upload, "send"}
                              : Case{kEndingSignals[i], Line::Point::Frame, "read"});
    // QUIT, XCPU and XFSZ would leave a core file.
    const rlimit noCore{0, 0};
    ASSERT_EQ(::setrlimit(RLIMIT_CORE, &noCore), 0);
    save(file("in.tbl"), seededImage(4));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " ended by " + strsignal(c.sig));
        Line line(c.point, Line::Then::GoOnSlowly, 2000);
        const termios before = operatorSettings(line.nearEnd());
        ASSERT_EQ(::tcsetattr(line.nearEnd(), TCSANOW, &before), 0);

        const bool send = std::string(c.command) == "send";
        Background run(send ? std::vector<std::string>{"send", "--port", line.path(), file("in.tbl")}
                            : std::vector<std::string>{"read", "--port", line.path(), file("out.tbl")},
                       dir_.path());
        ASSERT_TRUE(run.started());
        ASSERT_TRUE(line.waitUntilReached());
        const int status = run.interrupt(c.sig);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << "ends as the signal says: " << status;

        termios after{};
        ::tcgetattr(line.nearEnd(), &after);
        EXPECT_TRUE(sameSettings(after, before)) << "the line settings are back";
        EXPECT_EQ(exclusiveFlag(line.nearEnd()), 0) << "other users may open the device again";
        SerialPort next;
        EXPECT_NO_THROW(next.open(line.path())) << "the lock is released";
        EXPECT_FALSE(fs::exists(file("out.tbl")));
    }
}

// A device that another program made exclusive stays so after a transfer
// that root ran on it was interrupted.
TEST_F(CliTransfer, AnotherProgramsExclusiveFlagIsLeftAlone) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root opens a device another program made exclusive";
    ScriptedLine line(ScriptedLine::Point::Frame, ScriptedLine::Then::GoOnSlowly, 2000);
    ASSERT_EQ(::ioctl(line.nearEnd(), TIOCEXCL), 0);
    Background run({"read", "--port", line.path(), file("out.tbl")}, dir_.path());
    ASSERT_TRUE(line.waitUntilReached());
    EXPECT_TRUE(WIFSIGNALED(run.interrupt(SIGTERM)));
    EXPECT_EQ(exclusiveFlag(line.nearEnd()), 1);
}

// A broken pipe from the program's own output is an output error: the read
// is done and kept, and the program says it could not write its line.
TEST_F(CliTransfer, AClosedStandardOutputIsAnOutputErrorNotDeath) {
    Board board;
    const int status = runWithClosedStdout({"read", "--port", board.port(), file("out.tbl")}, dir_.path());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    const std::string said = fileText(file("ctl.err"));
    EXPECT_EQ(said.rfind("qm730ctl: cannot write to standard output", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(fs::file_size(file("out.tbl")), kImageSize);
}
