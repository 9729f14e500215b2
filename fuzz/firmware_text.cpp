// The firmware loader on any text: every record is checked before a byte of
// the image is touched, and a load that succeeds leaves an image whose
// checksum bytes hold the sum of the rest.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "core/flash/firmwarefile.h"
#include "require.h"

using namespace qm730;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    static auto image = std::make_unique<FlashImage>();
    const FirmwareLoad load = parseFirmwareText(text, *image);
    if (load.ok()) {
        FUZZ_REQUIRE(load.bytesLoaded > 0 && load.bytesLoaded == image->BytesLoaded, "a load without data succeeded");
        FUZZ_REQUIRE(image->storedChecksum() == image->computeChecksum(), "the stored checksum is not the image's");
        FUZZ_REQUIRE(load.checksum == image->storedChecksum(), "the reported checksum is not the stored one");
    } else if (load.status == FirmwareLoadStatus::BadRecord) {
        FUZZ_REQUIRE(load.line >= 1 && !load.problem.empty(), "a bad record without its line or problem");
        FUZZ_REQUIRE(static_cast<std::size_t>(load.line) <= size, "a bad record past the end of the text");
    } else {
        FUZZ_REQUIRE(load.status == FirmwareLoadStatus::NoData, "text can only be bad or hold no data");
    }
    // What the operator is told is built for every outcome.
    FUZZ_REQUIRE(!load.reason().empty() && !load.notice().text.empty(), "an outcome without words");
    return 0;
}
