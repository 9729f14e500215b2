#include "core/link/upload_block.h"

#include <stdexcept>

namespace qm730 {

namespace {

constexpr std::uint8_t kEscapeOffset = 0x40;
constexpr std::uint8_t kChecksumBase = 0x30;

class BlockWriter {
public:
    explicit BlockWriter(UploadBlock& block) : block_(block) {}
    void put(std::uint8_t byte) { block_.bytes.at(block_.length++) = byte; }
    // Appends the byte or its escape; returns the characters added.
    std::size_t putPayload(std::uint8_t byte) {
        if (!needsEscape(byte)) {
            put(byte);
            return 1;
        }
        put(ascii::SUB);
        put(static_cast<std::uint8_t>(byte + kEscapeOffset));
        return 2;
    }
    std::uint32_t sum() const {
        std::uint32_t total = 0;
        for (std::size_t i = 0; i < block_.length; ++i) total += block_.bytes[i];
        return total;
    }

private:
    UploadBlock& block_;
};

}  // namespace

bool needsEscape(std::uint8_t byte) {
    using namespace ascii;
    switch (byte) {
        case CR: case LF: case ESC: case STX: case ETX: case US: case ETB: case EOT: case SUB: return true;
        default: return false;
    }
}

std::array<std::uint8_t, 3> checksumCharacters(std::uint32_t sum) {
    return {static_cast<std::uint8_t>(kChecksumBase + ((sum >> 8) & 0x0F)),
            static_cast<std::uint8_t>(kChecksumBase + ((sum >> 4) & 0x0F)),
            static_cast<std::uint8_t>(kChecksumBase + (sum & 0x0F))};
}

UploadBlock buildUploadBlock(std::span<const std::uint8_t> source, bool first, bool last) {
    UploadBlock block;
    BlockWriter out(block);
    out.put(ascii::STX);
    if (first) {
        out.put(ascii::NUL);
        out.put(ascii::CR);
        if (source.size() < kFirstBlockStreamBytes) throw std::out_of_range("upload block past the transfer buffer");
        for (std::size_t i = 0; i < kFirstBlockStreamBytes; ++i) out.putPayload(source[i]);
        block.streamTaken = kFirstBlockStreamBytes;
    } else {
        std::size_t characters = 0;
        while (characters < kContinuationPayload) {
            if (block.streamTaken >= source.size()) throw std::out_of_range("upload block past the transfer buffer");
            characters += out.putPayload(source[block.streamTaken++]);
        }
    }
    // The first block is never the last one: the stream goes on after it.
    out.put(last && !first ? ascii::ETX : ascii::US);
    for (std::uint8_t c : checksumCharacters(out.sum())) out.put(c);
    out.put(ascii::CR);
    return block;
}

}  // namespace qm730
