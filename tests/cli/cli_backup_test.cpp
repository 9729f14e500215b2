// qm730ctl backup: the flash of one simulated board kept in a file and
// written into a second one leaves both alike; a failing board, Ctrl+C or an
// unwritable file ends the run with the file untouched.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <thread>

#include "background_ctl.h"
#include "core/link/serial_port.h"
#include "file_bytes.h"
#include "flash_board.h"
#include "run_ctl.h"
#include "sim_process.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Firmware-like contents: code at the bottom with bytes that need stuffing,
// a version string in the upper half, erased flash between them, and bytes
// at EFFFE/EFFFF that are not the image checksum.
Bytes boardFlash() {
    Bytes flash(0x20000, 0xFF);
    for (std::size_t i = 0; i < 5000; ++i) flash[i] = static_cast<std::uint8_t>(i * 29 + i / 7);
    const std::string version = "QM730C firmware 2.17";
    std::copy(version.begin(), version.end(), flash.begin() + 0x12345);
    flash[0x1FFFE] = 0x55;
    flash[0x1FFFF] = 0xAA;
    return flash;
}

class CliBackup : public ::testing::Test {
protected:
    CtlRun ctl(const std::string& arguments) { return runQm730ctl(dir_.path().string(), arguments, 60); }
    TempDir dir_;
};

}  // namespace

TEST_F(CliBackup, ABackupWrittenToAnotherBoardMakesItsFlashTheSame) {
    const Bytes original = boardFlash();
    // A board that pauses before its first data frame, within the 5,050 ms
    // the program waits for it.
    BoardScript script;
    script.flashAtStart = original;
    script.lateReadBlock = 0;
    script.lateReadBy = 1200ms;
    FlashBoard first(script);
    SimProcess second({"--flash-save", dir_.file("second.bin")}, dir_.file("second.err"));
    const std::string from = first.port(), to = second.firstLine(10s);
    ASSERT_FALSE(to.empty()) << fileText(dir_.file("second.err"));

    const std::string backup = dir_.file("old firmware.s28");
    CtlRun r = ctl("backup --port " + from + " '" + backup + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Read Success !\n");
    EXPECT_EQ(r.err, "");

    r = ctl("flash -q --port " + to + " '" + backup + "'");
    ASSERT_EQ(r.status, 0) << r.err << fileText(dir_.file("second.err"));
    second.stop();

    const std::string text = fileText(dir_.file("second.bin"));
    Bytes written(text.begin(), text.end());
    ASSERT_EQ(written.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin(), original.end() - 2, written.begin()));
    const unsigned sum = std::accumulate(original.begin(), original.end() - 2, 0u);
    EXPECT_EQ(written[0x1FFFE], sum & 0xFF) << "the write puts the image checksum in place of the bytes read";
    EXPECT_EQ(written[0x1FFFF], sum >> 8 & 0xFF);
}

TEST_F(CliBackup, FailuresEndWithOneLineAndLeaveTheFileAsItWas) {
    // The backups go into a folder of their own, so that a stray file shows.
    const fs::path folder = dir_.path() / "backups";
    fs::create_directory(folder);
    const std::string kept = (folder / "kept.s28").string(), fresh = (folder / "new.s28").string();
    std::ofstream(kept) << "an earlier backup\n";
    const auto onlyTheEarlierBackup = [&] {
        EXPECT_EQ(fileText(kept), "an earlier backup\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "nothing else is left";
    };

    BoardScript quiet;
    quiet.silent = true;
    FlashBoard silent(quiet);
    CtlRun r = ctl("backup -p " + silent.port() + " " + fresh);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "qm730ctl: backup on " + silent.port() +
                         ": the target board is not found: no answer to the board check\n");
    onlyTheEarlierBackup();

    // The board answers the check and 20 block reads, then nothing more.
    SimProcess stopping({"--stop-after-frames", "21"}, dir_.file("sim.err"));
    const std::string port = stopping.firstLine(10s);
    ASSERT_FALSE(port.empty()) << fileText(dir_.file("sim.err"));
    r = ctl("backup -p " + port + " " + kept);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qm730ctl: backup on " + port +
                         ": no answer from the board within 5 seconds during the read of block 20 (DA000)\n");
    onlyTheEarlierBackup();

    // Ctrl+C while the board keeps the read waiting.
    BoardScript afterCheck;
    afterCheck.silentAfterCheck = true;
    FlashBoard waiting(afterCheck);
    Background run({"backup", "--port", waiting.port(), fresh}, dir_.path());
    ASSERT_TRUE(run.started());
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (waiting.frames().size() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(waiting.frames().size(), 2u) << "the first block read is on its way";
    const int status = run.interrupt(SIGINT);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    onlyTheEarlierBackup();
    SerialPort next;
    EXPECT_NO_THROW(next.open(waiting.port())) << "the port is let go";

    // A file that cannot be written is found out before the board is asked.
    FlashBoard untouched{BoardScript{}};
    const std::string nowhere = dir_.file("no-such-folder/new.s28");
    r = ctl("backup -p " + untouched.port() + " " + nowhere);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "qm730ctl: cannot write '" + nowhere + "': No such file or directory\n");
    EXPECT_TRUE(untouched.frames().empty());
}

// A data frame damaged on the line is read again and the backup holds what
// the board holds; one that never comes sound fails the backup, naming the
// block and what was wrong with it, and no file is written.
TEST_F(CliBackup, DamagedBlocksAreReadAgainAndNeverKept) {
    struct Case { const char* name; std::vector<std::string> faults; const char* complaint; };
    const std::vector<Case> cases = {
        {"sound", {}, nullptr},
        {"a bit flipped after the sum, once", {"--flip-bit", "7", "--damage-once"}, nullptr},
        {"another block's frame, once", {"--other-block", "63", "--damage-once"}, nullptr},
        {"a bit flipped after the sum, always", {"--flip-bit", "7"},
         "block 7 (D3800) did not arrive sound in 3 reads: the board's data frame had a wrong checksum: it carries "
         "the sum FCA3, its bytes add up to FCA2"},
        {"another block's frame, always", {"--other-block", "63"},
         "block 63 (EF800) did not arrive sound in 3 reads: the board's data frame held another block than the one "
         "asked for: it carries address D0000 where EF800 was asked for"},
        {"a wrong sum, always", {"--wrong-sum", "0"},
         "block 0 (D0000) did not arrive sound in 3 reads: the board's data frame had a wrong checksum: it carries "
         "the sum FDE7, its bytes add up to FDE6"},
    };
    writeFileBytes(dir_.file("flash.bin"), boardFlash());
    const std::string out = dir_.file("backup.s28");
    std::string sound;  // the backup of the sound board
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(out) << "an earlier backup\n";
        std::vector<std::string> args = c.faults;
        args.insert(args.end(), {"--flash-load", dir_.file("flash.bin")});
        SimProcess board(args, dir_.file("sim.err"));
        const std::string port = board.firstLine(10s);
        ASSERT_FALSE(port.empty()) << fileText(dir_.file("sim.err"));
        const CtlRun r = ctl("backup -p " + port + " " + out);
        if (sound.empty()) sound = fileText(out);
        EXPECT_EQ(r.status, c.complaint ? 1 : 0) << r.err;
        EXPECT_EQ(r.err, c.complaint ? "qm730ctl: backup on " + port + ": " + c.complaint + "\n" : "");
        EXPECT_EQ(fileText(out), c.complaint ? "an earlier backup\n" : sound);
    }
}
