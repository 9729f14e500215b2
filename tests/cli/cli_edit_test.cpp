// qm730ctl get, set, pagers, messages, diff and verify as an operator runs
// them: the files they leave, what they print and their exit statuses, also
// when several run at once and when they are fed what no operator would.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "core/config/configfile.h"
#include "core/config/tablefilelock.h"
#include "images.h"
#include "run_ctl.h"
#include "simboard_thread.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;
namespace fs = std::filesystem;

namespace {

class CliEdit : public ::testing::Test {
protected:
    CliEdit() { save("t.tbl", defaultImage()); }

    std::string file(const std::string& name) const { return dir_.file(name); }
    CtlRun ctl(const std::string& arguments, int limitSeconds = 15) {
        return runQm730ctl(dir_.path().string(), arguments, limitSeconds);
    }
    void save(const std::string& name, const ConfigImage& image) {
        ASSERT_TRUE(saveTableFile(file(name), image).ok());
    }
    ConfigImage load(const std::string& name) const {
        ConfigImage image;
        EXPECT_TRUE(loadTableFile(file(name), image).ok());
        return image;
    }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary) << text;
    }
    // Starts one qm730ctl per command line at the same moment, as scripts run
    // side by side do; returns what each wrote on stderr once all have ended.
    std::vector<std::string> together(const std::vector<std::string>& commands) {
        std::string line = "--version >/dev/null; {";
        for (std::size_t i = 0; i < commands.size(); ++i)
            line += " " QM730CTL_PATH " " + commands[i] + " 2>" + file("err" + std::to_string(i)) + " &";
        ctl(line + " wait; }");
        std::vector<std::string> errors;
        for (std::size_t i = 0; i < commands.size(); ++i) errors.push_back(fileText(file("err" + std::to_string(i))));
        return errors;
    }

    TempDir dir_;
};


}  // namespace

TEST_F(CliEdit, SetChangesSettingsByNameAndGetReadsThemBack) {
    CtlRun r = ctl("set " + file("t.tbl") + " uart_baud=19200bps 'Heartbeat=10   Minutes' Frequency=455.0125MHz");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, file("t.tbl") + ": 4 settings changed\n");  // the N word follows the frequency
    EXPECT_EQ(r.err, "");
    r = ctl("get " + file("t.tbl") + " UART_baud heartbeat PLL_N frequency");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "UART_baud: 19200 bps\nHeartbeat: 10   Minutes\nPLL_N: 023862\nFrequency: 455012500 Hz\n");

    r = ctl("set -v " + file("t.tbl") + " Frequency=455000000 Channel_space=10k Delay_byte_1=10");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Frequency: 455012500 Hz -> 455000000 Hz\n"
              "Channel_space: 12.5k -> 10k\n"
              "PLL_R: 050801 -> 050A01\n"
              "PLL_N: 023862 -> 02C678\n" +
                  file("t.tbl") + ": 4 settings changed\n");
    EXPECT_EQ(ctl("get -n " + file("t.tbl") + " pll_r").out, "050A01\n");
    EXPECT_EQ(ctl("set -q " + file("t.tbl") + " Channel_space=10k").out, "");

    const std::string all = ctl("get " + file("t.tbl")).out;
    EXPECT_EQ(all.substr(0, 16), "Delay_byte_1: 10");
    EXPECT_NE(all.find("\nStatus_flags: 0x30\n"), std::string::npos);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 24);
}

TEST_F(CliEdit, SetRefusesABadValueByNameAndRuleAndWritesNothing) {
    const ConfigImage before = load("t.tbl");
    CtlRun r = ctl("set " + file("t.tbl") + " Delay_byte_1=5 Delay_byte_2=300 Frequency=454505000 Colour=red");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "qm730ctl: set " + file("t.tbl") + ": Colour: no such setting\n"
              "qm730ctl: set " + file("t.tbl") + ": Delay_byte_2: '300' is not a whole number from 0 to 255\n"
              "qm730ctl: set " + file("t.tbl") +
                  ": Frequency: 454505000 Hz is not a whole multiple of the 12.5 kHz channel spacing\n");
    EXPECT_EQ(load("t.tbl").bytes(), before.bytes());

    r = ctl("set " + file("t.tbl") + " Delay_byte_1");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "qm730ctl: set: 'Delay_byte_1' is not NAME=VALUE");
    EXPECT_EQ(ctl("set " + file("t.tbl")).status, 2);
    EXPECT_EQ(ctl("get " + file("t.tbl") + " Colour").status, 2);

    r = ctl("set -n " + file("t.tbl") + " Delay_byte_1=5");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, file("t.tbl") + ": 1 setting would change (dry run, nothing written)\n");
    r = ctl("set " + file("t.tbl") + " Delay_byte_1=10");
    EXPECT_EQ(r.out, file("t.tbl") + ": nothing changed\n");
    EXPECT_EQ(load("t.tbl").bytes(), before.bytes());
}

TEST_F(CliEdit, ExportThenImportGivesTheIdenticalFile) {
    const ConfigImage original = scrambledImage(4180);
    save("s.tbl", original);
    for (const std::string table : {"pagers", "messages"}) {
        SCOPED_TRACE(table);
        CtlRun r = ctl(table + " export " + file("s.tbl") + " " + file(table + ".csv"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(ctl(table + " export " + file("s.tbl")).out, fileText(file(table + ".csv")));
        r = ctl(table + " import " + file("s.tbl") + " " + file(table + ".csv"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, file("s.tbl") + ": nothing changed\n");
        r = ctl(table + " import -q " + file("s.tbl") + " - <" + file(table + ".csv"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(load("s.tbl").bytes(), original.bytes());
    }
}

TEST_F(CliEdit, ImportTakesEditedRowsThroughTheFieldRules) {
    write("p.csv",
          "Index,Address,FunBit,Type,Baud,Name,Group\r\n"
          "2,42,1 1,numeric,2400bps,\"  Ann Lee \",7\r\n"
          "300,500000,0  0,Tone,1200 bps,,\r\n");
    CtlRun r = ctl("pagers import -v " + file("t.tbl") + " " + file("p.csv"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("pager 300")),
              "pager 2 Address: 1234561 -> 0000042\n"
              "pager 2 FunBit: 0  0 -> 1  1\n"
              "pager 2 Type: Alpha -> Numeric\n"
              "pager 2 Baud: 1200 bps -> 2400 bps\n"
              "pager 2 Name: '' -> 'Ann Lee'\n"
              "pager 2 Group: none -> 7\n");
    EXPECT_NE(r.out.find("\npager 399 Address: 0000399 -> 0500099\npager 399 Type: Alpha -> Tone\n"),
              std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), file("t.tbl") + ": 101 pager records changed\n");

    write("m.csv", "Kind,Index,Pager ID,Content\nPPG,7,,Lunch at one\nAlarm,2,250,Door open\n");
    r = ctl("messages import " + file("t.tbl") + " " + file("m.csv"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, file("t.tbl") + ": 1 PPG message and 1 alarm message changed\n");
    const std::string dump = ctl("dump " + file("t.tbl")).out;
    EXPECT_NE(dump.find("\nmessage   7  Lunch at one\n"), std::string::npos);
    EXPECT_NE(dump.find("\nalarm   2  250       Door open\n"), std::string::npos);
}

TEST_F(CliEdit, BadRowsAreEachRefusedWithTheirLineAndNothingIsWritten) {
    const ConfigImage before = load("t.tbl");
    write("bad.csv",
          "Index,Address,FunBit,Type,Baud,Name,Group\n"
          "1,1234560,0  0,Alpha,1200 bps,Too long a name,\n"
          "2,2097152,0  0,Alpha,1200 bps,,\n"
          "3,1234562,0  0,Alpha,1200 bps,,100\n"
          "4,1234563,0  0,Alpha,1200 bps\n"
          "5,1234564,0  0,Alpha,1200 bps,Sa\"m,\n"
          "6,1234599,0  0,Alpha,1200 bps,Fine,\n");
    const CtlRun r = ctl("pagers import " + file("t.tbl") + " " + file("bad.csv"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    const std::string prefix = "qm730ctl: pagers import " + file("bad.csv") + ": ";
    EXPECT_EQ(r.err,
              prefix + "line 2, column 6 (Name): 'Too long a name' has 15 characters; a name holds at most 10\n" +
              prefix + "line 3, column 2 (Address): '2097152' is not a number from 8 to 2097151\n" +
              prefix + "line 4, column 7 (Group): '100' is not a group: a number from 0 to 99, or empty for none\n" +
              prefix + "line 5, column 6 (Name): the row has 5 columns where the header has 7\n" +
              prefix + "line 6, column 6 (Name): a quote inside a field that does not start with one (enclose the "
                       "field in quotes and double the quote)\n");
    EXPECT_EQ(load("t.tbl").bytes(), before.bytes());

    EXPECT_EQ(ctl("pagers import " + file("t.tbl") + " " + file("missing.csv")).status, 2);
    EXPECT_EQ(ctl("pagers export " + file("t.tbl") + " " + file("t.tbl")).status, 2);
    EXPECT_EQ(load("t.tbl").bytes(), before.bytes()) << "the table file is not overwritten by its own export";
}

TEST_F(CliEdit, DiffTellsTheDifferencesAndSaysSoInItsStatus) {
    CtlRun r = ctl("diff " + file("t.tbl") + " " + file("t.tbl"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    ConfigImage changed = defaultImage();
    writeName(changed.capcodeSlot(11), "Bob");
    writeText(changed.messageSlot(4), message::kSlotSize, "Hello");
    changed[0x2A] = 3;
    save("c.tbl", changed);
    r = ctl("diff " + file("t.tbl") + " " + file("c.tbl"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "Heartbeat: Disable -> 3     Minutes\n"
              "pager 12 Name: '' -> 'Bob'\n"
              "message 5: 'No.5 ppg message' -> 'Hello'\n");
    r = ctl("diff -q " + file("t.tbl") + " " + file("c.tbl"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ctl("diff " + file("t.tbl") + " " + file("missing.tbl")).status, 2);
}

TEST_F(CliEdit, VerifyComparesWhatTheBoardSends) {
    ConfigImage onBoard = defaultImage();
    writeName(onBoard.capcodeSlot(149), "Unsent");  // pager 150 is not in the board's frame
    SimBoardThread board({}, onBoard);
    CtlRun r = ctl("verify --port " + board.port() + " " + file("t.tbl"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "The board holds " + file("t.tbl") + "\n");

    ConfigImage expected = defaultImage();
    expected[0x27] = 5;
    writeText(expected.alarmRecord(0), 4, "900");
    save("e.tbl", expected);
    r = ctl("verify -p " + board.port() + " " + file("e.tbl"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "UART_baud: 19200 bps -> 9600 bps\nalarm 1 Pager ID: '900' -> '101'\n");
    EXPECT_EQ(r.err, "qm730ctl: verify on " + board.port() + ": the board differs from " + file("e.tbl") +
                         " in 2 places\n");
}

TEST_F(CliEdit, VerifyWithASilentBoardFailsAndSaysWhy) {
    sim::SimOptions silent;
    silent.silent = true;
    SimBoardThread board(silent);
    const CtlRun r = ctl("verify -p " + board.port() + " " + file("t.tbl"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "qm730ctl: verify on " + board.port() + ": the board did not answer the logon within 2 seconds\n");
}

// Two sets of different settings on one file at the same moment, 20 times;
// eight new of one missing file.
TEST_F(CliEdit, WritersAtTheSameMomentTakeTurnsAndNoChangeIsLost) {
    const std::string t = file("t.tbl");
    int lost = 0;
    for (int trial = 0; trial < 20; ++trial) {
        save("t.tbl", defaultImage());
        EXPECT_EQ(together({"set " + t + " Delay_byte_1=7", "set " + t + " Delay_byte_2=9"}),
                  std::vector<std::string>(2));
        lost += load("t.tbl")[sys::kDelay] != 7 || load("t.tbl")[sys::kDelay + 1] != 9;
    }
    EXPECT_EQ(lost, 0) << "of 20 trials";
    for (int trial = 0; trial < 10; ++trial) {
        fs::remove(file("n.tbl"));
        EXPECT_EQ(together(std::vector(8, "new " + file("n.tbl"))), std::vector<std::string>(8)) << trial;
    }
}

// Another program keeps the file: each writer waits the seconds a writer
// takes at most, then says the file is in use and changes nothing.
TEST_F(CliEdit, WriterThatFindsTheFileLockedTooLongSaysItIsInUse) {
    const std::string t = file("t.tbl");
    write("p.csv", "Index,Address,FunBit,Type,Baud,Name,Group\n2,1234561,0  0,Alpha,1200 bps,Ann,\n");
    TableFileLock held;
    ASSERT_TRUE(held.acquire(t).ok());
    const auto start = std::chrono::steady_clock::now();
    const std::string inUse = "qm730ctl: cannot write '" + t + "': in use by another program (waited 5 s)\n";
    EXPECT_EQ(together({"set " + t + " Delay_byte_1=7", "pagers import " + t + " " + file("p.csv"), "new " + t}),
              std::vector<std::string>(3, inUse));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(load("t.tbl").bytes(), defaultImage().bytes());
}

// An export is saved as a table file is, into a regular file only.
TEST_F(CliEdit, ExportRefusesWhatNoTableIsSavedIntoAndLeavesIt) {
    ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0644), 0);
    fs::create_symlink(file("missing.csv"), file("dangling"));
    write("frozen.csv", "old");
    ASSERT_EQ(::chmod(file("frozen.csv").c_str(), 0444), 0);
    const std::pair<std::string, const char*> cases[] = {
        {file("fifo"), "not a regular file"},      {file("dangling"), "dangling symbolic link"},
        {file("frozen.csv"), "Permission denied"}, {"/dev/null", "not a regular file"},
    };
    for (const auto& [name, reason] : cases)
        EXPECT_EQ(ctl("pagers export " + file("t.tbl") + " " + name).err,
                  "qm730ctl: cannot write '" + name + "': " + reason + "\n");
    EXPECT_TRUE(fs::is_fifo(file("fifo")) && !fs::exists(file("missing.csv")) && fileText(file("frozen.csv")) == "old");
}

// Escape sequences, bells and C1 controls show as \xNN, never as themselves.
TEST_F(CliEdit, ControlCharactersInNamesReachTheTerminalAsEscapes) {
    const std::string t = file("t.tbl");
    const std::pair<std::string, std::string> cases[] = {
        {"get " + t + " '\x1b[2J'", "qm730ctl: get: no such setting '\\x1B[2J' ('qm730ctl get FILE.tbl' lists them)\n"},
        {"set " + t + " '\xC2\x9B\a=1'", "qm730ctl: set " + t + ": \\xC2\\x9B\\x07: no such setting\n"},
        {"send -p '/dev/\x1b[31m' " + t, "qm730ctl: send on /dev/\\x1B[31m: cannot open the port: No such file or directory\n"},
        {"dump 'no\r\xFF.tbl'", "qm730ctl: cannot read 'no\\x0D\\xFF.tbl': No such file or directory\n"},
    };
    for (const auto& [arguments, err] : cases) EXPECT_EQ(ctl(arguments).err, err);
}

TEST_F(CliEdit, TableOfBadRowsTellsTheFirstHundredThenHowManyMore) {
    std::string rows = "Index,Address,FunBit,Type,Baud,Name,Group\n";
    for (int i = 0; i < 5000; ++i) rows += "1\"\n";
    write("bad.csv", rows);
    const std::string err = ctl("pagers import " + file("t.tbl") + " " + file("bad.csv")).err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 101);
    EXPECT_TRUE(err.ends_with("line 101, column 1 (Index): a quote inside a field that does not start with one "
                              "(enclose the field in quotes and double the quote)\nqm730ctl: pagers import " +
                              file("bad.csv") + ": 4900 more problems not shown\n"));
}

TEST_F(CliEdit, RunOutOfMemoryEndsWithOneLine) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit leaves";
#endif
    write("huge.csv", "Index,Address,FunBit,Type,Baud,Name,Group\n" + std::string(3900000, ','));
    const CtlRun r = ctl("--version >/dev/null; ulimit -v 50000; exec " QM730CTL_PATH " pagers import " + file("t.tbl") +
                         " " + file("huge.csv"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qm730ctl: out of memory\n");
}
