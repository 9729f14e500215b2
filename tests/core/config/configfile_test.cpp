#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include "core/config/configfile.h"
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

bool holdsImage(const std::string& path, const ConfigImage& image) {
    const std::vector<std::uint8_t> bytes = fileBytes(path);
    return bytes.size() == kImageSize && std::equal(bytes.begin(), bytes.end(), image.bytes().begin());
}

struct stat statOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

// Runs the check in a child process as the user nobody, for whom permissions
// hold (the superuser writes any folder); an ordinary user runs it directly.
// Returns what the check found wrong, empty when nothing.
std::string asOrdinaryUser(const std::function<std::string()>& check) {
    if (::geteuid() != 0) return check();
    const struct passwd* nobody = ::getpwnam("nobody");
    if (!nobody) return "no user nobody";
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string found = "cannot become nobody";
        if (::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0)
            found = check();
        const ssize_t written = ::write(pipeFds[1], found.data(), found.size());
        ::_exit(written == static_cast<ssize_t>(found.size()) ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string found;
    char chunk[256];
    for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) found.append(chunk, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? found : "the child failed: " + found;
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

    // A device would give endless bytes (and a FIFO would wait for a writer).
    const FileResult device = loadTableFile("/dev/zero", image);
    EXPECT_EQ(device.status, FileStatus::NotRegular);
    EXPECT_EQ(device.reason, "not a regular file");
    EXPECT_EQ(image.bytes(), defaultImage().bytes());
}

TEST(TableFile, SizeIsWhatTheFileHoldsEvenWhereTheRecordedSizeSaysNought) {
    const std::vector<std::uint8_t> text = fileBytes("/proc/version");
    ASSERT_FALSE(text.empty());
    ConfigImage image = defaultImage();
    const FileResult load = loadTableFile("/proc/version", image);
    ASSERT_TRUE(load.ok()) << load.reason;
    EXPECT_EQ(load.bytes, text.size());
    EXPECT_EQ(load.fileSize, text.size());
    EXPECT_EQ(image[0], text[0]);
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

// The superuser can give the file to another user first; the set-group-ID
// bit shows that the mode is set after the owner, which clears it.
TEST(TableFile, ReplacedFileKeepsItsModeOwnerAndGroup) {
    TempDir dir;
    const std::string path = dir.file("kept.tbl");
    writeBytes(path, 10, 0);
    const struct passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    if (nobody) {
        ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    ASSERT_EQ(::chmod(path.c_str(), 02640), 0);
    const struct stat before = statOf(path);
    const FileResult save = saveTableFile(path, patternedImage());
    ASSERT_TRUE(save.ok()) << save.reason;
    const struct stat after = statOf(path);
    EXPECT_EQ(after.st_mode & 07777, 02640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_TRUE(holdsImage(path, patternedImage()));
}

TEST(TableFile, FileWithSeveralNamesIsWrittenInPlaceAndKeepsThemAll) {
    TempDir dir;
    const std::string path = dir.file("site.tbl"), other = dir.file("backup-name.tbl");
    writeBytes(path, 60000, 0x11);
    fs::create_hard_link(path, other);
    const ino_t inode = statOf(path).st_ino;
    const FileResult save = saveTableFile(other, patternedImage());
    ASSERT_TRUE(save.ok()) << save.reason;
    EXPECT_EQ(statOf(path).st_ino, inode);
    EXPECT_EQ(statOf(other).st_nlink, 2u);
    EXPECT_TRUE(holdsImage(path, patternedImage())) << "the longer old file is cut to the image";
    EXPECT_EQ(entriesIn(dir.path()), 2u);
}

// Other files (firmware backups) are saved by the same machinery: whatever
// their size, a new file, a replaced one and one written in place all hold
// exactly the contents afterwards.
TEST(TableFile, ContentsOfAnySizeAreSavedExactly) {
    TempDir dir;
    for (const std::size_t size : {std::size_t{0}, std::size_t{5}, kImageSize, std::size_t{300000}}) {
        SCOPED_TRACE(size);
        std::vector<std::uint8_t> contents(size);
        for (std::size_t i = 0; i < size; ++i) contents[i] = static_cast<std::uint8_t>(i * 13 + i / 256);
        const std::string fresh = dir.file("new-" + std::to_string(size)), replaced = dir.file("old-" + std::to_string(size)),
                          linked = dir.file("linked-" + std::to_string(size));
        writeBytes(replaced, 60000, 0x11);
        writeBytes(linked, 60000, 0x11);
        fs::create_hard_link(linked, linked + "-other");
        for (const std::string& path : {fresh, replaced, linked}) {
            const FileResult save = saveFileContents(path, contents);
            ASSERT_TRUE(save.ok()) << path << ": " << save.reason;
            EXPECT_EQ(save.bytes, size);
            EXPECT_EQ(fileBytes(path), contents) << path;
        }
        EXPECT_EQ(fileBytes(linked + "-other"), contents) << "written in place";
    }
    EXPECT_EQ(entriesIn(dir.path()), 4u * 4) << "no temporary file is left";
}

TEST(TableFile, NameOfTheLongestLegalLengthCanBeSaved) {
    TempDir dir;
    const std::string path = dir.file(std::string(255, 'n'));
    const FileResult save = saveTableFile(path, defaultImage());
    ASSERT_TRUE(save.ok()) << save.reason;
    EXPECT_TRUE(saveTableFile(path, patternedImage()).ok()) << "and replaced";
    EXPECT_TRUE(holdsImage(path, patternedImage()));
}

// Where no replacement with the old file's owner can be made beside it, the
// file is written in place: a folder that is not writable, and (as the
// superuser's child) a writable file of another user.
TEST(TableFile, FileThatCannotBeReplacedIsWrittenInPlace) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string folder = dir.file("locked"), shared = dir.file("shared");
    fs::create_directory(folder);
    fs::create_directory(shared);
    const std::string path = folder + "/site.tbl", theirs = shared + "/theirs.tbl";
    writeBytes(path, 100, 0x22);
    writeBytes(theirs, 100, 0x22);
    for (const std::string& file : {path, theirs}) ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const uid_t owner = statOf(theirs).st_uid;

    const std::string found = asOrdinaryUser([&]() -> std::string {
        std::ostringstream wrong;
        if (!checkSaveTarget(path).ok()) wrong << "check refused the file; ";
        const FileResult save = saveTableFile(path, patternedImage());
        if (!save.ok()) wrong << "save failed: " << save.reason << "; ";
        const FileResult fresh = checkSaveTarget(folder + "/new.tbl");
        if (fresh.reason != "Permission denied") wrong << "check of a new file gave '" << fresh.reason << "'; ";
        if (saveTableFile(folder + "/new.tbl", defaultImage()).reason != "Permission denied")
            wrong << "a new file in the folder was not refused; ";
        if (const FileResult other = saveTableFile(theirs, patternedImage()); !other.ok())
            wrong << "save of another user's file failed: " << other.reason << "; ";
        return wrong.str();
    });
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(found, "");
    EXPECT_TRUE(holdsImage(path, patternedImage()));
    EXPECT_TRUE(holdsImage(theirs, patternedImage()));
    EXPECT_EQ(statOf(theirs).st_uid, owner);
    EXPECT_EQ(entriesIn(folder), 1u);
    EXPECT_EQ(entriesIn(shared), 1u);
}

TEST(TableFile, SaveRefusesWhatIsNoRegularFileAndLeavesItAsItWas) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    fs::create_symlink(dir.file("fifo"), dir.file("to-fifo"));
    fs::create_symlink(dir.file("missing.tbl"), dir.file("dangling"));
    fs::create_symlink(dir.file("loop-b"), dir.file("loop-a"));
    fs::create_symlink(dir.file("loop-a"), dir.file("loop-b"));
    const bool device = ::mknod(dir.file("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
    const std::size_t entries = entriesIn(dir.path());

    struct Case { const char* name; const char* reason; FileStatus status; };
    const Case cases[] = {
        {"fifo", "not a regular file", FileStatus::NotRegular},
        {"to-fifo", "not a regular file", FileStatus::NotRegular},
        {"null", "not a regular file", FileStatus::NotRegular},
        {"dangling", "dangling symbolic link", FileStatus::CannotCreate},
        {"loop-a", "Too many levels of symbolic links", FileStatus::CannotCreate},
    };
    for (const Case& c : cases) {
        if (std::string(c.name) == "null" && !device) continue;
        SCOPED_TRACE(c.name);
        const FileResult save = saveTableFile(dir.file(c.name), defaultImage());
        EXPECT_EQ(save.status, c.status);
        EXPECT_EQ(save.reason, c.reason);
        EXPECT_EQ(checkSaveTarget(dir.file(c.name)).reason, c.reason);
    }
    EXPECT_TRUE(S_ISFIFO(statOf(dir.file("fifo")).st_mode));
    EXPECT_TRUE(fs::is_symlink(dir.file("to-fifo")));
    EXPECT_TRUE(fs::is_symlink(dir.file("dangling")));
    EXPECT_TRUE(fs::is_symlink(dir.file("loop-a")));
    if (device) {
        EXPECT_TRUE(S_ISCHR(statOf(dir.file("null")).st_mode));
    }
    EXPECT_EQ(entriesIn(dir.path()), entries) << "nothing created, nothing left behind";
}

TEST(TableFile, ReadOnlyFileIsRefusedEvenForTheSuperuser) {
    TempDir dir;
    const std::string path = dir.file("frozen.tbl");
    writeBytes(path, 100, 0x33);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const FileResult save = saveTableFile(path, defaultImage());
    EXPECT_EQ(save.status, FileStatus::CannotCreate);
    EXPECT_EQ(save.reason, "Permission denied");
    EXPECT_EQ(checkSaveTarget(path).reason, "Permission denied");
    EXPECT_EQ(fileBytes(path), std::vector<std::uint8_t>(100, 0x33));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
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

    fs::create_directory(dir.file("taken"));
    const FileResult overFolder = saveTableFile(dir.file("taken"), defaultImage());
    EXPECT_EQ(overFolder.status, FileStatus::NotRegular);
    EXPECT_EQ(overFolder.reason, "Is a directory");
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(TableFile, WriteThatRunsOutOfRoomFailsAndKeepsThePreviousFile) {
    TempDir dir;
    const std::string path = dir.file("previous.tbl");
    ASSERT_TRUE(saveTableFile(path, defaultImage()).ok());
    // Written in place: a short file with a second name.
    const std::string linked = dir.file("linked.tbl");
    writeBytes(linked, 500, 0x44);
    fs::create_hard_link(linked, dir.file("other-name.tbl"));

    // A file size limit makes the write stop part-way, like a full disk.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const FileResult result = saveTableFile(path, patternedImage());
    const FileResult inPlace = saveTableFile(linked, patternedImage());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result.status, FileStatus::WriteFailed);
    EXPECT_EQ(result.reason, "File too large");
    EXPECT_TRUE(holdsImage(path, defaultImage()));
    EXPECT_EQ(inPlace.status, FileStatus::WriteFailed);
    EXPECT_EQ(fileBytes(linked), std::vector<std::uint8_t>(500, 0x44));
    EXPECT_EQ(entriesIn(dir.path()), 3u);
}

namespace {

// What the interrupt handler of the next test sees: it looks into the folder
// with calls a signal handler may make and notes any name but the target's.
int watchedFolder = -1;
volatile sig_atomic_t interruptSeen = 0;
volatile sig_atomic_t strayFileSeen = 0;

void lookForStrayFiles(int) {
    interruptSeen = 1;
    alignas(dirent64) char buffer[4096];
    ::lseek(watchedFolder, 0, SEEK_SET);
    for (ssize_t n; (n = ::getdents64(watchedFolder, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
                std::strcmp(entry->d_name, "interrupted.tbl") != 0)
                strayFileSeen = 1;
            at += entry->d_reclen;
        }
    }
}

}  // namespace

TEST(TableFile, InterruptDuringASaveFindsNoTemporaryFile) {
    TempDir dir;
    watchedFolder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(watchedFolder, 0);
    interruptSeen = 0;
    strayFileSeen = 0;
    struct sigaction handler {}, previous {};
    handler.sa_handler = lookForStrayFiles;
    handler.sa_flags = SA_RESTART;
    sigemptyset(&handler.sa_mask);
    ASSERT_EQ(::sigaction(SIGINT, &handler, &previous), 0);

    // Interrupts keep arriving at this thread while it saves again and again.
    std::atomic<bool> done{false};
    const pthread_t saver = ::pthread_self();
    std::thread interrupter([&] {
        while (!done) {
            ::pthread_kill(saver, SIGINT);
            std::this_thread::yield();
        }
    });
    int failures = 0;
    for (int i = 0; i < 60; ++i)
        if (!saveTableFile(dir.file("interrupted.tbl"), patternedImage()).ok()) ++failures;
    done = true;
    interrupter.join();
    ::sigaction(SIGINT, &previous, nullptr);
    ::close(watchedFolder);

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(interruptSeen, 1);
    EXPECT_EQ(strayFileSeen, 0) << "an interrupt arrived while a temporary file existed";
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}
