// Opening a table file of any length: the input is the file, then the same
// file made longer by a hole. A file gives its first 40,959 bytes and leaves
// the rest of the image as it was; its size is reported as it is.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/config/configfile.h"
#include "require.h"

using namespace qm730;

namespace {

// One file in memory for every run, named through /proc so that the loader
// opens it by name as it opens any file.
int file() {
    static const int fd = [] {
        const int made = ::memfd_create("table", MFD_CLOEXEC);
        if (made < 0) std::abort();
        return made;
    }();
    return fd;
}

void loadAndCheck(const std::uint8_t* data, std::size_t size, std::size_t fileSize) {
    static const std::string path = "/proc/self/fd/" + std::to_string(file());
    static const ConfigImage before = defaultImage();
    auto image = std::make_unique<ConfigImage>(before);
    const FileResult load = loadTableFile(path, *image);
    FUZZ_REQUIRE(load.ok(), "a regular file could not be opened");
    FUZZ_REQUIRE(load.fileSize == fileSize, "the size reported is not the file's");
    const std::size_t expected = std::min(fileSize, kImageSize);
    FUZZ_REQUIRE(load.bytes == expected, "not as many bytes as the file gives were taken");
    const std::size_t fromData = std::min(size, expected);
    FUZZ_REQUIRE(std::equal(data, data + fromData, image->data()), "the image does not hold the file's bytes");
    FUZZ_REQUIRE(std::all_of(image->data() + fromData, image->data() + expected, [](std::uint8_t b) { return b == 0; }),
                 "the file's hole did not read as zeros");
    FUZZ_REQUIRE(std::equal(image->data() + expected, image->data() + kImageSize, before.data() + expected),
                 "bytes past the file's end were changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(file(), 0) != 0) std::abort();
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(file(), data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
    loadAndCheck(data, size, size);

    // The same file grown by a hole of up to a megabyte, at most a little
    // past the image or far beyond it.
    std::size_t sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum = sum * 31 + data[i];
    const std::size_t longer = size + 1 + sum % (1u << 20);
    if (::ftruncate(file(), static_cast<off_t>(longer)) != 0) std::abort();
    loadAndCheck(data, size, longer);
    return 0;
}
