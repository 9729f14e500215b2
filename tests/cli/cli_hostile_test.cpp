// qm730ctl against what is done to it on purpose: exports into what no
// table is saved into.
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
