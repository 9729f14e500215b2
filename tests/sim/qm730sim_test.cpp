// qm730sim as an operator runs it: its command line and start-up checks, and
// a send followed at once by a read against the paced board.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/config/configfile.h"
#include "images.h"
#include "run_ctl.h"
#include "sim_process.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

void copy(const ConfigImage& from, ConfigImage& to, std::size_t offset, std::size_t length) {
    std::memcpy(to.data() + offset, from.data() + offset, length);
}

// `base` with what an upload of `sent` carries.
ConfigImage afterUpload(ConfigImage base, const ConfigImage& sent) {
    copy(sent, base, 0, 96);
    for (std::size_t k = 0; k < 999; ++k) copy(sent, base, capcodeSlotOffset(k), 22);
    copy(sent, base, alarmRecordOffset(0), 7 * 64);
    for (std::size_t m = 0; m < 100; ++m) copy(sent, base, messageSlotOffset(m), 60);
    return base;
}

// `base` with what a download of `onBoard` carries.
ConfigImage afterDownload(ConfigImage base, const ConfigImage& onBoard) {
    copy(onBoard, base, 0, 96);
    for (std::size_t k = 0; k < 99; ++k) copy(onBoard, base, capcodeSlotOffset(k), 22);
    for (std::size_t k = 99; k < 800; k += 100) copy(onBoard, base, capcodeSlotOffset(k), 22);
    copy(onBoard, base, alarmRecordOffset(0), 7 * 64);
    for (std::size_t m = 0; m < 99; ++m) copy(onBoard, base, messageSlotOffset(m), 60);
    return base;
}

std::string imageBytes(const ConfigImage& image) { return std::string(image.data(), image.data() + kImageSize); }

class Qm730sim : public ::testing::Test {
protected:
    std::string file(const char* name) const { return dir_.file(name); }
    TempDir dir_;
};

}  // namespace

TEST_F(Qm730sim, RefusesBadFilesAndCountsAtStartWithStatus2) {
    ASSERT_TRUE(saveTableFile(file("good.tbl"), defaultImage()).ok());
    std::ofstream(file("short.tbl"), std::ios::binary) << std::string(100, 'x');
    std::ofstream(file("long.tbl"), std::ios::binary) << std::string(kImageSize + 1, 'x');
    fs::create_directory(file("folder"));
    ASSERT_EQ(::mkfifo(file("pipe.tbl").c_str(), 0644), 0);
    // What the board's save would refuse, it refuses at the start.
    std::ofstream(file("read-only.tbl")) << "x";
    fs::permissions(file("read-only.tbl"), fs::perms::owner_read);
    fs::create_symlink(file("nowhere.tbl"), file("dangling.tbl"));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--load", file("short.tbl")}, "is 100 bytes; a table file is exactly 40959 bytes"},
        {{"--load", file("long.tbl")}, "is 40960 bytes; a table file is exactly 40959 bytes"},
        {{"--load", file("missing.tbl")}, "cannot load '" + file("missing.tbl") + "': No such file or directory"},
        {{"--load", file("folder")}, "it is a folder"},
        {{"--load", file("pipe.tbl")}, "it is a pipe, not a file"},
        {{"--stop-after", "-1"}, "--stop-after: expects a byte count from 0 to 8846, not '-1'"},
        {{"--stop-after", "18446744073709551617"}, "not '18446744073709551617'"},
        {{"--stop-after", "8847"}, "not '8847'"},
        {{"--stop-after", "12k"}, "not '12k'"},
        {{"--stop-after", ""}, "not ''"},
        {{"--stop-after"}, "--stop-after: 1 required N missing"},
        {{"--save", file("folder")}, "cannot save to '" + file("folder") + "': it is a folder"},
        {{"--save", file("no-folder/board.tbl")}, "folder '" + file("no-folder") + "': No such file or directory"},
        {{"--save", ""}, "--save: needs a file name"},
        {{"--load", file("good.tbl"), "--save", "/dev/null"}, "it is a device, not a file"},
        {{"--save", file("read-only.tbl")}, "cannot save to '" + file("read-only.tbl") + "': Permission denied"},
        {{"--flash-save", file("dangling.tbl")}, "cannot save to '" + file("dangling.tbl") + "': dangling symbolic link"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + (c.args.size() > 1 ? c.args.back() : ""));
        SimProcess sim(c.args, file("sim.err"));
        EXPECT_EQ(sim.firstLine(5s), "") << "it started";
        EXPECT_EQ(sim.exitStatus(5s), 2);
        EXPECT_NE(fileText(file("sim.err")).find(c.message), std::string::npos) << fileText(file("sim.err"));
    }
}

TEST_F(Qm730sim, CommandLineRefusesWhatItDoesNotKnowWithStatus2) {
    ASSERT_TRUE(saveTableFile(file("good.tbl"), defaultImage()).ok());
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--pac"}, "The following argument was not expected: --pac"},  // no abbreviations
        {{"--flash"}, "The following argument was not expected: --flash"},
        {{"board.tbl"}, "The following argument was not expected: board.tbl"},
        {{"--load", file("good.tbl"), "--load", file("good.tbl")}, "--load: At Most 1 required but received 2"},
        {{"--refuse-flash", "verify"}, "--refuse-flash: verify not in {check,erase,write,read,probe}"},
        {{"--refuse-flash", "erase,verify"}, "--refuse-flash: verify not in {check,erase,write,read,probe}"},
        {{"--corrupt-readback", "64"},
         "--corrupt-readback: expects BLOCK or BLOCK:BYTE with BLOCK from 0 to 63 and BYTE first, last or 0 to 2047, "
         "not '64'"},
        {{"--corrupt-readback", "1:2048"}, "not '1:2048'"},
        {{"--corrupt-readback", "1:middle"}, "not '1:middle'"},
        {{"--flip-bit", "64"}, "--flip-bit: expects a block number from 0 to 63, not '64'"},
        {{"--other-block", "-1"}, "--other-block: expects a block number from 0 to 63, not '-1'"},
        {{"--crawl", "0"}, "--crawl: expects milliseconds from 1 to 60000, not '0'"},
        {{"--stop-after-frames", "1000001"},
         "--stop-after-frames: expects a number of frames from 0 to 1000000, not '1000001'"},
        {{"--erase-delay", "60001"}, "--erase-delay: expects milliseconds from 0 to 60000, not '60001'"},
        {{"--erase-delay", "0x10"}, "not '0x10'"},
        {{"--erase-delay", "+5"}, "not '+5'"},
        {{"--ignore-probes", " 1"}, "not ' 1'"},
        {{"--ignore-probes", "1000001"}, "--ignore-probes: expects a number of probes from 0 to 1000000"},
        {{"--noise-before-reply", "4097"}, "--noise-before-reply: expects a byte count from 0 to 4096, not '4097'"},
        {{"--cut-reply", "4128"}, "--cut-reply: expects a byte count from 0 to 4127, not '4128'"},
        {{"--cut-reply"}, "--cut-reply: 1 required N missing"},
        {{"--flash-save", ""}, "--flash-save: needs a file name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + (c.args.size() > 1 ? c.args.back() : ""));
        SimProcess sim(c.args, file("sim.err"));
        EXPECT_EQ(sim.firstLine(5s), "") << "it started";
        EXPECT_EQ(sim.exitStatus(5s), 2);
        const std::string err = fileText(file("sim.err"));
        EXPECT_EQ(err.rfind("qm730sim: ", 0), 0u) << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_NE(err.find("Run qm730sim --help for the options."), std::string::npos) << err;
    }
}

TEST_F(Qm730sim, VersionAndHelpGoToStandardOutputWithStatus0) {
    {
        SimProcess sim({"--version"}, file("sim.err"));
        EXPECT_EQ(sim.allOutput(5s), "qm730sim 1.0\n");
        EXPECT_EQ(sim.exitStatus(5s), 0);
    }
    SimProcess sim({"--help"}, file("sim.err"));
    const std::string help = sim.allOutput(5s);
    EXPECT_EQ(sim.exitStatus(5s), 0);
    for (const char* option : {"--help", "--version", "--load FILE", "--save FILE", "--wrong-answer", "--refuse ",
                               "--bad-checksum", "--stop-after N", "--flash-load FILE", "--flash-save FILE",
                               "--refuse-flash CMD", "--corrupt-readback BLOCK[:BYTE]", "--stop-after-frames N",
                               "--erase-delay MS", "--ignore-probes N", "--noise-before-reply N", "--cut-reply N",
                               "--flip-bit BLOCK", "--wrong-sum BLOCK", "--other-block BLOCK", "--damage-once",
                               "--crawl MS", "--pace", "--silent"})
        EXPECT_NE(help.find(option), std::string::npos) << option << " is not in\n" << help;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
}

TEST_F(Qm730sim, RefusesFlashFilesItCannotUseAtStartWithStatus2) {
    std::ofstream(file("short.bin"), std::ios::binary) << std::string(100, '\0');
    std::ofstream(file("long.bin"), std::ios::binary) << std::string(0x20001, '\0');
    std::ofstream(file("sum.s19")) << "S0030000FC\nS2080D000001020304DD\nS804000000FB\n";
    std::ofstream(file("outside.s19")) << "S0030000FC\nS2080C000001020304E1\n";
    std::ofstream(file("past.s19")) << "S2080EFFFE01020304E2\n";
    std::ofstream(file("s1.s19")) << "S107000001020304EE\n";
    std::ofstream(file("garbled.s19")) << "S2080D00000102030XDC\n";
    fs::create_directory(file("folder"));
    ASSERT_EQ(::mkfifo(file("pipe.s19").c_str(), 0644), 0);
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--flash-load", file("short.bin")},
         "cannot load flash '" + file("short.bin") +
             "': it is 100 bytes and not S-record text; a raw flash file is exactly 131072 bytes"},
        {{"--flash-load", file("long.bin")}, "it is 131073 bytes and not S-record text"},
        {{"--flash-load", file("sum.s19")}, "line 2: the record's checksum does not match"},
        {{"--flash-load", file("outside.s19")}, "line 2: data at C0000 to C0003 lie outside the flash (D0000 to EFFFF)"},
        {{"--flash-load", file("past.s19")}, "line 1: data at EFFFE to F0001 lie outside the flash (D0000 to EFFFF)"},
        {{"--flash-load", file("s1.s19")}, "line 1: data at 0 to 3 lie outside the flash (D0000 to EFFFF)"},
        {{"--flash-load", file("garbled.s19")}, "line 1: a character that is not a hexadecimal digit"},
        {{"--flash-load", file("missing.bin")}, "cannot load flash '" + file("missing.bin") + "': No such file or directory"},
        {{"--flash-load", file("folder")}, "it is a folder"},
        {{"--flash-load", file("pipe.s19")}, "it is a pipe, not a file"},
        {{"--flash-save", file("folder")}, "cannot save to '" + file("folder") + "': it is a folder"},
        {{"--flash-save", file("no-folder/flash.bin")}, "folder '" + file("no-folder") + "': No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        SimProcess sim(c.args, file("sim.err"));
        EXPECT_EQ(sim.firstLine(5s), "") << "it started";
        EXPECT_EQ(sim.exitStatus(5s), 2);
        EXPECT_NE(fileText(file("sim.err")).find(c.message), std::string::npos) << fileText(file("sim.err"));
    }
}

TEST_F(Qm730sim, StartsWithAWholeFileAndCountsAtTheLimits) {
    ASSERT_TRUE(saveTableFile(file("good.tbl"), defaultImage()).ok());
    for (const char* count : {"0", "8846"}) {
        SimProcess sim({"--load", file("good.tbl"), "--save", file("new.tbl"), "--stop-after", count}, file("sim.err"));
        EXPECT_EQ(sim.firstLine(10s).rfind("/dev/", 0), 0u) << fileText(file("sim.err"));
    }
    for (const bool upper : {false, true}) {
        SimProcess sim({"--corrupt-readback", upper ? "63:2047" : "0", "--stop-after-frames", upper ? "1000000" : "0",
                        "--erase-delay", upper ? "60000" : "0", "--ignore-probes", upper ? "1000000" : "0",
                        "--noise-before-reply", upper ? "4096" : "0", "--cut-reply", upper ? "4127" : "0",
                        "--refuse-flash", "check,erase", "--refuse-flash", "write", "--refuse-flash", "read"},
                       file("sim.err"));
        EXPECT_EQ(sim.firstLine(10s).rfind("/dev/", 0), 0u) << fileText(file("sim.err"));
    }
}

// A pseudo-terminal reports a program's output as sent at once, so
// qm730ctl send ends long before the paced board has the upload, and the
// read that follows discards its output buffer as it starts.
TEST_F(Qm730sim, SendThenReadAtOnceGivesBackWhatWasSent) {
    const ConfigImage base = seededImage(11), sent = seededImage(57);
    ASSERT_TRUE(saveTableFile(file("base.tbl"), base).ok());
    ASSERT_TRUE(saveTableFile(file("sent.tbl"), sent).ok());
    SimProcess sim({"--pace", "--load", file("base.tbl"), "--save", file("board.tbl")}, file("sim.err"));
    const std::string port = sim.firstLine(10s);
    ASSERT_FALSE(port.empty()) << fileText(file("sim.err"));

    const std::string folder = dir_.path().string();
    const CtlRun send = runQm730ctl(folder, "send --port " + port + " " + file("sent.tbl"), 60);
    ASSERT_EQ(send.status, 0) << send.err;
    const CtlRun read = runQm730ctl(folder, "read --port " + port + " --base " + file("base.tbl") + " " + file("read.tbl"), 60);
    EXPECT_EQ(read.status, 0) << read.err << fileText(file("sim.err"));
    EXPECT_TRUE(fileText(file("read.tbl")) == imageBytes(afterDownload(base, sent))) << fileText(file("sim.err"));
    EXPECT_TRUE(fileText(file("board.tbl")) == imageBytes(afterUpload(base, sent))) << fileText(file("sim.err"));
}
