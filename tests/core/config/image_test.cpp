#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/config/image.h"

using namespace qm730;

namespace {

// The default image as the board's documentation lays it out, built here
// byte by byte without the code under test.
std::vector<std::uint8_t> expectedDefaultImage() {
    std::vector<std::uint8_t> bytes(40959, 0);
    const std::uint8_t system[0x31] = {
        10, 16, 10, 20, 0, 0x05, 0x08, 0x01, 0, 0x02, 0x38, 0x10, 0x10, 0, 10, 0, 100,
        0, '4', '5', '4', '5', '0', '0', '0', 0, '8', '2', '9', '4', 0, '6', '1', '8', '0', '4', '5', '2',
        0, 3, 1, 3, 0, 2, 0, 2, 1, 0, 4};
    std::memcpy(bytes.data(), system, sizeof system);
    for (int k = 0; k < 899; ++k) {
        std::uint8_t* slot = bytes.data() + 0x60 + 32 * k;
        char address[8];
        std::snprintf(address, sizeof address, "%07d", k < 99 ? 1234560 + k : k + 1);
        std::memcpy(slot, address, 7);
        slot[7] = 1;
        slot[8] = 2;
        slot[21] = 100;
    }
    for (int j = 0; j < 7; ++j) {
        char id[8], text[16];
        std::snprintf(id, sizeof id, "10%d", j + 1);
        std::snprintf(text, sizeof text, "Contact %d", j + 1);
        std::memcpy(bytes.data() + 0x7D60 + 64 * j, id, std::strlen(id));
        std::memcpy(bytes.data() + 0x7D64 + 64 * j, text, std::strlen(text));
    }
    for (int m = 0; m < 99; ++m) {
        char text[32];
        std::snprintf(text, sizeof text, "No.%d ppg message", m + 1);
        std::memcpy(bytes.data() + 0x7F20 + 64 * m, text, std::strlen(text));
    }
    bytes[0x97E0] = 4;
    return bytes;
}

}  // namespace

TEST(DefaultImage, MatchesTheDocumentedLayoutByteForByte) {
    const ConfigImage image = defaultImage();
    const std::vector<std::uint8_t> expected = expectedDefaultImage();
    ASSERT_EQ(image.bytes().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(image.bytes()[i], expected[i]) << "first difference at offset 0x" << std::hex << i;
}

TEST(DefaultImage, CapcodeNumberTableStartsFromTheDefaults) {
    Configuration config;
    initialiseDefaults(config);
    EXPECT_EQ(config.capcodeNumbers[0], 1234560);
    EXPECT_EQ(config.capcodeNumbers[98], 1234658);
    EXPECT_EQ(config.capcodeNumbers[99], 1234659);  // only ever a refill value
    EXPECT_EQ(config.capcodeNumbers[100], 100);
    EXPECT_EQ(config.capcodeNumbers[899], 899);
}

TEST(FieldReaders, DigitsUseTheLowNibbleSoOddBytesReadAsTwoDigits) {
    const std::uint8_t raw[7] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(readDigits(raw, 7), "1234567");
    const std::uint8_t odd[7] = {'1', 0x3A, '0', '0', '0', '0', '0'};
    EXPECT_EQ(readDigits(odd, 7), "11000000");
}

// Address padding and refusal are held by the page view tests.
TEST(FieldWriters, NameWritesLengthAndCharactersOnly) {
    std::uint8_t slot[32] = {};
    slot[21] = 55;
    ASSERT_TRUE(writeName(slot, "ABCDEFGHIJ"));
    EXPECT_EQ(slot[10], 10);
    EXPECT_EQ(slot[21], 55);
    EXPECT_FALSE(writeName(slot, "ABCDEFGHIJK"));
    EXPECT_EQ(readName(slot), "ABCDEFGHIJ");
    writeName(slot, "Bo");
    EXPECT_EQ(std::memcmp(slot + 10, "\x02" "BoCDEFGHIJ", 11), 0) << "the bytes after the name keep what they held";
    EXPECT_EQ(readName(slot), "Bo");
}

TEST(FieldReaders, NameLengthAboveTenNeverReadsBeyondTheNameBytes) {
    std::uint8_t slot[32];
    std::memset(slot, 'N', sizeof slot);
    slot[10] = 200;
    EXPECT_EQ(readName(slot), "NNNNNNNNNN");
    slot[10] = 3;
    slot[12] = 0;
    EXPECT_EQ(readName(slot), "N");
}
