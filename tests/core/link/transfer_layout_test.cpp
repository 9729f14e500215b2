// Where each image byte of the download frame goes, and the frame checksum.
// (The upload stream is checked against the simulated board's own decoder.)
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/link/transfer_layout.h"

using namespace qm730;

namespace {

ConfigImage numberedImage() {
    ConfigImage image;
    for (std::size_t i = 0; i < kImageSize; ++i) image[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
    return image;
}

}  // namespace

TEST(DownloadFrame, FollowsTheFrameTableAndKeepsTheRest) {
    const ConfigImage before = numberedImage();
    std::vector<std::uint8_t> frame(kDownloadFrameSize);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    ConfigImage image = before;
    unpackDownloadFrame(frame.data(), image);

    EXPECT_EQ(std::memcmp(image.data(), &frame[6], 96), 0);
    EXPECT_EQ(std::memcmp(image.capcodeSlot(98), &frame[102 + 22 * 98], 22), 0);
    const std::size_t hundreds[] = {99, 199, 299, 399, 499, 599, 699, 799};
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(std::memcmp(image.capcodeSlot(hundreds[i]), &frame[2280 + 22 * i], 22), 0) << hundreds[i];
    EXPECT_EQ(std::memcmp(image.alarmRecord(0), &frame[2456], 448), 0);
    EXPECT_EQ(std::memcmp(image.messageSlot(98), &frame[2904 + 60 * 98], 60), 0);

    // What the frame does not carry keeps its value.
    auto unchanged = [&](std::size_t offset, std::size_t length) {
        return std::memcmp(image.data() + offset, before.data() + offset, length) == 0;
    };
    for (std::size_t k : {100u, 198u, 200u, 798u, 800u, 999u})
        EXPECT_TRUE(unchanged(capcodeSlotOffset(k), 32)) << "slot " << k;
    EXPECT_TRUE(unchanged(capcodeSlotOffset(0) + 22, 10));
    EXPECT_TRUE(unchanged(capcodeSlotOffset(799) + 22, 10));
    EXPECT_TRUE(unchanged(messageSlotOffset(5) + 60, 4));
    EXPECT_TRUE(unchanged(messageSlotOffset(99), 64));
    EXPECT_TRUE(unchanged(kReservedTail, kImageSize - kReservedTail));
}

TEST(DownloadFrame, ChecksumIsTheLow16BitsOfBytes6To8843) {
    std::vector<std::uint8_t> frame(kDownloadFrameSize, 0xFF);  // sum 8838 * 255 overflows 16 bits
    const std::uint32_t sum = 8838u * 255u;
    frame[8844] = static_cast<std::uint8_t>(sum >> 8);
    frame[8845] = static_cast<std::uint8_t>(sum);
    EXPECT_EQ(frameChecksum(frame.data()), sum & 0xFFFF);
    EXPECT_TRUE(frameChecksumMatches(frame.data()));
    for (std::size_t i = 0; i < 6; ++i) frame[i] = static_cast<std::uint8_t>(i * 40);
    EXPECT_TRUE(frameChecksumMatches(frame.data())) << "the first six bytes are not examined";
    frame[8843] ^= 1;
    EXPECT_FALSE(frameChecksumMatches(frame.data()));
    frame[8843] ^= 1;
    frame[8844] ^= 1;
    EXPECT_FALSE(frameChecksumMatches(frame.data())) << "the high byte counts as well";
}
