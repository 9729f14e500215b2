#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "config/configfile.h"
#include "tempdir.h"

using namespace qm730;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, std::size_t count, std::uint8_t value) {
    std::ofstream out(path, std::ios::binary);
    out << std::string(count, static_cast<char>(value));
}

// An image with something in every region, so a save that drops bytes shows.
ConfigImage patternedImage() {
    ConfigImage image = defaultImage();
    for (std::size_t i = 0; i < kImageSize; i += 97) image[i] = static_cast<std::uint8_t>(i * 7);
    image[kImageSize - 1] = 0xEE;
    return image;
}

std::size_t entriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

}  // namespace

TEST(TableFile, SaveThenLoadIsByteIdenticalAndExactlyTheImageSize) {
    TempDir dir;
    const std::string path = dir.file("site");  // no extension added
    const ConfigImage saved = patternedImage();
    const FileResult save = saveTableFile(path, saved);
    ASSERT_TRUE(save.ok()) << save.reason;
    EXPECT_EQ(fs::file_size(path), 40959u);
    EXPECT_EQ(entriesIn(dir.path()), 1u) << "no temporary file may remain";

    ConfigImage loaded;
    const FileResult load = loadTableFile(path, loaded);
    ASSERT_TRUE(load.ok()) << load.reason;
    EXPECT_EQ(load.bytes, 40959u);
    EXPECT_EQ(load.fileSize, 40959u);
    EXPECT_EQ(loaded.bytes(), saved.bytes());
}

TEST(TableFile, ShortFileReplacesOnlyTheBytesItHolds) {
    TempDir dir;
    writeBytes(dir.file("short.tbl"), 100, 0xAB);
    ConfigImage image = defaultImage();
    const FileResult load = loadTableFile(dir.file("short.tbl"), image);
    ASSERT_TRUE(load.ok());
    EXPECT_EQ(load.bytes, 100u);
    EXPECT_EQ(image[99], 0xAB);
    EXPECT_EQ(image[100], defaultImage()[100]);
    EXPECT_EQ(image[0x7D60], '1');
}

TEST(TableFile, LongFileGivesOnlyItsFirstImageSizeBytes) {
    TempDir dir;
    writeBytes(dir.file("long.tbl"), 50000, 0x5A);
    ConfigImage image;
    const FileResult load = loadTableFile(dir.file("long.tbl"), image);
    ASSERT_TRUE(load.ok());
    EXPECT_EQ(load.bytes, 40959u);
    EXPECT_EQ(load.fileSize, 50000u);
    EXPECT_EQ(image[kImageSize - 1], 0x5A);
}

TEST(TableFile, UnreadableFilesFailWithTheReasonAndLeaveTheImage) {
    TempDir dir;
    ConfigImage image = defaultImage();
    const FileResult missing = loadTableFile(dir.file("missing.tbl"), image);
    EXPECT_EQ(missing.status, FileStatus::CannotOpen);
    EXPECT_EQ(missing.reason, "No such file or directory");

    const FileResult folder = loadTableFile(dir.path().string(), image);
    EXPECT_FALSE(folder.ok());
    EXPECT_EQ(folder.reason, "Is a directory");
    EXPECT_EQ(image.bytes(), defaultImage().bytes());
}

TEST(TableFile, SavingOverALongerFileLeavesExactlyTheImage) {
    TempDir dir;
    const std::string path = dir.file("old.tbl");
    writeBytes(path, 60000, 0x11);
    ASSERT_TRUE(saveTableFile(path, defaultImage()).ok());
    const std::vector<std::uint8_t> bytes = fileBytes(path);
    ASSERT_EQ(bytes.size(), 40959u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), defaultImage().bytes().begin()));
}

TEST(TableFile, ReplacedFileKeepsItsPermissionBits) {
    TempDir dir;
    const std::string path = dir.file("kept.tbl");
    writeBytes(path, 10, 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(saveTableFile(path, defaultImage()).ok());
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(TableFile, SaveThroughASymbolicLinkReplacesTheFileItNames) {
    TempDir dir;
    writeBytes(dir.file("real.tbl"), 10, 0);
    fs::create_symlink(dir.file("real.tbl"), dir.file("link.tbl"));
    ASSERT_TRUE(saveTableFile(dir.file("link.tbl"), defaultImage()).ok());
    EXPECT_TRUE(fs::is_symlink(dir.file("link.tbl")));
    EXPECT_EQ(fs::file_size(dir.file("real.tbl")), 40959u);
}

TEST(TableFile, FailedSaveReportsTheReasonAndKeepsThePreviousFile) {
    TempDir dir;
    const FileResult underFile = saveTableFile("/dev/null/x.tbl", defaultImage());
    EXPECT_EQ(underFile.status, FileStatus::CannotCreate);
    EXPECT_EQ(underFile.reason, "Not a directory");

    const FileResult missingFolder = saveTableFile(dir.file("nowhere/x.tbl"), defaultImage());
    EXPECT_EQ(missingFolder.reason, "No such file or directory");

    // The target is a folder: the rename fails, the temporary file goes.
    fs::create_directory(dir.file("taken"));
    const FileResult overFolder = saveTableFile(dir.file("taken"), defaultImage());
    EXPECT_EQ(overFolder.status, FileStatus::CannotReplace);
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(TableFile, WriteThatRunsOutOfRoomFailsAndKeepsThePreviousFile) {
    TempDir dir;
    const std::string path = dir.file("previous.tbl");
    ASSERT_TRUE(saveTableFile(path, defaultImage()).ok());

    // A file size limit makes the write stop part-way, like a full disk.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const FileResult result = saveTableFile(path, patternedImage());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result.status, FileStatus::WriteFailed);
    EXPECT_EQ(result.reason, "File too large");
    const std::vector<std::uint8_t> bytes = fileBytes(path);
    ASSERT_EQ(bytes.size(), 40959u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), defaultImage().bytes().begin()));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}
