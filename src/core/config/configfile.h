// The table file: the configuration image stored raw, exactly 40,959 bytes,
// no header. No extension is added or checked.
//
// The file system work lives in one file per platform behind this same
// interface: configfile_posix.cpp and configfile_w32.cpp. On Windows, names
// are UTF-8 and the system's error numbers are GetLastError() values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/config/image.h"

namespace qm730 {

enum class FileStatus {
    Ok,
    CannotOpen,    // the file could not be opened (missing, no permission, ...)
    ReadFailed,    // opened, but reading failed; the image is left as it was
    NotRegular,    // the name is a folder, device, FIFO or socket: refused untouched
    CannotCreate,  // the file cannot be written: no such folder, no permission,
                   // a read-only file, a link that leads nowhere
    WriteFailed,   // a write, flush or close failed or was short
    CannotReplace, // the finished file could not be renamed over the target
    InUse          // another program kept the file locked for longer than the wait
};

struct FileResult {
    FileStatus status = FileStatus::Ok;
    int errorNumber = 0;       // errno (Windows: GetLastError()) of the failing call; 0 on success or a refusal
    std::string reason;        // why, for messages: the system's text or the refusal
    std::size_t bytes = 0;     // bytes read into / written from the image
    std::uintmax_t fileSize = 0;  // size of the file read (load only)

    bool ok() const { return status == FileStatus::Ok; }
};

// Reads up to 40,959 bytes from the start of the file into the image. A
// shorter file replaces only as many bytes as it holds; a longer one gives
// only its first 40,959. Only a regular file is read: a FIFO, device or
// folder is refused at once ("not a regular file", "Is a directory"). On any
// failure the image is left untouched.
FileResult loadTableFile(const std::string& path, ConfigImage& image);

// Writes the whole image; the file holds exactly the image afterwards.
//
// An existing symbolic link is followed and the file it names is written; a
// link that leads nowhere or in a loop is refused, and so is a link that the
// system would not follow for this user: one in a folder that everyone may
// write and only owners may delete from (/tmp), owned neither by the user
// nor by the folder's owner ("Permission denied"). A name that is not a
// regular file is refused ("not a regular file"), and so is a read-only file,
// even for the superuser.
//
// Where it can, the save writes a temporary file beside the target, flushes
// it to disk and renames it over the target with the old file's permissions,
// owner and group, so a failed save (a full disk) leaves the old file as it
// was. Where it cannot (the folder is not writable, the file has several
// names, or its owner cannot be kept) the file is written in place: room is
// reserved first, and the old bytes are put back if the write fails.
//
// A new file that another program creates while the save runs is not
// overwritten blindly: the save starts again and replaces it as an existing
// file, keeping its permissions, owner and group.
//
// Interrupt and termination signals are held back until the save is over,
// so no temporary file is left behind.
FileResult saveTableFile(const std::string& path, const ConfigImage& image);

// The bytes a whole-file save writes.
using FileContents = std::span<const std::uint8_t>;

// Saves any contents as saveTableFile saves the image, with the same
// refusals and the same care: the file holds exactly the contents afterwards,
// or is left as it was.
FileResult saveFileContents(const std::string& path, FileContents contents);

// Tells, without writing anything, whether saveTableFile can write the path:
// the same refusals, and a new file's folder must be writable. For callers
// that should find out before long work that its result cannot be kept.
FileResult checkSaveTarget(const std::string& path);

}  // namespace qm730
