// The lock that makes writers of one table file take turns, on the real
// file system: in one process two locks on one file exclude each other as
// two programs' locks do.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "core/config/tablefilelock.h"
#include "file_bytes.h"
#include "tempdir.h"

using namespace qm730;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

class TableLock : public ::testing::Test {
protected:
    TableLock() { EXPECT_TRUE(saveTableFile(path, defaultImage()).ok()); }

    // Takes a second lock on the file in a thread of its own, as a second
    // program would, and tells how long that took.
    std::thread waiter(TableFileLock& lock, FileResult& result, Clock::duration& took) {
        return std::thread([this, &lock, &result, &took] {
            const auto start = Clock::now();
            result = lock.acquire(path, 5s);
            took = Clock::now() - start;
        });
    }

    TempDir dir;
    const std::string path = dir.file("site.tbl");
};

}  // namespace

TEST_F(TableLock, SecondWriterGivesUpAfterTheWaitSayingTheFileIsInUse) {
    TableFileLock first, second;
    ASSERT_TRUE(first.acquire(path).ok());
    EXPECT_TRUE(first.held());
    const auto start = Clock::now();
    const FileResult refused = second.acquire(path, 300ms);
    EXPECT_GE(Clock::now() - start, 300ms);
    EXPECT_EQ(refused.status, FileStatus::InUse);
    EXPECT_EQ(refused.reason, "in use by another program (waited 300 ms)");
    EXPECT_EQ(lockedByAnother(5s).reason, "in use by another program (waited 5 s)");
    EXPECT_FALSE(second.held());

    first.release();
    EXPECT_TRUE(second.acquire(path, 0ms).ok()) << "free again once released";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
        << "no lock file beside the table file";
}

TEST_F(TableLock, WaiterGetsTheLockWhenTheWriterBeforeItLetsGo) {
    TableFileLock first, second;
    ASSERT_TRUE(first.acquire(path).ok());
    FileResult result;
    Clock::duration took{};
    std::thread secondWriter = waiter(second, result, took);
    std::this_thread::sleep_for(400ms);
    first.release();
    secondWriter.join();
    EXPECT_TRUE(result.ok()) << result.reason;
    EXPECT_TRUE(second.held());
    EXPECT_GE(took, 400ms);
}

// The writer before replaces the file while the waiter waits on the old
// one: the waiter must end up holding the file the name leads to now, or a
// third writer would read it alongside.
TEST_F(TableLock, WaiterFollowsTheNameToTheFileThatReplacedTheOldOne) {
    TableFileLock first, second, third;
    ASSERT_TRUE(first.acquire(path).ok());
    FileResult result;
    Clock::duration took{};
    std::thread secondWriter = waiter(second, result, took);
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(saveTableFile(path, patternedImage()).ok());
    first.release();
    secondWriter.join();
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_EQ(third.acquire(path, 100ms).status, FileStatus::InUse);
}

TEST_F(TableLock, NameWithoutAFileToLockNeedsNoLock) {
    for (const std::string& name : {dir.file("new.tbl"), dir.path().string()}) {
        SCOPED_TRACE(name);
        TableFileLock lock;
        EXPECT_TRUE(lock.acquire(name).ok());
        EXPECT_FALSE(lock.held());
    }
}
