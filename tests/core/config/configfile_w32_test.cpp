// Table files on Windows: what a save keeps (the old file when anything
// fails, its attributes, its other names), what it refuses (devices,
// folders, read-only files, a file another program holds), and names beyond
// the old 260-character limit or outside the console's code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/config/configfile.h"
#include "core/config/win32_text.h"
#include "file_bytes.h"
#include "images.h"
#include "tempdir.h"

using namespace qm730;
namespace fs = std::filesystem;

namespace {

bool holdsImage(const fs::path& path, const ConfigImage& image) {
    const std::vector<std::uint8_t> bytes = fileBytes(path);
    return bytes.size() == kImageSize && std::equal(bytes.begin(), bytes.end(), image.bytes().begin());
}

// Counted with the system's own calls, which take \\?\ names too.
std::size_t entriesIn(const fs::path& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((folder.native() + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    std::size_t count = 0;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") ++count;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return count;
}

std::string utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

}  // namespace

TEST(TableFileW32, SaveLoadAndReplaceLeaveExactlyTheImageAndNoOtherFile) {
    TempDir dir;
    const ConfigImage image = patternedImage();
    const fs::path file = dir.path() / "site.tbl";
    ASSERT_TRUE(saveTableFile(file.string(), image).ok());
    EXPECT_TRUE(holdsImage(file, image));

    writeBytes(file, kImageSize + 500, 0x11);  // a longer file is cut to the image
    const FileResult replaced = saveTableFile(file.string(), image);
    ASSERT_TRUE(replaced.ok()) << replaced.reason;
    EXPECT_EQ(replaced.bytes, kImageSize);
    EXPECT_TRUE(holdsImage(file, image));
    EXPECT_EQ(entriesIn(dir.path()), 1u) << "no temporary or backup file is left";

    ConfigImage loaded;
    const FileResult result = loadTableFile(file.string(), loaded);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_EQ(result.fileSize, kImageSize);
    EXPECT_EQ(loaded.bytes(), image.bytes());

    writeBytes(file, kImageSize + 3, 0x22);
    ConfigImage longer = image;
    const FileResult longRead = loadTableFile(file.string(), longer);
    EXPECT_EQ(longRead.bytes, kImageSize);
    EXPECT_EQ(longRead.fileSize, kImageSize + 3);
    EXPECT_EQ(longer[0], 0x22);
}

TEST(TableFileW32, ReplacedFileKeepsItsAttributesAndAFileWithTwoNamesKeepsBoth) {
    TempDir dir;
    const ConfigImage image = patternedImage();
    const fs::path hidden = dir.path() / "hidden.tbl";
    writeBytes(hidden, 10, 0x33);
    ASSERT_TRUE(::SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(saveTableFile(hidden.string(), image).ok());
    EXPECT_TRUE(holdsImage(hidden, image));
    EXPECT_TRUE(::GetFileAttributesW(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN);

    const fs::path first = dir.path() / "first.tbl";
    const fs::path second = dir.path() / "second.tbl";
    writeBytes(first, kImageSize, 0x44);
    if (!::CreateHardLinkW(second.c_str(), first.c_str(), nullptr)) GTEST_SKIP() << "no hard links here";
    ASSERT_TRUE(saveTableFile(first.string(), image).ok());
    EXPECT_TRUE(holdsImage(first, image));
    EXPECT_TRUE(holdsImage(second, image)) << "the other name sees the new bytes";

    // Contents of other sizes (firmware backups) grow and cut the file
    // whether it is replaced or written in place.
    for (const std::size_t size : {std::size_t{5}, std::size_t{300000}}) {
        SCOPED_TRACE(size);
        std::vector<std::uint8_t> contents(size);
        for (std::size_t i = 0; i < size; ++i) contents[i] = static_cast<std::uint8_t>(i * 13 + i / 256);
        for (const fs::path& path : {hidden, first}) {
            const FileResult save = saveFileContents(path.string(), contents);
            ASSERT_TRUE(save.ok()) << save.reason;
            EXPECT_EQ(save.bytes, size);
            EXPECT_EQ(fileBytes(path), contents);
        }
        EXPECT_EQ(fileBytes(second), contents) << "written in place";
    }
}

// A file with two names is written in place; where it cannot be cut to the
// new length (another program has it mapped), all its old bytes go back.
TEST(TableFileW32, FileWrittenInPlaceThatCannotBeCutGetsItsOldBytesBack) {
    TempDir dir;
    const fs::path first = dir.path() / "first.tbl", second = dir.path() / "second.tbl";
    writeBytes(first, 60000, 0x11);
    if (!::CreateHardLinkW(second.c_str(), first.c_str(), nullptr)) GTEST_SKIP() << "no hard links here";
    const win32::Handle file(::CreateFileW(second.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    const win32::Handle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    const void* view = ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(saveFileContents(first.string(), std::vector<std::uint8_t>(5, 0xAB)).status, FileStatus::WriteFailed);
    ::UnmapViewOfFile(view);
    EXPECT_EQ(fileBytes(first), std::vector<std::uint8_t>(60000, 0x11));
}

TEST(TableFileW32, DevicesFoldersAndReadOnlyFilesAreRefusedAndLeftAsTheyWere) {
    TempDir dir;
    const ConfigImage image = patternedImage();
    for (const std::string& device : {std::string("NUL"), std::string("CON"), std::string("COM1"),
                                      (dir.path() / "AUX").string(), std::string("\\\\.\\pipe\\qm730-test")}) {
        const FileResult saved = saveTableFile(device, image);
        EXPECT_EQ(saved.status, FileStatus::NotRegular) << device;
        EXPECT_EQ(saved.reason, "not a regular file") << device;
        ConfigImage untouched = image;
        const FileResult loaded = loadTableFile(device, untouched);
        EXPECT_EQ(loaded.status, FileStatus::NotRegular) << device;
        EXPECT_EQ(untouched.bytes(), image.bytes());
    }
    EXPECT_EQ(entriesIn(dir.path()), 0u);

    const FileResult folder = saveTableFile(dir.path().string(), image);
    EXPECT_EQ(folder.status, FileStatus::NotRegular);
    EXPECT_EQ(folder.reason, "Is a directory");
    ConfigImage untouched = image;
    EXPECT_EQ(loadTableFile(dir.path().string(), untouched).status, FileStatus::NotRegular);

    const fs::path readOnly = dir.path() / "locked.tbl";
    writeBytes(readOnly, 100, 0x55);
    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(saveTableFile(readOnly.string(), image).status, FileStatus::CannotCreate);
    EXPECT_EQ(checkSaveTarget(readOnly.string()).status, FileStatus::CannotCreate);
    EXPECT_EQ(fileBytes(readOnly), std::vector<std::uint8_t>(100, 0x55));
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);

    const FileResult missingFolder = saveTableFile((dir.path() / "no-such-folder" / "x.tbl").string(), image);
    EXPECT_EQ(missingFolder.status, FileStatus::CannotCreate);
    EXPECT_FALSE(missingFolder.reason.empty());
    EXPECT_EQ(checkSaveTarget((dir.path() / "no-such-folder" / "x.tbl").string()).status, FileStatus::CannotCreate);
    EXPECT_TRUE(checkSaveTarget((dir.path() / "new.tbl").string()).ok());
    EXPECT_EQ(entriesIn(dir.path()), 1u) << "the check leaves nothing behind";
}

TEST(TableFileW32, FileThatAnotherProgramHoldsIsRefusedAndKeepsItsBytes) {
    TempDir dir;
    const fs::path file = dir.path() / "open.tbl";
    writeBytes(file, kImageSize, 0x66);
    // Opened the way editors often do: reading, sharing reads only.
    const HANDLE held = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const FileResult saved = saveTableFile(file.string(), patternedImage());
    ::CloseHandle(held);
    EXPECT_FALSE(saved.ok());
    EXPECT_EQ(saved.errorNumber, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(fileBytes(file), std::vector<std::uint8_t>(kImageSize, 0x66)) << "the previous file is kept whole";
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(TableFileW32, NamesBeyondTheOldPathLimitAndOutsideTheCodePageWork) {
    TempDir dir;
    const ConfigImage image = patternedImage();
    // A folder deep enough that the file's full name passes 260 characters.
    fs::path deep = dir.path();
    while (deep.native().size() < 250) deep /= std::wstring(40, L'd');
    // The test's own file calls need the \\?\ form for such names.
    const fs::path deepForTest = L"\\\\?\\" + deep.native();
    ASSERT_TRUE(fs::create_directories(deepForTest));
    const fs::path longName = deep / (std::wstring(60, L'n') + L".tbl");
    ASSERT_GT(longName.native().size(), 260u);
    const FileResult saved = saveTableFile(longName.string(), image);
    ASSERT_TRUE(saved.ok()) << saved.reason;
    ConfigImage loaded;
    ASSERT_TRUE(loadTableFile(longName.string(), loaded).ok());
    EXPECT_EQ(loaded.bytes(), image.bytes());
    // ...and again, now replacing the file.
    ASSERT_TRUE(saveTableFile(longName.string(), defaultImage()).ok());
    EXPECT_EQ(entriesIn(deepForTest), 1u);

    // Names reach the core as UTF-8.
    const fs::path unicode = dir.path() / L"Sender \u00c4\u20ac\u4e2d.tbl";
    ASSERT_TRUE(saveTableFile(utf8(unicode), image).ok());
    EXPECT_TRUE(holdsImage(unicode, image)) << "the file has its UTF-16 name on disk";
    ConfigImage back;
    EXPECT_TRUE(loadTableFile(utf8(unicode), back).ok());
    EXPECT_EQ(back.bytes(), image.bytes());
}
