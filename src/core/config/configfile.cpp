// The table file: the image's bytes, read and saved whole.
#include "core/config/configfile.h"

#include <algorithm>
#include <vector>

#include "core/config/filecalls.h"

namespace qm730 {

using namespace filecalls;

FileResult loadTableFile(const std::string& path, ConfigImage& image) {
    OpenFile file;
    Info info;
    if (FileResult opened = openRegularFile(path, file, info); !opened.ok()) return opened;

    // Read into a buffer first so a read error leaves the image untouched.
    // One byte more than an image tells a longer file from a whole one.
    std::vector<std::uint8_t> buffer(kImageSize + 1);
    std::size_t got = 0;
    if (const Error error = readAll(*file, buffer.data(), buffer.size(), got))
        return failure(FileStatus::ReadFailed, error);

    // The size is what the file holds: a read that ended early is exact, and
    // a file whose recorded size is short of what it gave (a file made up by
    // the system, such as those under /proc) is read to its end.
    std::uintmax_t size = got;
    if (got > kImageSize) {
        if (info.size >= got) {
            size = info.size;
        } else {
            std::uint64_t rest = 0;
            if (const Error error = countRest(*file, rest)) return failure(FileStatus::ReadFailed, error);
            size += rest;
        }
    }

    FileResult result;
    result.bytes = std::min<std::size_t>(got, kImageSize);
    result.fileSize = size;
    std::copy_n(buffer.begin(), result.bytes, image.bytes().begin());
    return result;
}

FileResult saveTableFile(const std::string& path, const ConfigImage& image) { return saveFileContents(path, image.bytes()); }

}  // namespace qm730
