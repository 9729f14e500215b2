// Board link frames as they go on the line: the worked frames, the sequence
// byte's run, and byte stuffing both ways.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <vector>

#include "core/link/boardlink.h"
#include "sim/loader_wire.h"

using namespace qm730;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kKey{'V', 'o', 'l', 'm', 'a', 'r', 'K', 'i', 'n', 'e'};

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(from + count));
}

}  // namespace

TEST(BoardFrames, FirstCheckFrameAfterStartIsTheWorkedFrame) {
    const std::uint8_t htag = NextHtag(LinkState{}.Htag);
    Bytes frame = BuildRequestFrame(htag, 0x18, 0xE7, 0, 0);
    // 02 81 0A 00 18 E7, the key, 00 00 00 FF FF FF 00 00, checksum 0x0881.
    const Bytes expected = concat({{0x02, 0x81, 0x0A, 0x00, 0x18, 0xE7}, kKey,
                                   {0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00}, {0x81, 0x08}});
    EXPECT_EQ(frame, expected);
    EscapeFrame(frame);
    frame.push_back(0x03);
    EXPECT_EQ(frame.size(), 27u) << "a check frame that needs no stuffing is 27 bytes on the line";
}

TEST(BoardFrames, AddressCountAndLengthFields) {
    Bytes image(0x20000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const Bytes block = slice(image, 0x800, 2048);

    const Bytes write = BuildRequestFrame(0x82, 0x11, 0xEE, 0xD0800, 2048, block);
    ASSERT_EQ(write.size(), 24u + 2048 + 2);
    EXPECT_EQ(slice(write, 2, 2), (Bytes{0x0A, 0x08}));
    EXPECT_EQ(slice(write, 4, 2), (Bytes{0x11, 0xEE}));
    EXPECT_EQ(slice(write, 16, 8), (Bytes{0x00, 0x08, 0x0D, 0xFF, 0xF7, 0xF2, 0x00, 0x08}));
    EXPECT_EQ(slice(write, 24, 2048), block);
    unsigned sum = 0;
    for (std::size_t i = 0; i < 24 + 2048; ++i) sum += write[i];
    EXPECT_EQ(write[2072], sum & 0xFF);
    EXPECT_EQ(write[2073], (sum >> 8) & 0xFF);

    // A block read carries count 2048 and length 2058 but no data.
    const Bytes read = BuildRequestFrame(0x83, 0x12, 0xED, 0xEF800, 2048);
    ASSERT_EQ(read.size(), 26u);
    EXPECT_EQ(slice(read, 2, 2), (Bytes{0x0A, 0x08}));
    EXPECT_EQ(slice(read, 16, 8), (Bytes{0x00, 0xF8, 0x0E, 0xFF, 0x07, 0xF1, 0x00, 0x08}));

    EXPECT_EQ(slice(BuildRequestFrame(0x84, 0x10, 0xEF, 0xD0000, 0), 16, 6),
              (Bytes{0x00, 0x00, 0x0D, 0xFF, 0xFF, 0xF2}));
    EXPECT_EQ(slice(BuildRequestFrame(0x85, 0x10, 0xEF, 0xE0000, 0), 16, 6),
              (Bytes{0x00, 0x00, 0x0E, 0xFF, 0xFF, 0xF1}));
}

TEST(BoardFrames, SequenceByteRunsFrom81ToFEThenWrapsTo80) {
    std::uint8_t htag = 0x80;
    std::set<std::uint8_t> seen;
    Bytes firstRun;
    for (int i = 0; i < 127 * 3; ++i) {
        htag = NextHtag(htag);
        seen.insert(htag);
        if (firstRun.size() < 128) firstRun.push_back(htag);
    }
    EXPECT_EQ(firstRun.front(), 0x81);
    EXPECT_EQ(firstRun[125], 0xFE);
    EXPECT_EQ(firstRun[126], 0x80);
    EXPECT_EQ(firstRun[127], 0x81);
    EXPECT_EQ(seen.size(), 127u);
    EXPECT_EQ(seen.count(0xFF), 0u);
    EXPECT_EQ(*seen.begin(), 0x80);
}

TEST(BoardFrames, StuffingBothWays) {
    Bytes frame{0x02, 0x03, 0x41, 0x1B, 0xFC, 0xE4, 0x03};
    EXPECT_EQ(EscapeFrame(frame), 10u);
    EXPECT_EQ(frame, (Bytes{0x02, 0x1B, 0xFC, 0x41, 0x1B, 0xE4, 0xFC, 0xE4, 0x1B, 0xFC}));
    EXPECT_EQ(UnescapeFrame(frame), std::optional<std::size_t>(7));
    EXPECT_EQ(frame, (Bytes{0x02, 0x03, 0x41, 0x1B, 0xFC, 0xE4, 0x03}));

    // An escape that stands for nothing makes the frame unusable.
    for (const Bytes& broken : {Bytes{0x02, 0x41, 0x1B}, Bytes{0x02, 0x1B, 0x00, 0x41}, Bytes{0x1B, 0x03}}) {
        Bytes copy = broken;
        EXPECT_FALSE(UnescapeFrame(copy).has_value()) << ::testing::PrintToString(broken);
        EXPECT_EQ(copy, broken);
    }
}

// What a backup keeps must be the block the board sent for the address asked
// for, as it sent it: the board's own frame passes, and each way a frame can
// come damaged is told apart.
TEST(BoardFrames, DataFramesOfABackupAreCheckedWhole) {
    const Bytes sound = sim::plainDataFrame(0x85, 0xD0800, Bytes(2048, 0x11));
    const auto changed = [&](const std::function<void(Bytes&)>& change) {
        Bytes frame = sound;
        change(frame);
        return frame;
    };
    struct Case { const char* name; Bytes frame; LinkFailure failure; const char* detail; };
    const std::vector<Case> cases = {
        {"a byte lost", changed([](Bytes& f) { f.erase(f.begin() + 1000); }), LinkFailure::FrameLayout,
         "it is 2063 bytes instead of 2064"},
        {"a write's command", changed([](Bytes& f) { f[4] = 0x11, f[5] = 0xEE; }), LinkFailure::FrameLayout,
         "its command is 11 EE instead of 12 ED"},
        {"another length", changed([](Bytes& f) { f[2] = 0x0B; }), LinkFailure::FrameLayout,
         "its length field says 2059 instead of 2058"},
        {"another count", changed([](Bytes& f) { f[13] = 0x04; }), LinkFailure::FrameLayout,
         "its count says 1024 instead of 2048"},
        {"a bit flipped after the sum", changed([](Bytes& f) { f[14 + 1024] ^= 0x01; }), LinkFailure::FrameChecksum,
         "it carries the sum 8C9D, its bytes add up to 8C9C"},
        {"another block's frame", sim::plainDataFrame(0x85, 0xD1000, Bytes(2048, 0x11)), LinkFailure::FrameWrongBlock,
         "it carries address D1000 where D0800 was asked for"},
    };
    EXPECT_FALSE(checkDataFrame(sound, 0xD0800).has_value());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<FrameProblem> problem = checkDataFrame(c.frame, 0xD0800);
        ASSERT_TRUE(problem.has_value());
        EXPECT_EQ(problem->failure, c.failure);
        EXPECT_EQ(problem->detail, c.detail);
    }
}
