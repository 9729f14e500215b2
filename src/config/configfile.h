// The table file: the configuration image stored raw, exactly 40,959 bytes,
// no header. No extension is added or checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/image.h"

namespace qm730 {

enum class FileStatus {
    Ok,
    CannotOpen,   // the file could not be opened (missing, no permission, ...)
    ReadFailed,   // opened, but reading failed; the image is left as it was
    CannotCreate, // the temporary file beside the target could not be made
    WriteFailed,  // a write, flush or close failed or was short
    CannotReplace // the finished file could not be renamed over the target
};

struct FileResult {
    FileStatus status = FileStatus::Ok;
    int errorNumber = 0;       // errno of the failing call, 0 on success
    std::string reason;        // strerror text of errorNumber, for messages
    std::size_t bytes = 0;     // bytes read into / written from the image
    std::uintmax_t fileSize = 0;  // size of the file read (load only)

    bool ok() const { return status == FileStatus::Ok; }
};

// Reads up to 40,959 bytes from the start of the file into the image. A
// shorter file replaces only as many bytes as it holds; a longer one gives
// only its first 40,959. On any failure the image is left untouched.
FileResult loadTableFile(const std::string& path, ConfigImage& image);

// Writes the whole image so that a failed save never destroys the previous
// file: a temporary file in the same folder is written, checked, flushed to
// disk and renamed over the target. A replaced file keeps its permission
// bits; a symbolic link is followed and the file it names is replaced. On
// failure the temporary file is removed and the target is as it was.
FileResult saveTableFile(const std::string& path, const ConfigImage& image);

}  // namespace qm730
