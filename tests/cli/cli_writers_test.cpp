// Several qm730ctl writing one table file at once, as scripts run side by
// side do: they take turns, no change reported as made is lost, and one that
// waits too long says the file is in use.
#include <gtest/gtest.h>

#include "core/config/tablefilelock.h"
#include "ctl_folder.h"
#include "file_bytes.h"

using namespace qm730;
using namespace qm730::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {
using CliWriters = CtlFolder;
}  // namespace

// Two edits of different parts of one file started at the same moment, 20
// times: each must find the file as the other left it.
TEST_F(CliWriters, WritersAtTheSameMomentTakeTurnsAndNoChangeIsLost) {
    write("p.csv", "Index,Address,FunBit,Type,Baud,Name,Group\n2,1234561,0  0,Alpha,1200 bps,Ann,\n");
    write("m.csv", "Kind,Index,Pager ID,Content\nPPG,7,,Lunch at one\n");
    struct Pair { std::string first; std::string second; };
    const Pair pairs[] = {
        {"set -q " + table + " Delay_byte_1=7", "set -q " + table + " Delay_byte_2=9"},
        {"pagers import -q " + table + " " + file("p.csv"), "messages import -q " + table + " " + file("m.csv")},
    };
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(pair.first);
        int lost = 0;
        for (int trial = 0; trial < 20; ++trial) {
            save(defaultImage());
            const std::vector<CtlRun> runs = together({pair.first, pair.second});
            for (const CtlRun& run : runs) ASSERT_EQ(run.status, 0) << run.err;
            const ConfigImage image = load();
            const bool both = pair.first[0] == 's'
                                  ? image[sys::kDelay] == 7 && image[sys::kDelay + 1] == 9
                                  : readName(image.capcodeSlot(1)) == "Ann" &&
                                        readText(image.messageSlot(6), message::kSlotSize) == "Lunch at one";
            lost += !both;
        }
        EXPECT_EQ(lost, 0) << "trials of 20 in which one change was lost";
    }
    EXPECT_EQ(entries(), 3u + 2 * 2) << "the table, the two tables of rows and the outputs: no lock file";
}

TEST_F(CliWriters, EightNewOfOneMissingFileAllSucceed) {
    for (int trial = 0; trial < 10; ++trial) {
        fs::remove(file("n.tbl"));
        const std::vector<CtlRun> runs = together(std::vector<std::string>(8, "new " + file("n.tbl")));
        for (const CtlRun& run : runs) {
            EXPECT_EQ(run.status, 0) << "trial " << trial;
            EXPECT_EQ(run.err, "");
        }
        const ImageBytes written = defaultImage().bytes();
        EXPECT_EQ(fileBytes(file("n.tbl")), std::vector<std::uint8_t>(written.begin(), written.end()));
    }
}

// Another program keeps the file locked: every writer waits the few seconds
// it takes a writer to finish, then says the file is in use and changes
// nothing.
TEST_F(CliWriters, WriterThatFindsTheFileLockedTooLongSaysItIsInUse) {
    write("p.csv", "Index,Address,FunBit,Type,Baud,Name,Group\n2,1234561,0  0,Alpha,1200 bps,Ann,\n");
    write("m.csv", "Kind,Index,Pager ID,Content\nPPG,7,,Lunch at one\n");
    TableFileLock held;
    ASSERT_TRUE(held.acquire(table).ok());
    const std::vector<CtlRun> runs =
        together({"set " + table + " Delay_byte_1=7", "pagers import " + table + " " + file("p.csv"),
                  "messages import " + table + " " + file("m.csv"), "new " + table});
    for (const CtlRun& run : runs) {
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "qm730ctl: cannot write '" + table + "': in use by another program (waited 5 s)\n");
        EXPECT_GE(run.took, 5s);
    }
    EXPECT_EQ(load().bytes(), defaultImage().bytes());
    EXPECT_EQ(ctl("set -n " + table + " Delay_byte_1=7").status, 0) << "a dry run writes nothing and needs no turn";
}
