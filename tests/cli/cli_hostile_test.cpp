// qm730ctl against what is done to it on purpose: exports into what no
// table is saved into, names that would drive the terminal, tables of
// nothing but bad rows, memory running out.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "ctl_folder.h"

using namespace qm730;
using namespace qm730::test;
namespace fs = std::filesystem;

namespace {
using CliHostile = CtlFolder;
}  // namespace

// An export is saved as a table file is: into nothing but a regular file
// that may be written, whole or not at all.
TEST_F(CliHostile, ExportRefusesWhatNoTableIsSavedIntoAndLeavesIt) {
    ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0644), 0);
    fs::create_symlink(file("missing.csv"), file("dangling"));
    write("frozen.csv", "old");
    ASSERT_EQ(::chmod(file("frozen.csv").c_str(), 0444), 0);
    fs::create_directory(file("folder"));
    struct Case { std::string name; const char* reason; };
    const Case cases[] = {
        {file("fifo"), "not a regular file"},        {file("dangling"), "dangling symbolic link"},
        {file("frozen.csv"), "Permission denied"},   {"/dev/null", "not a regular file"},
        {file("folder"), "Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CtlRun r = ctl("pagers export " + table + " " + c.name);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "qm730ctl: cannot write '" + c.name + "': " + c.reason + "\n");
    }
    EXPECT_TRUE(fs::is_fifo(file("fifo")));
    EXPECT_TRUE(fs::is_symlink(file("dangling")));
    EXPECT_FALSE(fs::exists(file("missing.csv")));
    EXPECT_EQ(fileText(file("frozen.csv")), "old");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // A full disk (here: a file size limit of 512 bytes) stops the write
    // part-way; the export made before is kept whole.
    const std::string old = file("old.csv");
    ASSERT_EQ(ctl("messages export " + table + " " + old).status, 0);
    CtlRun r = ctlLimited("trap '' XFSZ; ulimit -f 1", "pagers export " + table + " " + old);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "qm730ctl: cannot write '" + old + "': File too large\n");
    r = ctl("messages export " + table + " -");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(fileText(old), r.out);
}

// Names typed by anyone reach the terminal only as text: escape sequences,
// bells and C1 controls as \xNN, never as the bytes themselves.
TEST_F(CliHostile, ControlCharactersInNamesReachTheTerminalAsEscapes) {
    struct Case { std::string arguments; std::string err; };
    const Case cases[] = {
        {"get " + table + " '\x1b[2J'",
         "qm730ctl: get: no such setting '\\x1B[2J' ('qm730ctl get FILE.tbl' lists them)\n"},
        {"set " + table + " 'Col\aour=red' '\xC2\x9B=1'", "qm730ctl: set " + table +
                                                            ": Col\\x07our: no such setting\nqm730ctl: set " + table +
                                                            ": \\xC2\\x9B: no such setting\n"},
        {"send -p '/dev/\x1b[31mX' " + table,
         "qm730ctl: send on /dev/\\x1B[31mX: cannot open the port: No such file or directory\n"},
        {"dump 'no\rsuch\xFF.tbl'", "qm730ctl: cannot read 'no\\x0Dsuch\\xFF.tbl': No such file or directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CtlRun r = ctl(c.arguments);
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST_F(CliHostile, TableOfBadRowsTellsTheFirstHundredThenHowManyMore) {
    std::string rows = "Index,Address,FunBit,Type,Baud,Name,Group\n";
    for (int i = 0; i < 5000; ++i) rows += "1\"\n";
    write("bad.csv", rows);
    const CtlRun r = ctl("pagers import " + table + " " + file("bad.csv"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 101);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
              "qm730ctl: pagers import " + file("bad.csv") + ": line 2, column 1 (Index): a quote inside a field that does not start "
              "with one (enclose the field in quotes and double the quote)");
    EXPECT_EQ(r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1),
              "qm730ctl: pagers import " + file("bad.csv") + ": 4900 more problems not shown\n");
}

// Memory running out part-way ends the run with one line and status 1,
// where the C++ runtime would abort.
TEST_F(CliHostile, RunOutOfMemoryEndsWithOneLine) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit leaves";
#endif
    std::string rows = "Index,Address,FunBit,Type,Baud,Name,Group\n";
    for (int i = 0; i < 1300000; ++i) rows += "1,\n";
    write("huge.csv", rows);
    const CtlRun r = ctlLimited("ulimit -v 50000", "pagers import " + table + " " + file("huge.csv"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qm730ctl: out of memory\n");
    EXPECT_EQ(load().bytes(), defaultImage().bytes());
}
