// What keeps a file from being loaded or saved, in the operator's words.
// The simulator checks its files at the start, so that a bad file is refused
// at once and not after the first transfer.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "core/config/image.h"

namespace qm730::sim {

// "'name'", as the messages name a file.
std::string quoted(const std::string& path);

// What a name that is not a regular file is: "is a folder", "is a pipe, not
// a file", ...
std::string kindOf(mode_t mode);

// Loads a table file that holds exactly one image. Returns what is wrong
// with it, or nothing when the image was loaded. Folders, pipes and devices
// are refused without being opened, so a pipe cannot stall the start.
std::optional<std::string> loadWholeImage(const std::string& path, ConfigImage& image);

// What would keep a file from being saved at path later: a folder or some
// other file that is not a regular file there, a file the core's save
// refuses, or a folder to save in that is missing or cannot be written.
// Nothing when the save can be tried.
std::optional<std::string> saveTargetProblem(const std::string& path);

}  // namespace qm730::sim
