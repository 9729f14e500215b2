#include "sim/sim_options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/config/configfile.h"
#include "sim/loader_wire.h"

namespace qm730::sim {

namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// What a file that is not a regular file is, in an operator's words.
std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder";
    if (S_ISFIFO(mode)) return "is a pipe, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a file";
    if (S_ISSOCK(mode)) return "is a socket, not a file";
    return "is not a regular file";
}

}  // namespace

std::optional<std::size_t> parseCount(std::string_view text, std::size_t max) {
    if (text.empty()) return std::nullopt;
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const std::size_t digit = static_cast<std::size_t>(c - '0');
        if (digit > max || value > (max - digit) / 10) return std::nullopt;  // beyond max, overflow included
        value = value * 10 + digit;
    }
    return value;
}

std::optional<SpoiltByte> parseSpoiltByte(std::string_view text) {
    const std::size_t colon = text.find(':');
    const auto block = parseCount(text.substr(0, colon), loader::kBlocks - 1);
    if (!block) return std::nullopt;
    SpoiltByte spoilt{static_cast<int>(*block), 0};
    if (colon == std::string_view::npos) return spoilt;
    const std::string_view byte = text.substr(colon + 1);
    if (byte == "last") {
        spoilt.byte = loader::kBlockBytes - 1;
    } else if (byte != "first") {
        const auto position = parseCount(byte, loader::kBlockBytes - 1);
        if (!position) return std::nullopt;
        spoilt.byte = *position;
    }
    return spoilt;
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

std::optional<std::string> saveTargetProblem(const std::string& path) {
    const std::string complaint = "cannot save to " + quoted(path) + ": ";
    if (path.empty()) return complaint + "no file name";
    std::string target = path;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) return complaint + "it " + kindOf(info.st_mode);
        // A symbolic link is followed by the save: the file it names is replaced.
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved)) target = resolved;
    } else if (errno != ENOENT) {
        return complaint + std::strerror(errno);
    }
    const std::string folder = folderOf(target);
    if (::stat(folder.c_str(), &info) != 0)
        return complaint + "folder " + quoted(folder) + ": " + std::strerror(errno);
    if (!S_ISDIR(info.st_mode)) return complaint + quoted(folder) + " is not a folder";
    // The save writes a new file beside the target and renames it over.
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return complaint + "cannot write in folder " + quoted(folder) + ": " + std::strerror(errno);
    return std::nullopt;
}

}  // namespace qm730::sim
