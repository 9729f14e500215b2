// The lock that makes writers of one table file take turns. In one process
// two locks on one file exclude each other as two programs' locks do.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/config/tablefilelock.h"
#include "file_bytes.h"
#include "images.h"
#include "tempdir.h"

using namespace qm730;
using namespace std::chrono_literals;

// The writer before replaces the file while the next one waits on the old
// one: the waiter must end up holding the file the name leads to now, or a
// third writer would work on it alongside.
TEST(TableLock, WaiterFollowsTheNameToTheFileThatReplacedTheOldOne) {
    TempDir dir;
    const std::string path = dir.file("site.tbl");
    ASSERT_TRUE(saveTableFile(path, defaultImage()).ok());
    TableFileLock first, second, third;
    ASSERT_TRUE(first.acquire(path).ok());
    std::thread waiter([&] { EXPECT_TRUE(second.acquire(path).ok()); });
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(saveTableFile(path, patternedImage()).ok());
    first.release();
    waiter.join();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(third.acquire(path, 100ms).reason, "in use by another program (waited 100 ms)");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
}
