// The file calls that every load, save and lock of a whole file is made of,
// one file per platform: filecalls_posix.cpp (POSIX, with Linux's
// renameat2 and fallocate) and filecalls_w32.cpp (Win32 on wide \\?\ names,
// so neither the 260-character limit nor the console's code page limits a
// name). Each call does one thing and returns the system's error number
// (errno, or GetLastError() on Windows), 0 when it succeeded. What the calls
// are put together into, and what is refused, is written once above them:
// filesave.cpp, configfile.cpp, tablefilelock.cpp and the firmware read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "core/config/fileresult.h"

namespace qm730::filecalls {

using Error = int;

// A name in the system's own form (Windows: the \\?\ form).
using Name = std::filesystem::path;

// An open file, as each platform holds it; closed when its holder goes.
struct File;
struct CloseFile {
    void operator()(File* file) const;
};
using OpenFile = std::unique_ptr<File, CloseFile>;

enum class Kind { Missing, Regular, Directory, Link, Other };

// What a name or an open file is.
struct Info {
    Kind kind = Kind::Missing;
    std::uint64_t size = 0;  // POSIX: a link's own length
    unsigned links = 1;      // the names the file has
    bool readOnly = false;   // no one may write it, the superuser included
    // What a file that replaces this one takes over: the POSIX mode, owner
    // and group; on Windows the attributes are in mode.
    std::uint32_t mode = 0, owner = 0, group = 0;
};

// --- Names and error numbers

// The path in the system's form; false for a device's name (Windows:
// "NUL", "COM1", \\.\pipe\...), which is no file.
bool systemName(const std::string& path, Name& name);
// The folder a name lies in ("." for a bare name).
Name folderOf(const Name& name);
// The file's full name, as the program shows and remembers it.
std::string fullName(const std::string& path);
// The system's words for an error number, as one line without a full stop.
std::string errorText(Error error);
bool isMissing(Error error);       // no file of that name
bool isAlreadyThere(Error error);  // a file of that name exists already
Error accessDenied();
// The error number of a folder where a file was expected; 0 where the system
// has none (Windows), and the words "Is a directory" stand alone.
Error folderError();

// --- Looking at names and files

// What the name itself is; a symbolic link is not followed.
Error lookAt(const Name& name, Info& info);
// What the name leads to, following symbolic links as opening it would.
Error lookThrough(const Name& name, Info& info);
// Follows the symbolic links at the end of the name, one by one, as the
// system follows them for this user, to the file they lead to: the name and
// its info change to that file's, and the kind is Missing where the links
// lead nowhere.
Error followLinks(Name& name, Info& info);
Error infoOf(File& file, Info& info);
// Whether this user may write the existing regular file. Windows opens it to
// find out, and only then knows what it is: a file that is not on a disk
// comes back as Kind::Other, and the number of names is filled in.
Error mayWrite(const Name& name, Info& info);
// Whether a new file may be created in the folder.
Error mayCreateIn(const Name& folder);

// --- Opening and closing

// A file opened for reading never waits (a FIFO) and never becomes the
// controlling terminal (a device).
Error openToRead(const Name& name, OpenFile& file);
// For reading and writing; where reading is not allowed, for writing only
// and `readable` is false.
Error openToRewrite(const Name& name, OpenFile& file, bool& readable);
// For nothing but its lock: for reading, or writing where reading is not allowed.
Error openToLock(const Name& name, OpenFile& file);
// Who may use a new file: everyone the folder's defaults allow, or (for a
// file that takes over another's permissions) its owner until then.
enum class Access { Everyone, OwnerOnly };
// Creates a new, empty file; fails when the name exists (isAlreadyThere).
Error createNew(const Name& name, Access access, OpenFile& file);
// Closes now and reports the result: the last place a write can fail.
Error close(OpenFile& file);

// --- Reading and writing

// Reads what comes next, up to size bytes; got is 0 at the end of the file.
Error readSome(File& file, std::uint8_t* buffer, std::size_t size, std::size_t& got);
// Writes part of the data at the offset; a write that makes no progress is
// reported as a full disk, never as success.
Error writeSomeAt(File& file, std::uint64_t offset, const std::uint8_t* data, std::size_t size, std::size_t& put);
// Reserves room for a file of that size, where the file system can.
Error reserve(File& file, std::uint64_t size);
Error setLength(File& file, std::uint64_t size);
// Puts what was written on the disk.
Error flush(File& file);

// --- Names in a folder

// Makes the new file take over the old one's owner and permissions before
// it replaces it; ownerKept is false (and nothing is reported) where the
// owner cannot be kept, so the old file must be written in place instead.
Error takeOver(File& replacement, const Info& old, bool& ownerKept);
// Gives the new file the name, which nothing may have yet.
Error moveNew(const Name& from, const Name& to);
// Puts the new file in the old one's place in one step; the old one, its
// info given, keeps its name if this fails.
Error replace(const Name& from, const Name& to, const Info& old);
void removeFile(const Name& name);
// Makes a change of names in the folder durable; a failure does not undo it.
void flushFolder(const Name& folder);

// --- Locks, taken by one program at a time on a whole file

enum class LockTry { Locked, Busy, Unsupported };
LockTry tryLock(File& file);
void unlock(File& file);
// The name still leads to the open file.
bool sameFile(const Name& name, File& file);

// --- Interrupts

// Interrupts that would end the program (POSIX: SIGINT, SIGTERM, SIGHUP and
// SIGQUIT in this thread; Windows: console interrupts) wait while one of
// these lives, so that whatever their handler does finds the old file or
// the whole new one and no temporary file.
class InterruptsHeld {
public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

private:
    struct Held;
    std::unique_ptr<Held> held_;
};

// --- Built on the calls above, once (filecalls.cpp)

// A short name of six random letters in the folder, so that a target name
// of any legal length leaves room for it; hidden on POSIX (".qm730-...").
Name temporaryNameIn(const Name& folder);
// Reads until the buffer is full or the file ends.
Error readAll(File& file, std::uint8_t* buffer, std::size_t size, std::size_t& got);
// Reads what is left of the file and counts it.
Error countRest(File& file, std::uint64_t& count);
// Writes everything at the offset or fails.
Error writeAllAt(File& file, std::uint64_t offset, const std::uint8_t* data, std::size_t size);

// The results of failed calls and of refusals, in the system's words.
FileResult failure(FileStatus status, Error error);
FileResult refusal(FileStatus status, const char* reason);
// The refusal of a name that is no regular file: "Is a directory" for a
// folder, "not a regular file" for anything else.
FileResult notRegular(const Info& info);
// Opens the regular file the path names for reading. What the name is, is
// checked before it is opened (opening a FIFO waits for a writer, opening a
// device can act on it) and again on the open file.
FileResult openRegularFile(const std::string& path, OpenFile& file, Info& info);

inline constexpr const char* kNotRegular = "not a regular file";

}  // namespace qm730::filecalls
