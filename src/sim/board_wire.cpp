#include "sim/board_wire.h"

#include <cstring>

namespace qm730::sim {

namespace {

constexpr std::uint8_t kNul = 0x00, kStx = 0x02, kEtx = 0x03, kEot = 0x04, kLf = 0x0A, kCr = 0x0D, kEtb = 0x17,
                       kSub = 0x1A, kEsc = 0x1B, kUs = 0x1F;
constexpr std::size_t kSystemBlockLength = 96;
constexpr std::size_t kSlotPart = 22;
constexpr std::size_t kMessagePart = 60;
constexpr std::size_t kLongestPayload = 241;
// The board's own frame header: a start byte, "CFG" and the frame length.
constexpr std::uint8_t kFrameHeader[6] = {kStx, 'C', 'F', 'G', kFrameLength >> 8, kFrameLength & 0xFF};

bool isEscapedCharacter(std::uint8_t original) {
    switch (original) {
        case kCr: case kLf: case kEsc: case kStx: case kEtx: case kUs: case kEtb: case kEot: case kSub: return true;
        default: return false;
    }
}

std::uint8_t checkCharacter(std::uint32_t sum, int shift) { return static_cast<std::uint8_t>('0' + ((sum >> shift) & 0xF)); }

}  // namespace

BlockDecoder::Event BlockDecoder::malformed(std::string problem) {
    problem_ = std::move(problem);
    // Skip to the block's closing CR, or resynchronise on the next STX.
    state_ = State::Skip;
    return Event::BlockMalformed;
}

BlockDecoder::Event BlockDecoder::feed(std::uint8_t byte) {
    switch (state_) {
        case State::WaitStx:
            if (byte != kStx) {
                problem_ = "stray byte between blocks";
                return Event::Stray;
            }
            payload_.clear();
            sum_ = byte;
            checkCount_ = 0;
            state_ = firstBlock_ ? State::HeaderNul : State::Payload;
            return Event::None;
        case State::HeaderNul:
            sum_ += byte;
            if (byte != kNul) return malformed("first block header lacks NUL");
            state_ = State::HeaderCr;
            return Event::None;
        case State::HeaderCr:
            sum_ += byte;
            if (byte != kCr) return malformed("first block header lacks CR");
            state_ = State::Payload;
            return Event::None;
        case State::Payload:
            sum_ += byte;
            if (byte == kUs || byte == kEtx) {
                terminator_ = byte;
                state_ = State::Check;
                return Event::None;
            }
            if (byte == kSub) {
                state_ = State::Escaped;
                return Event::None;
            }
            if (isEscapedCharacter(byte)) return malformed("unescaped control character in payload");
            payload_.push_back(byte);
            if (payload_.size() > kLongestPayload) return malformed("payload too long");
            return Event::None;
        case State::Escaped: {
            sum_ += byte;
            const std::uint8_t original = static_cast<std::uint8_t>(byte - 0x40);
            if (!isEscapedCharacter(original)) return malformed("SUB followed by a character that is never escaped");
            payload_.push_back(original);
            state_ = State::Payload;
            return Event::None;
        }
        case State::Check:
            check_[checkCount_++] = byte;
            if (checkCount_ == 3) state_ = State::WaitCr;
            return Event::None;
        case State::WaitCr:
            if (byte != kCr) return malformed("block not closed by CR");
            state_ = State::WaitStx;
            return finishBlock();
        case State::Skip:
            if (byte == kCr) state_ = State::WaitStx;
            return Event::None;
    }
    return Event::None;
}

BlockDecoder::Event BlockDecoder::finishBlock() {
    if (check_[0] != checkCharacter(sum_, 8) || check_[1] != checkCharacter(sum_, 4) ||
        check_[2] != checkCharacter(sum_, 0)) {
        problem_ = "checksum characters do not match";
        return Event::BlockMalformed;
    }
    if (firstBlock_) {
        if (payload_.size() != kSystemBlockLength || terminator_ != kUs) {
            problem_ = "first block must carry 96 bytes and end with US";
            return Event::BlockMalformed;
        }
        firstBlock_ = false;
    }
    stream_.insert(stream_.end(), payload_.begin(), payload_.end());
    ++blocks_;
    return Event::BlockDone;
}

void applyUploadStream(const std::vector<std::uint8_t>& stream, ConfigImage& image) {
    const std::uint8_t* in = stream.data();
    auto take = [&](std::size_t imageOffset, std::size_t length) {
        std::memcpy(image.data() + imageOffset, in, length);
        in += length;
    };
    take(0x0000, kSystemBlockLength);
    for (std::size_t slot = 0; slot < 999; ++slot) take(0x0060 + slot * 32, kSlotPart);
    for (std::size_t record = 0; record < 7; ++record) take(0x7D60 + record * 64, 64);
    for (std::size_t slot = 0; slot < 100; ++slot) take(0x7F20 + slot * 64, kMessagePart);
}

std::vector<std::uint8_t> buildDownloadFrame(const ConfigImage& image, bool corruptChecksum) {
    std::vector<std::uint8_t> frame(std::begin(kFrameHeader), std::end(kFrameHeader));
    auto give = [&](std::size_t imageOffset, std::size_t length) {
        frame.insert(frame.end(), image.data() + imageOffset, image.data() + imageOffset + length);
    };
    give(0x0000, kSystemBlockLength);
    for (std::size_t slot = 0; slot < 99; ++slot) give(0x0060 + slot * 32, kSlotPart);
    for (std::size_t slot = 99; slot < 800; slot += 100) give(0x0060 + slot * 32, kSlotPart);
    for (std::size_t record = 0; record < 7; ++record) give(0x7D60 + record * 64, 64);
    for (std::size_t slot = 0; slot < 99; ++slot) give(0x7F20 + slot * 64, kMessagePart);
    std::uint16_t sum = 0;
    for (std::size_t i = sizeof kFrameHeader; i < frame.size(); ++i) sum = static_cast<std::uint16_t>(sum + frame[i]);
    if (corruptChecksum) sum = static_cast<std::uint16_t>(sum + 1);
    frame.push_back(static_cast<std::uint8_t>(sum >> 8));
    frame.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    return frame;
}

}  // namespace qm730::sim
