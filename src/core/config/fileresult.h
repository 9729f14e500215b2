// What a load or save of a file ended with, for every file the program
// reads or writes whole: table files, firmware backups, CSV tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

}  // namespace qm730
