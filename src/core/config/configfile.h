// The table file: the configuration image stored raw, exactly 40,959 bytes,
// no header. No extension is added or checked.
#pragma once

#include <string>

#include "core/config/fileresult.h"
#include "core/config/filesave.h"
#include "core/config/image.h"

namespace qm730 {

// Reads up to 40,959 bytes from the start of the file into the image. A
// shorter file replaces only as many bytes as it holds; a longer one gives
// only its first 40,959. Only a regular file is read: a FIFO, device or
// folder is refused at once ("not a regular file", "Is a directory"). On any
// failure the image is left untouched.
FileResult loadTableFile(const std::string& path, ConfigImage& image);

// Writes the whole image as saveFileContents writes any contents: the file
// holds exactly the image afterwards, or is left as it was.
FileResult saveTableFile(const std::string& path, const ConfigImage& image);

}  // namespace qm730
