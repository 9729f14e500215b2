// qm730ctl flash and probe against a board's flash loader on a real
// pseudo-terminal: the frames and pauses it sees, the one line of each way a
// write fails, a refused file, the dry run, an interrupted write, and once
// against the simulated board.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cstdio>
#include <fstream>
#include <numeric>

#include "background_ctl.h"
#include "core/link/serial_port.h"
#include "flash_board.h"
#include "run_ctl.h"
#include "scripted_line.h"
#include "sim_process.h"
#include "srecords.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;
using namespace std::chrono_literals;

namespace {

const Bytes kLow = {0x10, 0x03, 0x1B, 0x20, 0x30, 0x40, 0x50, 0x60};  // stuffed on the wire
const Bytes kHigh = {0xC0, 0xFF, 0xEE};

// Data in blocks 0 (D0000) and 32 (E0000); block 63 holds the checksum.
std::string firmwareText() {
    return "S00F000068656C6C6F202020202000003C\n" + s2Record(0xD0000, kLow) + "\n" + s2Record(0xE0000, kHigh) +
           "\nS804000000FB\n";
}

// The flash a good write leaves: erased, the data, the sum of the rest
// low byte first in the last two bytes.
Bytes expectedFlash() {
    Bytes flash(0x20000, 0xFF);
    std::copy(kLow.begin(), kLow.end(), flash.begin());
    std::copy(kHigh.begin(), kHigh.end(), flash.begin() + 0x10000);
    const unsigned sum = std::accumulate(flash.begin(), flash.end() - 2, 0u);
    flash[0x1FFFE] = static_cast<std::uint8_t>(sum);
    flash[0x1FFFF] = static_cast<std::uint8_t>(sum >> 8);
    return flash;
}

class CliFlash : public ::testing::Test {
protected:
    CliFlash() { std::ofstream(firmware_) << firmwareText(); }
    CtlRun ctl(const std::string& arguments, int limitSeconds = 30) {
        return runQm730ctl(dir_.path().string(), arguments, limitSeconds);
    }

    TempDir dir_;
    const std::string firmware_ = dir_.file("fw.s19");
};

}  // namespace

TEST_F(CliFlash, WritesEveryBlockWithDataAndReadsItBack) {
    FlashBoard board{BoardScript{}};
    const CtlRun r = ctl("flash -v --port " + board.port() + " " + firmware_);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Transmit Success!\n");

    const std::vector<ReceivedFrame> frames = board.frames();
    struct Expected { std::uint8_t command; std::uint32_t address; };
    const std::vector<Expected> expected = {{0x18, 0},       {0x10, 0xD0000}, {0x10, 0xE0000}, {0x11, 0xD0000},
                                            {0x11, 0xE0000}, {0x11, 0xEF800}, {0x12, 0xD0000}, {0x12, 0xE0000},
                                            {0x12, 0xEF800}};
    ASSERT_EQ(frames.size(), expected.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(frames[i].sound);
        EXPECT_EQ(frames[i].command, expected[i].command);
        EXPECT_EQ(frames[i].address, expected[i].address);
        EXPECT_EQ(frames[i].htag, 0x81 + i);
    }
    // The board is given a second after each erase.
    EXPECT_GE(frames[2].at - frames[1].answeredAt, 1000ms);
    EXPECT_GE(frames[3].at - frames[2].answeredAt, 1000ms);
    EXPECT_EQ(board.flash(), expectedFlash());

    // -v tells each step in words, not in the windows' status texts.
    for (const char* step : {"port open at 19200 baud, 8 data bits, no parity, 2 stop bits\n",
                             "board check accepted\n", "erase of E0000 accepted; the board is given 1000 ms\n",
                             "block 32 (E0000) written, 2 of 3\n", "block 63 (EF800) read back the same, 3 of 3\n"})
        EXPECT_NE(r.err.find(step), std::string::npos) << step << r.err;
    EXPECT_EQ(r.err.find("......"), std::string::npos) << r.err;
}

TEST_F(CliFlash, EachFailureEndsWithStatus1AndOneLine) {
    struct Case { const char* name; BoardScript script; const char* reason; };
    const auto script = [](auto change) {
        BoardScript s;
        change(s);
        return s;
    };
    const std::vector<Case> cases = {
        {"board not found", script([](BoardScript& s) { s.silent = true; }),
         "the target board is not found: no answer to the board check"},
        {"check refused", script([](BoardScript& s) { s.refuseCheck = true; }),
         "the target board is not found: it refused the board check"},
        {"erase refused", script([](BoardScript& s) { s.refuseErase = 0xE0000; }),
         "the board refused the erase of E0000"},
        // Frames 81 to 86 are the check, the erases and the writes; 88 reads block 32.
        {"read-back differs", script([](BoardScript& s) { s.corruptReadBlock = 32; }),
         "block 32 (E0000) read back differs from the image (Htag = 136)"},
        {"device gone", script([](BoardScript& s) { s.hangUpOnFirstWrite = true; }),
         "the serial line failed during the write of block 0 (D0000): the line hung up (the device went away)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlashBoard board(c.script);
        const CtlRun r = ctl("flash --port " + board.port() + " " + firmware_);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "qm730ctl: flash on " + board.port() + ": " + c.reason + "\n");
    }
    const CtlRun r = ctl("flash -p " + dir_.file("ttyUSB7") + " " + firmware_);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "qm730ctl: flash on " + dir_.file("ttyUSB7") + ": cannot open the port: No such file or directory\n");
}

TEST_F(CliFlash, ARefusedFileNamesItsLineAndNothingIsSent) {
    std::string text = firmwareText();
    const std::size_t endOfLine2 = text.find('\n', text.find('\n') + 1);
    text[endOfLine2 - 1] = text[endOfLine2 - 1] == '0' ? '1' : '0';  // the record's checksum
    std::ofstream(firmware_) << text;
    FlashBoard board{BoardScript{}};
    CtlRun r = ctl("flash --port " + board.port() + " " + firmware_);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "qm730ctl: cannot load '" + firmware_ + "': line 2: the record's checksum does not match\n");
    EXPECT_TRUE(board.frames().empty());
    EXPECT_EQ(board.probes(), 0);

    r = ctl("flash --dry-run " + dir_.file("missing.s19"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "qm730ctl: cannot load '" + dir_.file("missing.s19") +
                         "': cannot open the file: No such file or directory\n");
}

TEST_F(CliFlash, DryRunTellsWhatAWriteWouldSendWithoutAPort) {
    const std::string text = "S00F000068656C6C6F202020202000003C\n" + s2Record(0xD0000, Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9,
                                                                                         10, 11, 12, 13, 14, 15}) +
                             "\n" + s2Record(0xEFFFC, {0xAA, 0xBB, 0xCC, 0xDD}) + "\n";
    std::ofstream(firmware_) << text;
    CtlRun r = ctl("flash --dry-run " + firmware_);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // 131,052 erased bytes, 0..15 and AA BB add up to EDF1 (modulo 65536).
    EXPECT_EQ(r.out, "firmware: " + firmware_ +
                         "\n"
                         "bytes loaded: 20\n"
                         "image checksum: EDF1 (stored low byte first at EFFFE/EFFFF)\n"
                         "the file put CC DD at EFFFE/EFFFF; the image checksum F1 ED replaces them\n"
                         "blocks to write: 2 of 64\n"
                         "block 0 at D0000\n"
                         "block 63 at EF800\n");

    r = ctl("flash --dry-run -q " + firmware_);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    r = ctl("flash " + firmware_);
    EXPECT_EQ(r.status, 2) << "a write needs a port";
}

TEST_F(CliFlash, AnInterruptedWriteLeavesThePortUsable) {
    // The board takes the check, then leaves the erase unanswered.
    BoardScript script;
    script.silentAfterCheck = true;
    FlashBoard board(script);
    const int watch = ::open(board.port().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(watch, 0);
    const termios before = operatorSettings(watch);
    ASSERT_EQ(::tcsetattr(watch, TCSANOW, &before), 0);

    Background run({"flash", "--port", board.port(), firmware_}, dir_.path());
    ASSERT_TRUE(run.started());
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (board.frames().size() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(board.frames().size(), 2u) << "the erase is on its way";
    const int status = run.interrupt(SIGINT);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;

    termios after{};
    ::tcgetattr(watch, &after);
    EXPECT_TRUE(sameSettings(after, before)) << "the line settings are back";
    EXPECT_EQ(exclusiveFlag(watch), 0);
    ::close(watch);
    SerialPort next;
    EXPECT_NO_THROW(next.open(board.port())) << "the lock is released";
}

TEST_F(CliFlash, ProbeRepeatsUntilTheBoardAnswersOrTimeRunsOut) {
    BoardScript late;
    late.probesUnanswered = 2;
    FlashBoard answering(late);
    CtlRun r = ctl("probe -v -p " + answering.port());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Connection Success !\n");
    EXPECT_EQ(r.err,
              "port open at 19200 baud, 8 data bits, no parity, 2 stop bits\n"
              "probe 1: 0E sent, no answer within 1010 ms\n"
              "probe 2: 0E sent, no answer within 1010 ms\n"
              "probe 3: 0E sent, answered 06\n");
    EXPECT_EQ(answering.probes(), 3);

    FlashBoard quiet{BoardScript{}};
    r = ctl("probe -q --port " + quiet.port());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    BoardScript never;
    never.probesUnanswered = 1000;
    FlashBoard silent(never);
    r = ctl("probe --timeout 2 --port " + silent.port());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_GE(r.took, 2s);
    const std::string probes = std::to_string(silent.probes());
    EXPECT_EQ(r.err, "qm730ctl: probe on " + silent.port() + ": no answer from the board's flash loader (" + probes +
                         (probes == "1" ? " probe)\n" : " probes)\n"));
}

// The whole way once, against the simulated board in its own process: the
// probe finds its flash loader, and the write leaves the flash as the file
// says.
TEST_F(CliFlash, ProbesAndWritesTheSimulatedBoard) {
    const std::string saved = dir_.file("flash.bin");
    SimProcess sim({"--flash-save", saved}, dir_.file("sim.err"));
    const std::string port = sim.firstLine(10s);
    ASSERT_FALSE(port.empty()) << fileText(dir_.file("sim.err"));

    CtlRun r = ctl("probe --port " + port);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Connection Success !\n");
    r = ctl("flash --port " + port + " " + firmware_);
    EXPECT_EQ(r.status, 0) << r.err << fileText(dir_.file("sim.err"));
    EXPECT_EQ(r.out, "Transmit Success!\n");
    EXPECT_EQ(r.err, "");

    sim.stop();
    const std::string flash = fileText(saved);
    const Bytes expected = expectedFlash();
    EXPECT_TRUE(flash == std::string(expected.begin(), expected.end())) << flash.size() << " bytes";
}
