// Saving a whole file so that a failed save never destroys the previous
// one. Written once over the file calls of filecalls.h; on Windows, names
// are UTF-8 and the system's error numbers are GetLastError() values.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/config/fileresult.h"

namespace qm730 {

// The bytes a whole-file save writes.
using FileContents = std::span<const std::uint8_t>;

// Writes the contents; the file holds exactly them afterwards, or is left
// as it was.
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
FileResult saveFileContents(const std::string& path, FileContents contents);

// Tells, without writing anything, whether saveFileContents can write the
// path: the same refusals, and a new file's folder must be writable. For
// callers that should find out before long work that its result cannot be
// kept.
FileResult checkSaveTarget(const std::string& path);

}  // namespace qm730
