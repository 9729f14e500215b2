// Upload blocks: escapes, payload lengths, terminators, padding, checksum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fake_line.h"
#include "core/link/upload_block.h"

using namespace qm730;
using namespace qm730::test;

TEST(UploadBlock, ChecksumCharactersOfTheWorkedExample) {
    // STX 0x41 ETX sums to 0x46.
    EXPECT_EQ(checksumCharacters(0x02 + 0x41 + 0x03), (std::array<std::uint8_t, 3>{0x30, 0x34, 0x36}));
    EXPECT_EQ(checksumCharacters(0x1ABC), (std::array<std::uint8_t, 3>{0x3A, 0x3B, 0x3C})) << "bits above 11 drop";
}

TEST(UploadBlock, FirstBlockCarriesTheSystemBlock) {
    Bytes source(200, 0);
    source[5] = 0x0D;
    source[6] = 0x1A;
    source[7] = 0x06;
    source[8] = 0x80;
    const UploadBlock block = buildUploadBlock(source, true, true);
    const auto wire = block.wire();
    EXPECT_EQ(block.streamTaken, 96u);
    ASSERT_EQ(wire.size(), 3u + 96 + 2 + 5);
    EXPECT_EQ((Bytes(wire.begin(), wire.begin() + 3)), (Bytes{0x02, 0x00, 0x0D}));
    EXPECT_EQ((Bytes(wire.begin() + 8, wire.begin() + 14)), (Bytes{0x1A, 0x4D, 0x1A, 0x5A, 0x06, 0x80}));
    EXPECT_EQ(wire[3 + 98], 0x1F) << "the first block always ends with US";
    EXPECT_EQ(wire.back(), 0x0D);
}

TEST(UploadBlock, ContinuationPayloadIs240Or241Characters) {
    Bytes plain(300, 'A');
    UploadBlock block = buildUploadBlock(plain, false, false);
    EXPECT_EQ(block.streamTaken, 240u);
    EXPECT_EQ(block.length, 1u + 240 + 1 + 3 + 1);
    EXPECT_EQ(block.bytes[241], 0x1F);

    Bytes escapeAtTheEdge = plain;
    escapeAtTheEdge[239] = 0x03;  // its escape is characters 240 and 241
    block = buildUploadBlock(escapeAtTheEdge, false, true);
    EXPECT_EQ(block.streamTaken, 240u);
    EXPECT_EQ(block.length, 247u);
    EXPECT_EQ(block.bytes[240], 0x1A);
    EXPECT_EQ(block.bytes[241], 0x43);
    EXPECT_EQ(block.bytes[242], 0x03) << "last block ends with ETX";

    Bytes escapeBefore = plain;
    escapeBefore[238] = 0x03;  // characters 239 and 240 end the payload
    EXPECT_EQ(buildUploadBlock(escapeBefore, false, false).streamTaken, 239u);
}

namespace {

// Runs a whole upload and returns its blocks, one per write after the logon.
std::vector<Bytes> uploadBlocks(const ConfigImage& image) {
    Session s(answer(bytes("ID=\r")), answer(kGoAheadAnswer));
    s.image = image;
    EXPECT_TRUE(s.transfer.SendConfiguration());
    std::vector<Bytes> blocks;
    for (std::size_t i = kLogonBytes; i < s.line.writes.size(); ++i) blocks.push_back(s.line.writes[i].data);
    return blocks;
}

std::uint8_t terminator(const Bytes& block) { return block[block.size() - 5]; }

int etxCount(const std::vector<Bytes>& blocks) {
    int n = 0;
    for (const Bytes& b : blocks) n += terminator(b) == 0x03;
    return n;
}

ConfigImage imageWithoutEscapes() {
    ConfigImage image;
    image.bytes().fill('A');
    return image;
}

}  // namespace

TEST(UploadBlocks, WithoutEscapesTheLastBlockIsPaddedWithZeros) {
    ConfigImage image = imageWithoutEscapes();
    const std::vector<Bytes> blocks = uploadBlocks(image);
    ASSERT_EQ(blocks.size(), 120u);
    const Bytes& last = blocks.back();
    EXPECT_EQ(terminator(last), 0x03);
    EXPECT_EQ(etxCount(blocks), 1);
    // 106 stream bytes, then 134 zeros from the transfer buffer.
    EXPECT_EQ(std::count(last.begin() + 1, last.begin() + 107, 'A'), 106);
    EXPECT_EQ(std::count(last.begin() + 107, last.begin() + 241, 0), 134);
}

TEST(UploadBlocks, BlockThatTakesTheLast220To240BytesEndsWithUs) {
    ConfigImage image = imageWithoutEscapes();
    // 124 escaped bytes at the start of the capcode table shift the block
    // boundaries back by 124 bytes: 230 remain before the final block.
    for (std::size_t k = 0; k < 5; ++k) std::memset(image.capcodeSlot(k), 0x0D, 22);
    std::memset(image.capcodeSlot(5), 0x0D, 14);
    const std::vector<Bytes> blocks = uploadBlocks(image);
    EXPECT_EQ(etxCount(blocks), 0);
    EXPECT_EQ(terminator(blocks.back()), 0x1F);
}

TEST(UploadBlocks, EscapesNearTheEndGiveMoreThanOneEtxBlock) {
    ConfigImage image = imageWithoutEscapes();
    // The last 200 stream bytes are messages 97..99 (60 bytes each) and
    // 20 bytes of message 96: all of them escaped.
    for (std::size_t m = 96; m < 100; ++m) std::memset(image.messageSlot(m), 0x0D, 60);
    const std::vector<Bytes> blocks = uploadBlocks(image);
    EXPECT_EQ(etxCount(blocks), 2);
    EXPECT_EQ(terminator(blocks.back()), 0x03);
}
