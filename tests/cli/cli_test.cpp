#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "run_ctl.h"
#include "tempdir.h"

using namespace qm730::test;

namespace fs = std::filesystem;

namespace {

CtlRun qm730ctl(const TempDir& dir, const std::string& arguments) { return runQm730ctl(dir.path().string(), arguments); }

// Runs a shell line of the caller's own redirections; returns the exit status.
int shell(const std::string& line) {
    const int raw = std::system(line.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

bool hasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

}  // namespace

TEST(CliNew, WritesTheDefaultTableFileReplacingALongerOne) {
    TempDir dir;
    const std::string file = dir.file("fresh.tbl");
    CtlRun run = qm730ctl(dir, "new " + file);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(fs::file_size(file), 40959u);

    fs::resize_file(file, 50000);
    run = qm730ctl(dir, "new " + file);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(fs::file_size(file), 40959u);
}

TEST(CliNew, UnwritablePlaceNamesTheFileAndTheReason) {
    TempDir dir;
    const CtlRun run = qm730ctl(dir, "new /dev/null/x.tbl");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "qm730ctl: cannot write '/dev/null/x.tbl': Not a directory\n");
    EXPECT_EQ(qm730ctl(dir, "new").status, 2);
    EXPECT_EQ(qm730ctl(dir, "new --bogus x.tbl").status, 2);
}

TEST(CliDump, PrintsSettingsAndEveryRecord) {
    TempDir dir;
    const std::string file = dir.file("d.tbl");
    ASSERT_EQ(qm730ctl(dir, "new " + file).status, 0);
    const CtlRun run = qm730ctl(dir, "dump " + file);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* line : {"UART_baud: 9600 bps", "Protocol_select: Programming", "Delay_byte_4: 20",
                             "LCD_back_light_on: on", "Frequency: 454500000 Hz", "PLL_N: 023810",
                             "pager   1  1234560  Alpha      1200 bps   0  0       -      -",
                             "pager 899  0000899  Alpha      1200 bps   0  0       -      -",
                             "message   1  No.1 ppg message", "message 100  \\x04",
                             "alarm   7  107       Contact 7"})
        EXPECT_TRUE(hasLine(run.out, line)) << line;
}

TEST(CliDump, OddBytesShowAsNoneAndMismatchedWordsAreFlagged) {
    TempDir dir;
    const std::string file = dir.file("odd.tbl");
    ASSERT_EQ(qm730ctl(dir, "new " + file).status, 0);
    {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(0x27).put(7);                   // UART baud beyond the list
        f.seekp(0x0C).put(0x30);                // 10k spacing, R and N still for 12.5k
        f.seekp(0x60 + 7).put(0);               // pager 1 type: nothing
        f.seekp(0x60 + 10).put(2);              // pager 1 name "A\n"
        f.seekp(0x60 + 11).write("A\n", 2);
        f.seekp(0x60 + 21).put(5);              // pager 1 in group 5
    }
    const CtlRun run = qm730ctl(dir, "dump " + file);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(hasLine(run.out, "UART_baud: (none: 7)"));
    EXPECT_TRUE(hasLine(run.out, "PLL_R: 050801 (spacing gives 050A01)"));
    EXPECT_TRUE(hasLine(run.out, "PLL_N: 023810 (frequency gives 02C614)"));
    EXPECT_TRUE(hasLine(run.out, "pager   1  1234560  (none: 0)  1200 bps   0  0       5      A\\x0A"));
}

TEST(CliDump, RefusesFilesOfAnotherSizeAndMissingFiles) {
    TempDir dir;
    const std::string file = dir.file("short.tbl");
    std::ofstream(file) << "too short";
    CtlRun run = qm730ctl(dir, "dump " + file);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "qm730ctl: '" + file + "' is 9 bytes, not a table file of 40959 bytes\n");
    EXPECT_TRUE(run.out.empty());

    run = qm730ctl(dir, "dump " + dir.file("missing.tbl"));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "qm730ctl: cannot read '" + dir.file("missing.tbl") + "': No such file or directory\n");
}

TEST(CliFiles, NamesThatAreNoRegularFilesAreRefusedAtOnceAndLeftAlone) {
    TempDir dir;
    const std::string fifo = dir.file("fifo.tbl");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // A FIFO waits for a writer for ever; the limit turns such a hang into a failure.
    for (const std::string& command : {"dump " + fifo, "send --port /dev/null " + fifo,
                                       "read --port /dev/null --base " + fifo + " " + dir.file("out.tbl")}) {
        SCOPED_TRACE(command);
        const CtlRun run = runQm730ctl(dir.path().string(), command, 5);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "qm730ctl: cannot read '" + fifo + "': not a regular file\n");
    }
    CtlRun run = qm730ctl(dir, "dump /dev/zero");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "qm730ctl: cannot read '/dev/zero': not a regular file\n");

    for (const std::string& command : {"new " + fifo, "read --port /dev/null " + fifo}) {
        SCOPED_TRACE(command);
        run = qm730ctl(dir, command);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "qm730ctl: cannot write '" + fifo + "': not a regular file\n");
    }
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the FIFO was replaced";
    EXPECT_FALSE(fs::exists(dir.file("out.tbl")));
}

TEST(CliOutput, ClosedStandardOutputIsNotThePortAndFailedOutputIsAnError) {
    TempDir dir;
    const std::string file = dir.file("in.tbl");
    ASSERT_EQ(qm730ctl(dir, "new " + file).status, 0);

    // A line with nobody on it: the send fails at the logon, and "Transfer
    // Error !" must not travel down the line when standard output is closed.
    int master = -1, slave = -1;
    char slavePath[256];
    ASSERT_EQ(::openpty(&master, &slave, slavePath, nullptr, nullptr), 0);
    const std::string err = dir.file("err");
    EXPECT_EQ(shell(QM730CTL_PATH " send --port " + std::string(slavePath) + " " + file + " >&- 2>" + err), 1);
    std::string line;
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    char chunk[256];
    for (ssize_t n; (n = ::read(master, chunk, sizeof chunk)) > 0;) line.append(chunk, static_cast<std::size_t>(n));
    ::close(slave);
    ::close(master);
    EXPECT_EQ(line.find("Transfer"), std::string::npos) << line;
    EXPECT_NE(fileText(err).find("did not answer the logon"), std::string::npos) << fileText(err);

    EXPECT_EQ(shell(QM730CTL_PATH " help new >/dev/full 2>" + err), 1);
    EXPECT_EQ(fileText(err), "qm730ctl: cannot write to standard output: No space left on device\n");
    EXPECT_EQ(shell(QM730CTL_PATH " help new >&- 2>" + err), 0) << fileText(err);
}

// A command line that cannot be right is refused before any port or file is
// touched: CLI11's complaint, then where the help is, and status 2.
TEST(CliOptions, UsageErrorsNameTheProblemAndTouchNothing) {
    TempDir dir;
    const std::string table = dir.file("in.tbl");
    ASSERT_EQ(qm730ctl(dir, "new " + table).status, 0);
    struct Case { std::string arguments; std::string complaint; };
    const std::string portNames = "is not a port: use COM1 to COM5 or a device path such as /dev/ttyUSB0";
    const std::vector<Case> cases = {
        {"send --portX /dev/ttyS0 " + table, "send: unknown option '--portX'"},
        {"send --po /dev/ttyS0 " + table, "send: unknown option '--po'"},
        {"send " + table, "send: --port is required"},
        {"send " + table + " --port", "send: --port: 1 required PORT missing"},
        {"send --port --verbose " + table, "send: --port: a value is missing: '--verbose' is an option"},
        {"send -p /dev/ttyS0 -p /dev/ttyS1 " + table, "send: --port: At Most 1 required but received 2"},
        {"send -v -q -p /dev/ttyS0 " + table, "send: --verbose excludes --quiet"},
        {"read -p /dev/ttyS0 --base --quiet " + table, "read: --base: a value is missing: '--quiet' is an option"},
        {"send -p COM9 " + table, "send: --port: 'COM9' " + portNames},
        {"send -p COM0 " + table, "send: --port: 'COM0' " + portNames},
        {"send -p 'COM 1' " + table, "send: --port: 'COM 1' " + portNames},
        {"send -p COM1x " + table, "send: --port: 'COM1x' " + portNames},
        {"probe -p ttyUSB0", "probe: --port: 'ttyUSB0' " + portNames},
        {"probe -p /dev/ttyS0 --timeout soon", "probe: --timeout: 'soon' is not a number of seconds from 0 to 86400"},
        {"flash " + table, "flash: --port is required"},
        {"dump", "dump: FILE.tbl is required"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CtlRun run = qm730ctl(dir, c.arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        const std::string command = c.complaint.substr(0, c.complaint.find(':'));
        EXPECT_EQ(run.err,
                  "qm730ctl: " + c.complaint + "\nTry 'qm730ctl help " + command + "' for more information.\n");
    }
    EXPECT_EQ(qm730ctl(dir, "transmit " + table).err,
              "qm730ctl: unknown command 'transmit'\nTry 'qm730ctl help' for the commands.\n");
    EXPECT_EQ(qm730ctl(dir, "").status, 2);

    // COM9 is no port, even where a file of that name lies in the folder.
    std::ofstream(dir.file("COM9")) << "keep";
    EXPECT_EQ(shell("cd " + dir.path().string() + " && " QM730CTL_PATH " send -p COM9 in.tbl 2>/dev/null"), 2);
    EXPECT_EQ(fileText(dir.file("COM9")), "keep");
}

TEST(CliOptions, VersionHelpAndArgumentsAfterTheEndOfOptions) {
    TempDir dir;
    CtlRun run = qm730ctl(dir, "--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "qm730ctl 1.0\n");

    run = qm730ctl(dir, "help");
    EXPECT_EQ(run.status, 0);
    for (const char* command : {"new", "dump", "send", "read", "flash", "probe", "help"})
        EXPECT_TRUE(run.out.find(std::string("\n  ") + command + " ") != std::string::npos) << command;
    EXPECT_EQ(qm730ctl(dir, "--help").out, run.out);

    for (const char* command : {"new", "dump", "send", "read", "flash", "probe"}) {
        SCOPED_TRACE(command);
        run = qm730ctl(dir, std::string("help ") + command);
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find(std::string("Usage: qm730ctl ") + command), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("Exit status:"), std::string::npos);
        EXPECT_EQ(qm730ctl(dir, std::string(command) + " --help").out, run.out);
    }
    EXPECT_NE(qm730ctl(dir, "help send").out.find("-v,--verbose"), std::string::npos);
    EXPECT_NE(qm730ctl(dir, "help send").out.find("-q,--quiet"), std::string::npos);

    // "--" ends the options: a name that begins with '-' is a name.
    EXPECT_EQ(shell("cd " + dir.path().string() + " && " QM730CTL_PATH " new -- -x.tbl"), 0);
    EXPECT_EQ(fs::file_size(dir.file("-x.tbl")), 40959u);
}

// read finds out that its result cannot be kept before it touches the line.
TEST(CliOptions, ReadChecksItsOutputBeforeTheLine) {
    TempDir dir;
    int master = -1, slave = -1;
    char line[256];
    ASSERT_EQ(::openpty(&master, &slave, line, nullptr, nullptr), 0);
    const std::string folder = dir.path().string();
    struct Case { std::string out; std::string reason; };
    const std::vector<Case> cases = {
        {folder, "Is a directory"},
        {folder + "/", "Is a directory"},
        {dir.file("none/out.tbl"), "No such file or directory"},
        {dir.file(std::string(300, 'x') + ".tbl"), "File name too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        const CtlRun run = qm730ctl(dir, "read -p " + std::string(line) + " '" + c.out + "'");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "qm730ctl: cannot write '" + c.out + "': " + c.reason + "\n");
    }
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    char byte;
    EXPECT_EQ(::read(master, &byte, 1), -1) << "nothing was sent to the board";
    ::close(slave);
    ::close(master);
}
