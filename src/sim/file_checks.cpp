#include "sim/file_checks.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/config/configfile.h"

namespace qm730::sim {

namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string quoted(const std::string& path) { return "'" + path + "'"; }

std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder";
    if (S_ISFIFO(mode)) return "is a pipe, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a file";
    if (S_ISSOCK(mode)) return "is a socket, not a file";
    return "is not a regular file";
}

std::optional<std::string> loadWholeImage(const std::string& path, ConfigImage& image) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return "cannot load " + quoted(path) + ": " + std::strerror(errno);
    if (!S_ISREG(info.st_mode)) return "cannot load " + quoted(path) + ": it " + kindOf(info.st_mode);
    ConfigImage loaded = image;
    const FileResult result = loadTableFile(path, loaded);
    if (!result.ok()) return "cannot load " + quoted(path) + ": " + result.reason;
    if (result.fileSize != kImageSize)
        return "cannot load " + quoted(path) + ": it is " + std::to_string(result.fileSize) +
               " bytes; a table file is exactly 40959 bytes";
    image = loaded;
    return std::nullopt;
}

// The core's save decides; the words name what stands in the way: what the
// name is, or for a new file its folder.
std::optional<std::string> saveTargetProblem(const std::string& path) {
    const std::string complaint = "cannot save to " + quoted(path) + ": ";
    if (path.empty()) return complaint + "no file name";
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return complaint + "it " + kindOf(info.st_mode);
    const FileResult check = checkSaveTarget(path);
    if (check.ok()) return std::nullopt;
    const bool isNew = ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
    if (!isNew) return complaint + check.reason;
    const std::string folder = folderOf(path);
    if (check.errorNumber == ENOENT)
        return complaint + "folder " + quoted(folder) + ": " + check.reason;
    return complaint + "cannot write in folder " + quoted(folder) + ": " + check.reason;
}

}  // namespace qm730::sim
