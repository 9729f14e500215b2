// A read of the configuration from whatever the line brings: the logon
// answer, then the download frame, each in pieces of any size. Only a frame
// that came whole with a matching checksum may change the image, and then
// it must hold exactly what the frame carried: the simulated board, written
// apart from the program's unpacking, builds the very same frame from it.
//
// Input: one byte for the piece size, one for the length of the logon
// answer, the answer, then everything the board sends after the request.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/link/transfer_protocol.h"
#include "require.h"
#include "scripted_board.h"
#include "sim/board_wire.h"

using namespace qm730;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t piece = data[0] % 64 == 0 ? 0 : data[0] % 64 * 37;
    const std::size_t answerLength = std::min<std::size_t>(data[1], size - 2);
    const std::vector<std::uint8_t> answer(data + 2, data + 2 + answerLength);
    const std::vector<std::uint8_t> frame(data + 2 + answerLength, data + size);
    fuzz::ScriptedBoard board({answer, frame}, piece);

    static const ConfigImage before = defaultImage();
    auto image = std::make_unique<ConfigImage>(before);
    auto transfer = std::make_unique<ConfigTransfer>(*image, board.line, board.host);
    const bool read = transfer->ReceiveConfiguration();

    if (!read) {
        FUZZ_REQUIRE(transfer->failure() != TransferFailure::None, "a failed read without a reason");
        FUZZ_REQUIRE(image->bytes() == before.bytes(), "a failed read changed the image");
        return 0;
    }
    // What the read took for the frame: whatever followed the logon answer.
    const std::uint8_t* received = transfer->transferBuffer().data();
    FUZZ_REQUIRE(transfer->failure() == TransferFailure::None, "a read that succeeded reports a failure");
    FUZZ_REQUIRE(frameChecksumMatches(received), "a read succeeded on a frame with a wrong checksum");
    const std::vector<std::uint8_t> rebuilt = sim::buildDownloadFrame(*image, false);
    FUZZ_REQUIRE(rebuilt.size() == kDownloadFrameSize, "the board's frame has another size");
    FUZZ_REQUIRE(std::equal(rebuilt.begin() + kFrameDataOffset, rebuilt.end(), received + kFrameDataOffset),
                 "the image does not hold what the frame carried");
    return 0;
}
