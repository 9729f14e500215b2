// The transfer against a scripted board on a virtual clock: logon answers,
// the go-ahead, the fixed delays and every failure path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fake_line.h"
#include "sim/board_wire.h"

using namespace qm730;
using namespace qm730::test;

TEST(Logon, AnswersAreJudgedOnTheirFirstThreeCharacters) {
    struct Case { const char* name; std::vector<Piece> pieces; bool accepted; };
    const std::vector<Case> cases = {
        {"ID= with CR LF", answer(bytes("ID=\r\n")), true},
        {"ID= and more", answer(bytes("ID=xyz")), true},
        {"lower case", answer(bytes("id=")), false},
        {"too short", answer(bytes("ID")), false},
        {"LF first", answer(bytes("\nID=")), false},
        {"blank first", answer(bytes(" ID=")), false},
        {"NUL cuts inside", answer(Bytes{'I', 0, 'D', '='}), false},
        {"NUL cuts after", answer(Bytes{'I', 'D', '=', 0, 'x'}), true},
        {"blank piece, then ID=", {{bytes("\r\n"), 1ms}, {bytes("ID="), 300ms}}, true},
        {"a blank late in the window, then ID=", {{bytes("\r\n"), 250ms}, {bytes("ID="), 1900ms}}, true},
        {"judged on the first piece", {{bytes("ID"), 1ms}, {bytes("=\r"), 300ms}}, false},
        {"a piece trickling in settles", {{bytes("I"), 1ms}, {bytes("D"), 2ms}, {bytes("=\r"), 3ms}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(c.pieces, {});
        s.transfer.ReceiveConfiguration();
        ASSERT_FALSE(s.host.log.empty());
        EXPECT_EQ(s.host.log.front(), c.accepted ? "+++ID= OK" : "+++ID= Error");
        EXPECT_EQ(s.line.allWritten().size(), c.accepted ? kLogonBytes : 1u);
    }
}

TEST(Logon, SilentBoardFailsWhenTheAnswerWindowHasPassed) {
    Session s({}, {});
    EXPECT_FALSE(s.transfer.ReceiveConfiguration());
    EXPECT_EQ(s.transfer.failure(), TransferFailure::NoLogonAnswer);
    EXPECT_GT(s.clock.sinceStart(), 2000ms);
    EXPECT_LT(s.clock.sinceStart(), 2010ms);
    EXPECT_TRUE(s.host.notices.empty()) << "a failed read shows no box of its own";
}

TEST(Logon, FloodOfWaitingInputIsDiscarded) {
    Session s({}, {});
    s.line.deliver(Bytes(9001, 'x'), 0ms);
    s.transfer.WaitResponse();
    EXPECT_EQ(s.transfer.responseText(), "");
    EXPECT_EQ(s.line.inputPurges, 1);
    EXPECT_EQ(s.clock.sinceStart(), 0ms);
}

TEST(Upload, WireSequenceDelaysAndLog) {
    Session s(answer(bytes("ID=\r")), answer(kGoAheadAnswer));
    s.line.deliver(bytes("ERR\r"), 0ms);  // left over from an earlier exchange
    ASSERT_TRUE(s.transfer.SendConfiguration()) << "the leftover is discarded, not taken for the answer";
    EXPECT_EQ(s.line.outputPurges, 1);
    EXPECT_EQ(s.line.writes[0].data, Bytes{0x0D});
    EXPECT_EQ(s.line.writes[0].at, 0ms);
    // The request goes out 200 ms after the answer (which came at 1 ms and
    // was given 5 ms to settle), one byte per write.
    const Bytes request = {0x1B, 'P', 'G', '2', 0x0D};
    for (std::size_t i = 0; i < request.size(); ++i) {
        EXPECT_EQ(s.line.writes[1 + i].data, Bytes{request[i]});
        EXPECT_EQ(s.line.writes[1 + i].at, 206ms);
    }
    EXPECT_EQ(s.host.delays, (std::vector<int>{200, 400}));
    EXPECT_EQ(s.line.writes[kLogonBytes].at, 606ms) << "blocks start right after the go-ahead check";
    EXPECT_EQ(s.host.log, (std::vector<std::string>{"+++ID= OK", "++[P= OK"}));
    EXPECT_EQ(s.host.status(), "  Transfering Now ......");
    EXPECT_EQ(s.host.range, std::make_pair(0, 28522));
    EXPECT_TRUE(s.host.notices.empty());
}

TEST(Upload, BlocksCarryTheImageAsTheBoardDecodesThem) {
    Session s(answer(bytes("ID=")), answer(kGoAheadAnswer));
    // Every byte value, escapes included, somewhere in the carried regions.
    for (std::size_t i = 0; i < kImageSize; ++i) s.image[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    ASSERT_TRUE(s.transfer.SendConfiguration());
    sim::BlockDecoder decoder;
    const Bytes all = s.line.allWritten();
    for (std::size_t i = kLogonBytes; i < all.size(); ++i)
        ASSERT_NE(decoder.feed(all[i]), sim::BlockDecoder::Event::BlockMalformed) << decoder.lastProblem();
    ASSERT_GE(decoder.stream().size(), sim::kStreamLength);
    ConfigImage received;
    sim::applyUploadStream(decoder.stream(), received);
    Bytes expected(kUploadStreamSize);
    packUploadStream(s.image, expected.data());
    Bytes stream(decoder.stream().begin(), decoder.stream().begin() + kUploadStreamSize);
    EXPECT_EQ(stream, expected);
}

// Escapes take two characters of a block, so they move where the blocks
// start. A block that starts with fewer than 220 stream bytes left ends with
// ETX; one that starts with 220 to 240 left takes them all and ends with US.
TEST(Upload, TheLastBlockIsMarkedByTheBytesLeftBeforeIt) {
    struct Case { std::size_t escapes; std::uint8_t lastMark; };
    for (const Case c : {Case{0, 0x03}, Case{170, 0x03}, Case{190, 0x1F}}) {
        SCOPED_TRACE(c.escapes);
        Session s(answer(bytes("ID=")), answer(kGoAheadAnswer));
        for (std::size_t j = 0; j < c.escapes; ++j) s.image.messageSlot(j / 60)[j % 60] = 0x0D;
        ASSERT_TRUE(s.transfer.SendConfiguration());
        ASSERT_GT(s.line.writes.size(), kLogonBytes + 1);
        for (std::size_t w = kLogonBytes; w < s.line.writes.size(); ++w) {
            const Bytes& block = s.line.writes[w].data;
            const bool last = w + 1 == s.line.writes.size();
            EXPECT_EQ(block[block.size() - 5], last ? c.lastMark : 0x1F) << "block " << w - kLogonBytes + 1;
        }
    }
}

TEST(Upload, GoAheadMustBeginWithAckCrEscBracketP) {
    struct Case {
        const char* name;
        std::vector<Piece> pieces;
        bool accepted;
        TransferFailure failure;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"inner CR stays, trailing CR trimmed", answer(kGoAheadAnswer), true, TransferFailure::None, "no failure"},
        {"without the inner CR", answer({0x06, 0x1B, '[', 'p', 0x0D}), false, TransferFailure::WrongGoAhead,
         "the board answered ACK ESC \"[p\" CR instead of the go-ahead"},
        {"unexpected answer", answer(bytes("ID=\r")), false, TransferFailure::WrongGoAhead,
         "the board answered \"ID=\" CR instead of the go-ahead"},
        // NAK is a control character: trimmed away it leaves no text to
        // judge, but the board did answer, and with a refusal.
        {"refusal", answer({0x15, 0x0D}), false, TransferFailure::WrongGoAhead,
         "the board answered NAK CR instead of the go-ahead"},
        {"nothing", {}, false, TransferFailure::NoGoAhead,
         "the board did not answer the upload request within 2 seconds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(answer(bytes("ID=")), c.pieces);
        EXPECT_EQ(s.transfer.SendConfiguration(), c.accepted);
        EXPECT_EQ(s.transfer.failure(), c.failure);
        EXPECT_EQ(s.transfer.failureReason(), c.reason);
        EXPECT_EQ(s.host.log.back(), c.accepted ? "++[P= OK" : "+++[P= Error");
        if (c.accepted) continue;
        ASSERT_EQ(s.host.notices.size(), 1u);
        EXPECT_EQ(s.host.notices[0], (Notice{"Command & Response Error!!!", "Transfermission Error",
                                                NoticeButtons::Ok, NoticeIcon::None}));
        EXPECT_EQ(s.line.allWritten().size(), kLogonBytes) << "no block after a failed go-ahead";
    }
}

TEST(Upload, WrongLogonShowsTheBoxToo) {
    Session s(answer(bytes("XX=")), {});
    EXPECT_FALSE(s.transfer.SendConfiguration());
    EXPECT_EQ(s.host.log, std::vector<std::string>{"+++ID= Error"});
    EXPECT_EQ(s.host.notices.size(), 1u);
}

// What the operator is told: a board that said something is quoted, one
// that said nothing did not answer, and garbage is called so.
TEST(Logon, FailureReasonsTellAnAnswerFromSilence) {
    struct Case { const char* name; std::vector<Piece> pieces; TransferFailure failure; const char* reason; };
    const std::vector<Case> cases = {
        {"blanks only", answer(bytes("\r\n")), TransferFailure::WrongLogonAnswer,
         "the board answered CR LF instead of \"ID=\""},
        {"another text", answer(Bytes{'I', 'X', '=', 0x8F, 0x7F, '"', 0x0D}), TransferFailure::WrongLogonAnswer,
         "the board answered \"IX=\" 0x8F DEL \"\\\"\" CR instead of \"ID=\""},
        {"a long answer is cut", answer(Bytes(40, 'x')), TransferFailure::WrongLogonAnswer,
         "the board answered \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\" ... instead of \"ID=\""},
        {"garbage flood", answer(Bytes(9001, 'x')), TransferFailure::InputFlood,
         "more than 9,000 unexpected bytes were waiting on the line"},
        {"silence", {}, TransferFailure::NoLogonAnswer, "the board did not answer the logon within 2 seconds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(c.pieces, {});
        EXPECT_FALSE(s.transfer.ReceiveConfiguration());
        EXPECT_EQ(s.transfer.failure(), c.failure);
        EXPECT_EQ(s.transfer.failureReason(), c.reason);
    }
}

// The steps in words count the blocks that really go out, escapes and all.
TEST(Upload, StepsAreToldInWordsWithTheBlocksCounted) {
    Session s(answer(bytes("ID=\r")), answer(kGoAheadAnswer));
    for (std::size_t i = 0; i < kImageSize; ++i) s.image[i] = 0x0D;  // every byte escaped: more blocks
    ASSERT_TRUE(s.transfer.SendConfiguration());
    const std::size_t blocks = s.line.writes.size() - kLogonBytes;
    ASSERT_GT(blocks, 120u);
    const std::vector<std::string>& notes = s.host.notes;
    ASSERT_EQ(notes.size(), 3 + blocks + 1);
    EXPECT_EQ(notes[0], "logon answered \"ID=\" CR");
    EXPECT_EQ(notes[1], "service request ESC \"PG2\" CR sent");
    EXPECT_EQ(notes[2], "go-ahead received");
    EXPECT_EQ(notes[3], "block 1 of " + std::to_string(blocks) + " sent");
    EXPECT_EQ(notes[2 + blocks], "block " + std::to_string(blocks) + " of " + std::to_string(blocks) + " sent");
    EXPECT_EQ(notes.back(), "the last block has left the port");
}

TEST(Upload, FailedWriteIsAnErrorNotASuccess) {
    Session s(answer(bytes("ID=")), answer(kGoAheadAnswer));
    s.line.failWritesFrom = static_cast<int>(kLogonBytes) + 3;  // the fourth block
    EXPECT_FALSE(s.transfer.SendConfiguration());
    EXPECT_EQ(s.transfer.failure(), TransferFailure::LineFailed);
    EXPECT_NE(s.transfer.lineError().find("write failed"), std::string::npos);
}

TEST(Upload, SuccessWaitsUntilTheDriverHasSentEverything) {
    Session draining(answer(bytes("ID=")), answer(kGoAheadAnswer));
    std::size_t backlog = 4096;  // sent slowly, for longer than the stall time-out, but sent
    draining.line.unsent = [&] { return backlog = backlog > 10 ? backlog - 10 : 0; };
    const auto began = draining.clock.now;
    EXPECT_TRUE(draining.transfer.SendConfiguration());
    EXPECT_EQ(backlog, 0u);
    EXPECT_GT(draining.clock.now - began, 3s);

    Session stalled(answer(bytes("ID=")), answer(kGoAheadAnswer));
    stalled.line.unsent = [] { return std::size_t{1200}; };
    const auto start = stalled.clock.now;
    EXPECT_FALSE(stalled.transfer.SendConfiguration());
    EXPECT_EQ(stalled.transfer.failure(), TransferFailure::LineFailed);
    EXPECT_LT(stalled.clock.now - start, 4s);
}

namespace {

ConfigImage boardImage() {
    ConfigImage image;
    for (std::size_t i = 0; i < kImageSize; ++i) image[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 13));
    return image;
}

std::vector<Piece> framePieces(const Bytes& frame, std::size_t pieceSize, std::chrono::milliseconds gap) {
    std::vector<Piece> pieces;
    auto at = 1ms;
    for (std::size_t i = 0; i < frame.size(); i += pieceSize, at += gap)
        pieces.push_back({Bytes(frame.begin() + i, frame.begin() + std::min(frame.size(), i + pieceSize)), at});
    return pieces;
}

}  // namespace

TEST(Download, GoodFrameIsUnpackedAndNothingElseChanges) {
    const Bytes frame = sim::buildDownloadFrame(boardImage(), false);
    Session s(answer(bytes("ID=\r")), framePieces(frame, 700, 300ms));
    const ConfigImage before = s.image;
    ASSERT_TRUE(s.transfer.ReceiveConfiguration());
    EXPECT_EQ(s.host.delays, (std::vector<int>{200, 50}));
    EXPECT_EQ(s.line.allWritten(), (Bytes{0x0D, 0x1B, 'P', 'G', '3', 0x0D}));
    EXPECT_EQ(s.host.status(), "  Downloading Now ......");
    EXPECT_EQ(s.host.range, std::make_pair(0, 8846));
    EXPECT_EQ(s.host.position, 8845);
    char sum[8];
    std::snprintf(sum, sizeof sum, "%02X%02X", frame[8844], frame[8845]);
    EXPECT_EQ(s.host.notes, (std::vector<std::string>{"logon answered \"ID=\" CR", "service request ESC \"PG3\" CR sent",
                                                          "frame of 8846 bytes received",
                                                          std::string("checksum matches (") + sum + ")"}));
    ConfigImage expected = before;
    unpackDownloadFrame(frame.data(), expected);
    EXPECT_EQ(s.image.bytes(), expected.bytes());
    EXPECT_EQ(std::memcmp(s.image.capcodeSlot(799), boardImage().capcodeSlot(799), 22), 0);
    EXPECT_EQ(std::memcmp(s.image.capcodeSlot(100), before.capcodeSlot(100), 32), 0);
}

TEST(Download, FailuresLeaveTheImageAsItWas) {
    const Bytes good = sim::buildDownloadFrame(boardImage(), false);
    struct Case { const char* name; std::vector<Piece> pieces; TransferFailure failure; const char* reason; };
    const std::vector<Case> cases = {
        {"wrong checksum", answer(sim::buildDownloadFrame(boardImage(), true)), TransferFailure::FrameChecksum,
         "the configuration from the board has a wrong checksum"},
        {"cut short", answer(Bytes(good.begin(), good.begin() + 4000)), TransferFailure::FrameTimeout,
         "the board stopped sending after 4000 of 8846 bytes of the configuration"},
        {"a NAK instead of the frame", answer({0x15, 0x0D}), TransferFailure::FrameTimeout,
         "the board answered NAK CR instead of the configuration"},
        {"flood before the frame", answer(Bytes(9001, 0)), TransferFailure::InputFlood,
         "more than 9,000 unexpected bytes were waiting on the line"},
        {"no frame", {}, TransferFailure::NoFrame, "the board sent no configuration within 2 seconds of the request"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(answer(bytes("ID=")), c.pieces);
        const ConfigImage before = s.image;
        EXPECT_FALSE(s.transfer.ReceiveConfiguration());
        EXPECT_EQ(s.transfer.failure(), c.failure);
        EXPECT_EQ(s.transfer.failureReason(), c.reason);
        EXPECT_EQ(s.image.bytes(), before.bytes());
        EXPECT_LT(s.clock.sinceStart(), 2500ms) << "each byte waits at most the silence time-out";
    }
}

TEST(Download, SilenceIsCountedFromTheLastByte) {
    const Bytes frame = sim::buildDownloadFrame(boardImage(), false);
    // Pieces 1.9 s apart: slow, but never silent for 2 s.
    Session s(answer(bytes("ID=")), framePieces(frame, 2000, 1900ms));
    EXPECT_TRUE(s.transfer.ReceiveConfiguration());
}

// A board that keeps the line moving, but far slower than it carries bytes,
// is given up at twice the transfer's wire time plus half a minute (the read:
// 8,856 bytes and 250 ms of pauses, 40.6 s), not hours later.
TEST(Bound, ATransferThatCrawlsIsGivenUpAtTwiceItsWireTimeAndHalfAMinute) {
    const Bytes frame = sim::buildDownloadFrame(boardImage(), false);
    Session reading(answer(bytes("ID=")), framePieces(frame, 1, 1900ms));
    EXPECT_FALSE(reading.transfer.ReceiveConfiguration());
    EXPECT_EQ(reading.transfer.failureReason(), "the board sent 22 of 8846 bytes in 41 s: far slower than the line");
    EXPECT_GE(reading.clock.sinceStart(), 40648ms);
    EXPECT_LT(reading.clock.sinceStart(), 40648ms + 1900ms);

    // The driver drains its 4 KB queue a byte every 1.9 s: never still for
    // the 2 s that make a stall, never done either (an upload of the default
    // image is 30,376 bytes on the line, 66.0 s allowed).
    Session sending(answer(bytes("ID=")), answer(kGoAheadAnswer));
    std::size_t backlog = 4000;
    auto drained = sending.clock.now;
    sending.line.unsent = [&] {
        if (sending.clock.now - drained >= 1900ms) drained = sending.clock.now, --backlog;
        return backlog;
    };
    EXPECT_FALSE(sending.transfer.SendConfiguration());
    EXPECT_EQ(sending.transfer.failure(), TransferFailure::TooSlow);
    EXPECT_EQ(sending.transfer.failureReason(), "the port sent 26410 of 30376 bytes in 66 s: far slower than the line");
}
