// The answer to a block read, collected by the board link from whatever the
// line brings and unstuffed: any bytes, in pieces of any size. Then a frame
// stuffed as the board stuffs it must give back exactly its block.
//
// Input: one byte for the piece size, then the bytes on the line. The same
// bytes (after the first) make the frame of the second part.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/link/boardlink.h"
#include "memory_line.h"
#include "recording_host.h"
#include "require.h"

using namespace qm730;

namespace {

// The bytes are on the line from the start, at most `piece` of them
// arrived at a time; once all are read, the line hangs up, so no wait of
// the link runs to its time-out.
struct Link {
    test::VirtualClock clock;
    test::MemoryLine line{clock};
    test::RecordingHost host{&clock};
    LinkState state;
    BoardLink link{line, host, state};
};

bool readFrom(const std::uint8_t* bytes, std::size_t size, std::size_t piece,
              std::array<std::uint8_t, kFlashBlockSize>& block) {
    Link link;
    link.line.piece = piece;
    link.line.hangsUpWhenDrained = true;
    FUZZ_REQUIRE(link.link.OpenLinkPort("fuzz"), "the line did not open");
    link.line.deliver(test::Bytes(bytes, bytes + size), {});
    const bool read = link.link.ReadBlockData(block);
    FUZZ_REQUIRE(read != link.state.LinkError, "the link error does not tell the outcome");
    FUZZ_REQUIRE(read == (link.link.lastFailure() == LinkFailure::None), "the failure does not tell the outcome");
    FUZZ_REQUIRE(static_cast<std::size_t>(link.state.progress) <= std::min(link.line.taken, kFrameBufferSize),
                 "the progress counts bytes that were not stored");
    return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = data[0] % 32;
    std::array<std::uint8_t, kFlashBlockSize> block{};
    readFrom(data + 1, size - 1, piece, block);

    // A data frame: 14 bytes of the board's own, the block, stuffed, closed by 03.
    std::vector<std::uint8_t> frame(kDataFrameMinimumSize);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = size > 1 ? data[1 + i % (size - 1)] : 0;
    std::vector<std::uint8_t> stuffed = frame;
    EscapeFrame(stuffed);
    stuffed.push_back(kFrameEnd);
    FUZZ_REQUIRE(readFrom(stuffed.data(), stuffed.size(), piece, block), "a sound data frame was refused");
    FUZZ_REQUIRE(std::equal(block.begin(), block.end(), frame.begin() + kDataFrameBlockStart),
                 "the block is not what the frame carried");
    return 0;
}
