#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
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
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "core/config/configfile.h"
#include "savefaults.h"
#include "file_bytes.h"
#include "images.h"
#include "tempdir.h"

using namespace qm730;
namespace fs = std::filesystem;

namespace {

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

// Runs the check in a child process, so that what it changes of the
// process (its user, its mounts) ends with it. Returns what the check found
// wrong, empty when nothing.
std::string inChild(const std::function<std::string()>& check) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const std::string found = check();
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

// Runs the check as the user nobody, for whom permissions hold (the
// superuser writes any folder); an ordinary user runs it directly.
std::string asOrdinaryUser(const std::function<std::string()>& check) {
    if (::geteuid() != 0) return check();
    const struct passwd* nobody = ::getpwnam("nobody");
    if (!nobody) return "no user nobody";
    return inChild([&]() -> std::string {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
            return "cannot become nobody";
        return check();
    });
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

// Where everyone may write and only owners may delete (/tmp), the system
// follows a link only for its owner or when the folder's owner owns it:
// another user's link there must not send a save to a file of their choice.
TEST(TableFile, LinkInAFolderOfEveryoneIsFollowedOnlyAsTheSystemWouldFollowIt) {
    const struct passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody) GTEST_SKIP() << "only the superuser can give a link to another user";
    struct Case { mode_t folderMode; uid_t folderOwner, linkOwner; const char* reason; };
    const Case cases[] = {
        {01777, 0, nobody->pw_uid, "Permission denied"},  // another user's link in a folder of everyone
        {01777, 0, 0, ""},                                // the saver's own link there
        {01777, nobody->pw_uid, nobody->pw_uid, ""},      // a link of the folder's owner
        {00777, 0, nobody->pw_uid, ""},                   // a folder that is not sticky
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string folder = dir.file("shared"), target = dir.file("target.tbl"), link = folder + "/link.tbl";
        fs::create_directory(folder);
        writeBytes(target, 100, 0x77);
        fs::create_symlink(target, link);
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode) | ::chown(folder.c_str(), c.folderOwner, 0) |
                      ::lchown(link.c_str(), c.linkOwner, 0), 0);
        EXPECT_EQ(saveTableFile(link, patternedImage()).reason, c.reason) << std::oct << c.folderMode;
        EXPECT_EQ(checkSaveTarget(link).reason, c.reason);
        EXPECT_EQ(holdsImage(target, patternedImage()), *c.reason == '\0');
    }
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

namespace {

enum class Layout {
    NewFile,       // nothing of the name yet
    Replaced,      // a table file with one name: replaced in one step
    InPlaceShort,  // 500 bytes with a second name: written in place
    InPlaceLong,   // 60,000 bytes with a second name: written in place, then cut
};
enum class Left { Old, New, Nothing };  // what the target holds afterwards

// One failing step of a save. Without a call, a file size limit of 1,000
// bytes stops the write part-way, as a full disk does.
struct SaveFault {
    const char* name;
    Layout layout;
    std::optional<savefault::Call> call;
    int error;
    FileStatus status;
    const char* reason;
    Left left;
};

// Makes the layout's old file; returns its bytes and the entries the folder holds.
std::vector<std::uint8_t> makeOldFile(const TempDir& dir, const std::string& path, Layout layout) {
    switch (layout) {
        case Layout::NewFile: return {};
        case Layout::Replaced: EXPECT_TRUE(saveTableFile(path, defaultImage()).ok()); break;
        case Layout::InPlaceShort: writeBytes(path, 500, 0x44); break;
        case Layout::InPlaceLong: writeBytes(path, 60000, 0x11); break;
    }
    if (layout == Layout::InPlaceShort || layout == Layout::InPlaceLong)
        fs::create_hard_link(path, dir.file("other-name.tbl"));
    return fileBytes(path);
}

FileResult saveUnderSizeLimit(const std::string& path, const ConfigImage& image) {
    struct rlimit saved {};
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const FileResult result = saveTableFile(path, image);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    return result;
}

}  // namespace

// Whatever step fails, the old file stays as it was (or, where the failure
// comes once the new one is whole on the disk, the new one), and no
// temporary file is left.
TEST(TableFile, EveryFailingStepOfASaveKeepsThePreviousFile) {
    using savefault::Call;
    const SaveFault faults[] = {
        {"no temporary file: written in place", Layout::Replaced, Call::Create, ENOSPC, FileStatus::Ok, "", Left::New},
        {"permissions refused", Layout::Replaced, Call::Chmod, EPERM, FileStatus::CannotCreate,
         "Operation not permitted", Left::Old},
        {"disk full", Layout::Replaced, Call::Write, ENOSPC, FileStatus::WriteFailed, "No space left on device", Left::Old},
        {"write stops part-way", Layout::Replaced, std::nullopt, 0, FileStatus::WriteFailed, "File too large", Left::Old},
        {"flush fails", Layout::Replaced, Call::Sync, EIO, FileStatus::WriteFailed, "Input/output error", Left::Old},
        {"close fails", Layout::Replaced, Call::Close, EIO, FileStatus::WriteFailed, "Input/output error", Left::Old},
        {"rename fails", Layout::Replaced, Call::Rename, EBUSY, FileStatus::CannotReplace,
         "Device or resource busy", Left::Old},
        {"new: cannot create", Layout::NewFile, Call::Create, ENOSPC, FileStatus::CannotCreate,
         "No space left on device", Left::Nothing},
        {"new: disk full", Layout::NewFile, Call::Write, ENOSPC, FileStatus::WriteFailed, "No space left on device",
         Left::Nothing},
        {"new: flush fails", Layout::NewFile, Call::Sync, EIO, FileStatus::WriteFailed, "Input/output error", Left::Nothing},
        {"new: close fails", Layout::NewFile, Call::Close, EIO, FileStatus::WriteFailed, "Input/output error",
         Left::Nothing},
        {"new: rename fails", Layout::NewFile, Call::Rename, EIO, FileStatus::CannotReplace, "Input/output error",
         Left::Nothing},
        {"new: another program made the file meanwhile", Layout::NewFile, Call::Rename, EEXIST, FileStatus::Ok, "",
         Left::New},
        {"in place: open fails", Layout::InPlaceShort, Call::Open, EIO, FileStatus::CannotCreate, "Input/output error",
         Left::Old},
        {"in place: no room", Layout::InPlaceShort, Call::Reserve, ENOSPC, FileStatus::WriteFailed,
         "No space left on device", Left::Old},
        {"in place: disk full", Layout::InPlaceShort, Call::Write, ENOSPC, FileStatus::WriteFailed,
         "No space left on device", Left::Old},
        {"in place: write stops part-way", Layout::InPlaceShort, std::nullopt, 0, FileStatus::WriteFailed, "File too large",
         Left::Old},
        {"in place: flush fails", Layout::InPlaceShort, Call::Sync, EIO, FileStatus::WriteFailed, "Input/output error",
         Left::Old},
        {"in place: close fails after the flush", Layout::InPlaceShort, Call::Close, EIO, FileStatus::WriteFailed,
         "Input/output error", Left::New},
        {"in place, longer: disk full", Layout::InPlaceLong, Call::Write, ENOSPC, FileStatus::WriteFailed,
         "No space left on device", Left::Old},
        {"in place, longer: cutting fails", Layout::InPlaceLong, Call::Truncate, EIO, FileStatus::WriteFailed,
         "Input/output error", Left::Old},
        {"in place, longer: flush fails", Layout::InPlaceLong, Call::Sync, EIO, FileStatus::WriteFailed,
         "Input/output error", Left::Old},
    };
    for (const SaveFault& fault : faults) {
        SCOPED_TRACE(fault.name);
        TempDir dir;
        const std::string path = dir.file("site.tbl");
        const std::vector<std::uint8_t> old = makeOldFile(dir, path, fault.layout);
        const std::size_t entries = entriesIn(dir.path());

        FileResult result;
        if (fault.call) {
            savefault::failCall(*fault.call, 1, fault.error);
            result = saveTableFile(path, patternedImage());
            savefault::clear();
        } else {
            result = saveUnderSizeLimit(path, patternedImage());
        }
        EXPECT_EQ(result.status, fault.status);
        EXPECT_EQ(result.reason, fault.reason);
        switch (fault.left) {
            case Left::Old: EXPECT_EQ(fileBytes(path), old); break;
            case Left::New: EXPECT_TRUE(holdsImage(path, patternedImage())); break;
            case Left::Nothing: EXPECT_FALSE(fs::exists(path)); break;
        }
        EXPECT_EQ(entriesIn(dir.path()), entries + (fault.layout == Layout::NewFile && fault.left == Left::New))
            << "no temporary file may remain";
    }
}

// SIGKILL cannot be held back: a save killed at any moment leaves the old
// file or the new one whole, or no file where there was none. It may leave
// its temporary file behind, under a hidden name of its own; the next save
// is not disturbed by such a file and leaves none of its own.
TEST(TableFile, SaveKilledAtAnyMomentLeavesAWholeFile) {
    TempDir dir;
    const std::string path = dir.file("site.tbl");
    const ConfigImage first = defaultImage(), second = patternedImage();
    std::mt19937 random(730);
    int killedMidSave = 0;
    for (int round = 0; round < 40; ++round) {
        if (round % 5 == 0) fs::remove(path);
        const bool existed = fs::exists(path);
        const std::size_t before = entriesIn(dir.path());
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i) saveTableFile(path, i % 2 ? first : second);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        const bool whole = holdsImage(path, first) || holdsImage(path, second);
        ASSERT_TRUE(whole || (!existed && !fs::exists(path))) << "round " << round;
        killedMidSave += entriesIn(dir.path()) > before + (!existed && fs::exists(path));
    }
    std::size_t stale = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (name == "site.tbl") continue;
        EXPECT_EQ(name.rfind(".qm730-", 0), 0u) << name;
        ++stale;
    }
    ASSERT_TRUE(saveTableFile(path, second).ok());
    EXPECT_TRUE(holdsImage(path, second));
    EXPECT_EQ(entriesIn(dir.path()), stale + 1);
    std::printf("%d of 40 kills came while a temporary file existed\n", killedMidSave);
}

namespace {

// Mounts a file system of `size` over the folder, in a mount namespace of
// this (child) process's own: as the superuser, or else in a user namespace
// where the system grants one. Returns why it could not, or nothing.
std::string mountSmallDisk(const std::string& folder, const char* size) {
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return std::string("no mount namespace: ") + std::strerror(errno);
        const auto put = [](const char* file, const std::string& text) {
            std::ofstream(file) << text;
        };
        put("/proc/self/setgroups", "deny");
        put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("cannot make the mounts private: ") + std::strerror(errno);
    const std::string options = std::string("size=") + size;
    if (::mount("qm730-full", folder.c_str(), "tmpfs", 0, options.c_str()) != 0)
        return std::string("cannot mount a file system: ") + std::strerror(errno);
    return {};
}

}  // namespace

// A real disk that fills up: the write stops part-way, a write in place
// finds no room to reserve, a new file cannot be written. Where no file
// system can be mounted the test is skipped; the failing steps above are
// then the only check.
TEST(TableFile, SaveOntoAFullDiskFailsAndKeepsThePreviousFile) {
    TempDir dir;
    const std::string found = inChild([&]() -> std::string {
        if (const std::string why = mountSmallDisk(dir.path().string(), "128k"); !why.empty()) return "skip: " + why;
        std::ostringstream wrong;
        const std::string site = dir.file("site.tbl"), linked = dir.file("linked.tbl"), filler = dir.file("filler");
        if (!saveTableFile(site, defaultImage()).ok()) return "the first save failed";
        writeBytes(linked, 500, 0x44);
        fs::create_hard_link(linked, dir.file("other-name.tbl"));
        // Fill the disk, then free two pages: a write of a whole image starts and stops part-way.
        {
            std::ofstream out(filler, std::ios::binary);
            const std::string chunk(4096, 'f');
            while (out.write(chunk.data(), chunk.size())) {
            }
        }
        fs::resize_file(filler, fs::file_size(filler) - 8192);
        const std::vector<std::uint8_t> linkedBefore = fileBytes(linked);

        const FileResult replaced = saveTableFile(site, patternedImage());
        if (replaced.reason != "No space left on device") wrong << "replace gave '" << replaced.reason << "'; ";
        if (!holdsImage(site, defaultImage())) wrong << "the replaced file changed; ";
        const FileResult inPlace = saveTableFile(linked, patternedImage());
        if (inPlace.reason != "No space left on device") wrong << "in place gave '" << inPlace.reason << "'; ";
        if (fileBytes(linked) != linkedBefore) wrong << "the file written in place changed; ";
        const FileResult fresh = saveTableFile(dir.file("new.tbl"), patternedImage());
        if (fresh.status != FileStatus::WriteFailed) wrong << "a new file gave '" << fresh.reason << "'; ";
        if (entriesIn(dir.path()) != 4) wrong << "a file was left behind; ";

        fs::remove(filler);
        if (!saveTableFile(site, patternedImage()).ok() || !holdsImage(site, patternedImage()))
            wrong << "no save once there was room again; ";
        return wrong.str();
    });
    if (found.rfind("skip: ", 0) == 0) GTEST_SKIP() << found;
    EXPECT_EQ(found, "");
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
