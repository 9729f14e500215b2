#include "sim/flash_loader.h"

#include <algorithm>
#include <cstdio>

namespace qm730::sim {

namespace {

using namespace loader;

std::string hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::string htagText(std::uint8_t htag) { return "Htag " + std::to_string(htag) + ": "; }

std::string blockText(std::uint32_t address) {
    return "block " + std::to_string((address - kFlashStart) / kBlockBytes) + " (" + hex(address, 5) + ")";
}

const char* commandName(std::uint8_t command) {
    switch (command) {
        case kCheck: return "check";
        case kErase: return "erase";
        case kWriteBlock: return "write";
        case kReadBlock: return "read";
        default: return "unknown command";
    }
}

// The delay of an answer, for the log.
std::string afterText(std::chrono::milliseconds delay) {
    return delay.count() > 0 ? ", reply after " + std::to_string(delay.count()) + " ms" : "";
}

// A block write or read covers one whole block of the flash.
bool isBlockStart(std::uint32_t address) {
    return address >= kFlashStart && address < kFlashEnd && (address - kFlashStart) % kBlockBytes == 0;
}

// What the command itself asks for that the loader cannot do; nothing when
// it can be carried out.
std::optional<std::string> unfitRequest(const Request& r) {
    switch (r.command) {
        case kCheck:
            if (r.address != 0 || r.count != 0)
                return "check with address " + hex(r.address, 5) + " and count " + std::to_string(r.count) +
                       "; it takes address 0 and count 0";
            return std::nullopt;
        case kErase:
            if (r.address != kFlashStart && r.address != kFlashStart + kSectorBytes)
                return "erase address " + hex(r.address, 5) + " is not D0000 or E0000";
            if (r.count != 0) return "erase with count " + std::to_string(r.count) + "; it takes count 0";
            return std::nullopt;
        case kWriteBlock:
        case kReadBlock:
            if (!isBlockStart(r.address))
                return std::string(commandName(r.command)) + " address " + hex(r.address, 5) +
                       " is not the start of a 2048-byte block in D0000 to EFFFF";
            if (r.count != kBlockBytes)
                return std::string(commandName(r.command)) + " count " + std::to_string(r.count) + " is not 2048";
            return std::nullopt;
        default:
            return "unknown command " + hex(r.command, 2);
    }
}

}  // namespace

FlashLoader::FlashLoader(LoaderFaults faults, Bytes flash) : faults_(std::move(faults)), flash_(std::move(flash)) {
    if (flash_.size() != kFlashBytes) flash_.assign(kFlashBytes, kErased);
}

std::chrono::milliseconds FlashLoader::delayFor(std::uint8_t command) const {
    const auto found = faults_.replyDelay.find(command);
    return found == faults_.replyDelay.end() ? std::chrono::milliseconds{0} : found->second;
}

LoaderAnswer FlashLoader::probe() {
    LoaderAnswer answer;
    if (++probesSeen_ <= faults_.ignoreProbes) {
        answer.note = "probe " + std::to_string(probesSeen_) + " of the first " + std::to_string(faults_.ignoreProbes) +
                      " ignored";
        return answer;
    }
    answer.delay = delayFor(kProbe);
    if (faults_.refusedCommands.count(kProbe)) {
        answer.refused = true;
        answer.bytes = {kRefused};
        answer.bytes.insert(answer.bytes.begin(), faults_.noiseBeforeReply, 0x00);
        answer.note = "probe answered 15 on purpose" + afterText(answer.delay);
        return answer;
    }
    answer.bytes = {kAccepted};
    answer.note = "probe answered" + afterText(answer.delay);
    // Line noise comes before the probe's answer too; cutting a one-byte
    // answer short would only make the board silent.
    answer.bytes.insert(answer.bytes.begin(), faults_.noiseBeforeReply, 0x00);
    return answer;
}

LoaderAnswer FlashLoader::frame(std::span<const std::uint8_t> wire) {
    LoaderAnswer answer;
    if (faults_.answerFrames && framesSeen_ >= *faults_.answerFrames) {
        answer.note = "frame " + std::to_string(framesSeen_ + 1) + " not answered: the loader answers only the first " +
                      std::to_string(*faults_.answerFrames);
        ++framesSeen_;
        return answer;
    }
    ++framesSeen_;

    const DecodedRequest decoded = decodeRequest(wire);
    if (!decoded.request) {
        answer.refused = true;
        answer.bytes = onTheLine(reply(decoded.htag, false));
        answer.note = htagText(decoded.htag) + "damaged frame refused: " + decoded.problem;
        return answer;
    }
    const Request& request = *decoded.request;
    if (const auto unfit = unfitRequest(request)) {
        answer.refused = true;
        answer.bytes = onTheLine(reply(request.htag, false));
        answer.note = htagText(request.htag) + "refused: " + *unfit;
        return answer;
    }
    if (faults_.refusedCommands.count(request.command)) {
        answer.refused = true;
        answer.bytes = onTheLine(reply(request.htag, false));
        answer.note = htagText(request.htag) + commandName(request.command) + " refused on purpose";
        return answer;
    }
    return carryOut(request);
}

LoaderAnswer FlashLoader::carryOut(const Request& r) {
    LoaderAnswer answer;
    const std::string tag = htagText(r.htag);
    switch (r.command) {
        case kCheck:
            answer.note = tag + "check answered";
            break;
        case kErase: {
            const auto sector = flash_.begin() + static_cast<long>(r.address - kFlashStart);
            std::fill(sector, sector + static_cast<long>(kSectorBytes), kErased);
            answer.flashChanged = true;
            answer.note = tag + "erased " + hex(r.address, 5) + " to " + hex(r.address + kSectorBytes - 1, 5);
            break;
        }
        case kWriteBlock: {
            // NOR flash: programming only clears bits.
            auto cell = flash_.begin() + static_cast<long>(r.address - kFlashStart);
            bool lost = false;
            for (const std::uint8_t byte : r.data) {
                lost = lost || (*cell & byte) != byte;
                *cell = static_cast<std::uint8_t>(*cell & byte);
                ++cell;
            }
            answer.flashChanged = true;
            answer.note = tag + "wrote " + blockText(r.address);
            if (lost) answer.note += "; it was not erased, so some bits could not be set";
            break;
        }
        case kReadBlock: {
            const int number = static_cast<int>((r.address - kFlashStart) / kBlockBytes);
            answer.note = tag + "read " + blockText(r.address);
            answer.bytes = onTheLine(readAnswer(r.htag, number, answer.note));
            answer.dataFrame = true;
            answer.delay = delayFor(r.command);
            answer.note += afterText(answer.delay);
            return answer;
        }
    }
    answer.bytes = onTheLine(reply(r.htag, true));
    answer.delay = delayFor(r.command);
    answer.note += afterText(answer.delay);
    return answer;
}

Bytes FlashLoader::readAnswer(std::uint8_t htag, int number, std::string& note) {
    const auto damage = faults_.damagedReads.find(number);
    const bool damaged =
        damage != faults_.damagedReads.end() && (!faults_.damageOnce || damagedOnce_.insert(number).second);
    // The next block, from the end round to the start, stands in for this one.
    const int sent = damaged && damage->second == FrameDamage::OtherBlock ? (number + 1) % kBlocks : number;
    const auto offset = static_cast<long>(sent) * static_cast<long>(kBlockBytes);
    Bytes block(flash_.begin() + offset, flash_.begin() + offset + static_cast<long>(kBlockBytes));
    for (const auto& [spoilt, byte] : faults_.corruptReadback) {
        if (spoilt != number) continue;
        block[byte] = static_cast<std::uint8_t>(~block[byte]);
        note += ", its byte " + std::to_string(byte) + " sent inverted on purpose";
    }
    const std::uint32_t address = kFlashStart + static_cast<std::uint32_t>(offset);
    Bytes plain = plainDataFrame(htag, address, block);
    if (!damaged) return framed(plain);
    switch (damage->second) {
        case FrameDamage::FlippedBit:
            plain[kDataHeaderBytes + kBlockBytes / 2] ^= 0x01;
            note += ", a bit of byte 1024 flipped after the sum was made, on purpose";
            break;
        case FrameDamage::WrongSum:
            plain[plain.size() - kChecksumBytes] ^= 0x01;
            note += ", with a wrong sum on purpose";
            break;
        case FrameDamage::OtherBlock:
            note += ", answered with the frame of " + blockText(address) + " on purpose";
            break;
    }
    return framed(plain);
}

Bytes FlashLoader::onTheLine(Bytes answer) const {
    if (faults_.cutReply && *faults_.cutReply < answer.size()) answer.resize(*faults_.cutReply);
    answer.insert(answer.begin(), faults_.noiseBeforeReply, 0x00);
    return answer;
}

}  // namespace qm730::sim
