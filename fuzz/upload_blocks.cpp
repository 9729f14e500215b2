// The simulated board's upload decoder on any bytes, and the program's
// upload through it: an image (the input, repeated over all of it) is sent
// by the program's own transfer and must reach the board's image whole,
// every block taken without complaint.
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

namespace {

// As the board takes an upload: block by block until the stream is whole.
void decodeAnything(const std::uint8_t* data, std::size_t size) {
    sim::BlockDecoder decoder;
    for (std::size_t i = 0; i < size; ++i) {
        const auto event = decoder.feed(data[i]);
        if (event == sim::BlockDecoder::Event::BlockMalformed || event == sim::BlockDecoder::Event::Stray)
            FUZZ_REQUIRE(!decoder.lastProblem().empty(), "a refused block without a reason");
        if (event == sim::BlockDecoder::Event::BlockDone && decoder.stream().size() >= sim::kStreamLength) {
            static ConfigImage image;
            sim::applyUploadStream(decoder.stream(), image);
            return;
        }
    }
}

void uploadImage(const std::uint8_t* data, std::size_t size) {
    auto image = std::make_unique<ConfigImage>();
    for (std::size_t i = 0; i < kImageSize; ++i) (*image)[i] = data[i % size];

    const std::vector<std::uint8_t> logonAnswer = {'I', 'D', '=', ascii::CR};
    const std::vector<std::uint8_t> goAhead = {ascii::ACK, ascii::CR, ascii::ESC, '[', 'p', ascii::CR};
    fuzz::ScriptedBoard board({logonAnswer, goAhead}, 0);
    auto transfer = std::make_unique<ConfigTransfer>(*image, board.line, board.host);
    FUZZ_REQUIRE(transfer->SendConfiguration(), "the upload failed against a board that took it");

    sim::BlockDecoder decoder;
    for (const std::uint8_t byte : board.upload()) {
        const auto event = decoder.feed(byte);
        FUZZ_REQUIRE(event == sim::BlockDecoder::Event::None || event == sim::BlockDecoder::Event::BlockDone,
                     "the board refused a block the program built");
    }
    FUZZ_REQUIRE(decoder.idle(), "the upload ended inside a block");
    FUZZ_REQUIRE(decoder.stream().size() >= sim::kStreamLength, "the upload carried less than the stream");

    std::vector<std::uint8_t> sent(kUploadStreamSize);
    packUploadStream(*image, sent.data());
    FUZZ_REQUIRE(std::equal(sent.begin(), sent.end(), decoder.stream().begin()), "the board took other bytes than were sent");
    auto boardImage = std::make_unique<ConfigImage>();
    sim::applyUploadStream(decoder.stream(), *boardImage);
    std::vector<std::uint8_t> again(kUploadStreamSize);
    packUploadStream(*boardImage, again.data());
    FUZZ_REQUIRE(again == sent, "the board put the stream elsewhere than the program takes it from");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    decodeAnything(data, size);
    if (size > 0) uploadImage(data, size);
    return 0;
}
