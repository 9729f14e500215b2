#include "core/link/transfer_layout.h"

#include <cstring>
#include <vector>

namespace qm730 {

namespace {

constexpr std::size_t kSlotBytesSent = 22;     // address, type, baud, function bits, name, group
constexpr std::size_t kMessageBytesSent = 60;  // the board keeps no more of a message

// A run of image bytes that the stream or frame carries in one piece.
struct Run {
    std::size_t imageOffset;
    std::size_t length;
};

void addCapcodeSlot(std::vector<Run>& runs, std::size_t k) { runs.push_back({capcodeSlotOffset(k), kSlotBytesSent}); }
void addMessageSlot(std::vector<Run>& runs, std::size_t m) {
    runs.push_back({messageSlotOffset(m), kMessageBytesSent});
}
void addSystemBlock(std::vector<Run>& runs) { runs.push_back({sys::kBlock, sys::kBlockSize}); }
void addAlarmRecords(std::vector<Run>& runs) {
    runs.push_back({alarm::kTable, alarm::kRecordSize * alarm::kRecordCount});
}

const std::vector<Run>& uploadRuns() {
    static const std::vector<Run> runs = [] {
        std::vector<Run> r;
        addSystemBlock(r);
        for (std::size_t k = 0; k < 999; ++k) addCapcodeSlot(r, k);
        addAlarmRecords(r);
        for (std::size_t m = 0; m < message::kSlotCount; ++m) addMessageSlot(r, m);
        return r;
    }();
    return runs;
}

const std::vector<Run>& downloadRuns() {
    static const std::vector<Run> runs = [] {
        std::vector<Run> r;
        addSystemBlock(r);
        for (std::size_t k = 0; k < 99; ++k) addCapcodeSlot(r, k);
        for (std::size_t k = 99; k <= 799; k += 100) addCapcodeSlot(r, k);
        addAlarmRecords(r);
        for (std::size_t m = 0; m < 99; ++m) addMessageSlot(r, m);
        return r;
    }();
    return runs;
}

}  // namespace

void packUploadStream(const ConfigImage& image, std::uint8_t* stream) {
    for (const Run& run : uploadRuns()) {
        std::memcpy(stream, image.data() + run.imageOffset, run.length);
        stream += run.length;
    }
}

void unpackDownloadFrame(const std::uint8_t* frame, ConfigImage& image) {
    frame += kFrameDataOffset;
    for (const Run& run : downloadRuns()) {
        std::memcpy(image.data() + run.imageOffset, frame, run.length);
        frame += run.length;
    }
}

std::uint16_t frameChecksum(const std::uint8_t* frame) {
    std::uint32_t sum = 0;
    for (std::size_t i = kFrameDataOffset; i < kFrameChecksumOffset; ++i) sum += frame[i];
    return static_cast<std::uint16_t>(sum);
}

bool frameChecksumMatches(const std::uint8_t* frame) {
    const std::uint16_t sum = frameChecksum(frame);
    return frame[kFrameChecksumOffset] == (sum >> 8) && frame[kFrameChecksumOffset + 1] == (sum & 0xFF);
}

}  // namespace qm730
