#include "cli/tablefile.h"

#include "cli/command.h"
#include "core/config/configfile.h"

namespace qm730::cli {

std::optional<int> loadWholeTableFile(const std::string& path, ConfigImage& image) {
    ConfigImage loaded = image;
    const FileResult result = loadTableFile(path, loaded);
    if (!result.ok()) {
        printError("cannot read '" + path + "': " + result.reason);
        return kExitUsage;
    }
    if (result.fileSize != kImageSize) {
        printError("'" + path + "' is " + std::to_string(result.fileSize) + " bytes, not a table file of " +
                   std::to_string(kImageSize) + " bytes");
        return kExitUsage;
    }
    image = loaded;
    return std::nullopt;
}

std::optional<int> saveWholeTableFile(const std::string& path, const ConfigImage& image) {
    const FileResult saved = saveTableFile(path, image);
    if (saved.ok()) return std::nullopt;
    printError("cannot write '" + path + "': " + saved.reason);
    return kExitUsage;
}

std::optional<int> lockTableFile(const std::string& path, TableFileLock& lock) {
    const FileResult locked = lock.acquire(path);
    if (locked.ok()) return std::nullopt;
    printError("cannot write '" + path + "': " + locked.reason);
    return kExitUsage;
}

std::optional<int> checkTableFileTarget(const std::string& path) {
    const FileResult writable = checkSaveTarget(path);
    if (writable.ok()) return std::nullopt;
    printError("cannot write '" + path + "': " + writable.reason);
    return kExitUsage;
}

}  // namespace qm730::cli
