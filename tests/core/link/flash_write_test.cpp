// The firmware write and the presence probe through the real serial layer,
// against a flash loader answering on a pseudo-terminal: the whole run, each
// way it can fail, and what the window is told meanwhile.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "core/flash/programmer.h"
#include "core/link/serial_port.h"
#include "flash_board.h"
#include "memory_line.h"
#include "recording_host.h"

using namespace qm730;
using namespace qm730::test;
using namespace std::chrono_literals;

namespace {

// 16 KiB of firmware from 0xD0000 that holds bytes needing stuffing, with
// block 3 all zeros; the rest of the image is erased flash.
std::unique_ptr<Firmware> sixteenKiB() {
    auto firmware = std::make_unique<Firmware>();
    for (std::size_t i = 0; i < 16 * 1024; ++i)
        firmware->image.bytes[i] = i / 2048 == 3 ? 0x00 : static_cast<std::uint8_t>(i * 7 + i / 256);
    firmware->image.BytesLoaded = 16 * 1024;
    firmware->image.storeChecksum();
    firmware->fileName = "/firmware/test.s19";
    return firmware;
}

struct WriteSession {
    explicit WriteSession(BoardScript script = {}) : board(std::move(script)) {}
    FlashOutcome write() {
        const auto start = Clock::now();
        outcome = WriteFirmware(link, board.port(), *firmware);
        took = Clock::now() - start;
        return outcome;
    }
    std::vector<std::uint8_t> commands() {
        std::vector<std::uint8_t> seen;
        for (const ReceivedFrame& frame : board.frames()) seen.push_back(frame.command);
        return seen;
    }

    FlashBoard board;
    RecordingHost host;
    LinkState state;
    SerialPort port;
    BoardLink link{port, host, state};
    std::unique_ptr<Firmware> firmware = sixteenKiB();
    FlashOutcome outcome;
    Clock::duration took{};
};

// Every way a started run ends leaves the window at rest.
void expectAtRest(const WriteSession& run) {
    EXPECT_FALSE(run.port.isOpen());
    ASSERT_FALSE(run.host.statuses.empty());
    EXPECT_EQ(run.host.statuses.back(), " Ready");
    EXPECT_EQ(run.host.position, 0);
    ASSERT_GE(run.host.writeEnabled.size(), 2u);
    EXPECT_FALSE(run.host.writeEnabled.front());
    EXPECT_TRUE(run.host.writeEnabled.back());
    const std::vector<std::string> boxes = run.host.noticeTexts();
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "Transmit Success!"), 0);
}

}  // namespace

TEST(FlashWrite, WholeRunProgramsTheBoardAndReadsEveryWrittenBlockBack) {
    BoardScript script;
    script.endBytesInDataFrameHead = true;  // dropped: they come before the 15th byte
    // Late, but within the 5,050 ms a data frame is waited for.
    script.lateReadBlock = 0;
    script.lateReadBy = 1200ms;
    WriteSession run(script);
    // Blocks whose one programmed byte is their first, or their last.
    run.firmware->image.bytes[20 * 2048] = 0x00;
    run.firmware->image.bytes[40 * 2048 + 2047] = 0x7E;
    run.firmware->image.storeChecksum();
    // A file loaded while the run serves the windows does not get mixed in.
    const auto image = run.firmware->image.bytes;
    run.host.onStatus = [&](const std::string& text) {
        if (text == " Write ......") run.firmware->image.bytes.fill(0x5A);
    };
    const FlashOutcome outcome = run.write();
    ASSERT_TRUE(outcome.ok()) << describeFlashOutcome(outcome);

    // Check, both erases, then the eight firmware blocks, the two of one
    // byte and the checksum's block written and read back: 11 frames each
    // way, not 64.
    const std::vector<int> blocks{0, 1, 2, 3, 4, 5, 6, 7, 20, 40, 63};
    const std::vector<ReceivedFrame> frames = run.board.frames();
    ASSERT_EQ(frames.size(), 3u + 11 + 11);
    EXPECT_EQ(frames[0].command, 0x18);
    EXPECT_EQ(frames[1].address, 0xD0000u);
    EXPECT_EQ(frames[2].address, 0xE0000u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(frames[i].sound) << "frame " << i;
        EXPECT_EQ(frames[i].htag, 0x81 + i) << "the sequence byte advances before every frame";
        if (i < 3) continue;
        const bool writing = i < 14;
        EXPECT_EQ(frames[i].command, writing ? 0x11 : 0x12);
        EXPECT_EQ(frames[i].address, 0xD0000u + 2048u * static_cast<unsigned>(blocks[(i - 3) % 11]));
        EXPECT_EQ(frames[i].count, 2048);
    }
    EXPECT_EQ(run.state.Htag, 0x81 + frames.size() - 1);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), run.board.flash().begin()))
        << "the board's flash holds the image, zero block and erased rest included";

    // The board is given a second after each erase.
    EXPECT_GE(frames[2].at - frames[1].answeredAt, 1000ms);
    EXPECT_GE(frames[3].at - frames[2].answeredAt, 1000ms);

    EXPECT_EQ(run.host.statuses,
              (std::vector<std::string>{" Verify ......", " Erase ......", " Write ......", " Read ......", " Ready"}));
    EXPECT_EQ(run.host.positionAtStatus[1], 27) << "the check frame is 27 bytes on the line";
    EXPECT_EQ(run.host.maxima, (std::vector<int>{27, 27, 16384 + 30000, 16384 + 30000}));
    EXPECT_EQ(run.host.noticeTexts(), (std::vector<std::string>{"Transmit Success!"}));
    ASSERT_EQ(run.host.notices.size(), 1u);
    EXPECT_EQ(run.host.notices[0].caption, "QM730C");
    EXPECT_EQ(run.host.writeEnabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(run.host.position, 0);
    EXPECT_FALSE(run.port.isOpen());
}

struct FailureCase {
    const char* name;
    BoardScript script;
    FlashResult result;
    LinkFailure failure;
    FlashStep step;
    int block;
    std::vector<std::string> notices;
    std::vector<std::uint8_t> commands;  // what the board received
    bool closePortAtReadPass = false;    // another command closes the shared port under the run
};

std::ostream& operator<<(std::ostream& out, const FailureCase& c) { return out << c.name; }

class FlashWriteFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FlashWriteFailure, EndsAsTheFailureItIsWithThePortClosed) {
    const FailureCase& c = GetParam();
    WriteSession run(c.script);
    if (c.closePortAtReadPass)
        run.host.onStatus = [&](const std::string& text) {
            if (text == " Read ......") run.port.close();
        };
    const FlashOutcome outcome = run.write();
    EXPECT_EQ(outcome.result, c.result) << describeFlashOutcome(outcome);
    EXPECT_EQ(outcome.failure, c.failure) << describeFlashOutcome(outcome);
    EXPECT_EQ(outcome.step, c.step);
    EXPECT_EQ(outcome.block, c.block);
    EXPECT_EQ(run.host.noticeTexts(), c.notices);
    if (!c.commands.empty()) {
        EXPECT_EQ(run.commands(), c.commands);
    }
    expectAtRest(run);
    if (c.failure == LinkFailure::Timeout) {
        EXPECT_GE(run.took, 5050ms) << "a reply byte is waited for 101 x 50 ms";
    }
}

namespace {

BoardScript script(std::function<void(BoardScript&)> change) {
    BoardScript s;
    change(s);
    return s;
}

const std::vector<std::uint8_t> kUpToReadOfBlock1{0x18, 0x10, 0x10, 0x11, 0x11, 0x11, 0x11, 0x11,
                                                  0x11, 0x11, 0x11, 0x11, 0x12, 0x12};

}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Board, FlashWriteFailure,
    ::testing::Values(
        // A spare "accepted" reply left on the line must not answer for the
        // refused erase.
        FailureCase{"RefusedErase", script([](BoardScript& s) {
                        s.refuseErase = 0xE0000;
                        s.strayAcceptAfterFirstErase = true;
                    }),
                    FlashResult::TransmitError, LinkFailure::Refused, FlashStep::Erase, -1, {"Transmit Error!"},
                    {0x18, 0x10, 0x10}},
        FailureCase{"RefusedBlockWrite", script([](BoardScript& s) { s.refuseWriteBlock = 2; }),
                    FlashResult::TransmitError, LinkFailure::Refused, FlashStep::Write, 2, {"Transmit Error!"},
                    {0x18, 0x10, 0x10, 0x11, 0x11, 0x11}},
        // Frames 0x81..0x8C go before the reads; block 5 is the sixth read.
        FailureCase{"ReadBackDiffers", script([](BoardScript& s) { s.corruptReadBlock = 5; }),
                    FlashResult::VerifyMismatch, LinkFailure::None, FlashStep::Read, 5, {"Read Error! Htag = 146"}, {}},
        FailureCase{"ReadBackDiffersInItsLastByte", script([](BoardScript& s) {
                        s.corruptReadBlock = 5;
                        s.corruptReadByte = 2047;
                    }),
                    FlashResult::VerifyMismatch, LinkFailure::None, FlashStep::Read, 5, {"Read Error! Htag = 146"}, {}},
        FailureCase{"ShortDataFrame", script([](BoardScript& s) {
                        s.faultBlock = 1;
                        s.fault = DataFault::Short;
                    }),
                    FlashResult::TransmitError, LinkFailure::FrameTooShort, FlashStep::Read, 1, {"Transmit Error!"},
                    kUpToReadOfBlock1},
        FailureCase{"OverlongDataFrame", script([](BoardScript& s) {
                        s.faultBlock = 0;
                        s.fault = DataFault::Overlong;
                    }),
                    FlashResult::TransmitError, LinkFailure::FrameTooLong, FlashStep::Read, 0, {"Transmit Error!"}, {}},
        FailureCase{"DataFrameEndsInAnEscape", script([](BoardScript& s) {
                        s.faultBlock = 1;
                        s.fault = DataFault::LoneEscape;
                    }),
                    FlashResult::TransmitError, LinkFailure::FrameBadEscape, FlashStep::Read, 1, {"Transmit Error!"},
                    kUpToReadOfBlock1},
        FailureCase{"DataFrameWithABrokenEscape", script([](BoardScript& s) {
                        s.faultBlock = 63;
                        s.fault = DataFault::BadEscape;
                    }),
                    FlashResult::TransmitError, LinkFailure::FrameBadEscape, FlashStep::Read, 63, {"Transmit Error!"}, {}},
        FailureCase{"DeviceGoneMidRun", script([](BoardScript& s) { s.hangUpOnFirstWrite = true; }),
                    FlashResult::TransmitError, LinkFailure::LineFailed, FlashStep::Write, 0, {"Transmit Error!"}, {}},
        FailureCase{"PortClosedUnderTheRun", {}, FlashResult::TransmitError, LinkFailure::LineFailed, FlashStep::Read,
                    -1, {"Transmit Error!"}, {}, true},
        FailureCase{"SilentAfterTheCheck", script([](BoardScript& s) { s.silentAfterCheck = true; }),
                    FlashResult::TransmitError, LinkFailure::Timeout, FlashStep::Erase, -1, {"Transmit Error!"},
                    {0x18, 0x10}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(FlashWrite, BoardThatDoesNotAnswerTheCheckIsNotFound) {
    for (const bool refusing : {false, true}) {
        SCOPED_TRACE(refusing ? "refusing board" : "silent board");
        WriteSession run(script([&](BoardScript& s) {
            s.silent = !refusing;
            s.refuseCheck = refusing;
        }));
        run.host.pumps = true;
        const FlashOutcome outcome = run.write();
        EXPECT_EQ(outcome.result, FlashResult::BoardNotFound);
        EXPECT_EQ(outcome.failure, refusing ? LinkFailure::Refused : LinkFailure::Timeout);
        EXPECT_EQ(run.host.statuses, (std::vector<std::string>{" Verify ......", " Error", " Ready"}));
        EXPECT_EQ(run.host.noticeTexts(), (std::vector<std::string>{"The target board is not found !"}));
        EXPECT_EQ(run.commands(), (std::vector<std::uint8_t>{0x18}));
        expectAtRest(run);
        if (!refusing) {
            EXPECT_GE(run.took, 100ms + 303ms) << "the settling pause, then 101 x 3 ms for the first reply byte";
            EXPECT_GE(run.host.events, 10) << "the windows are served while the line is waited on";
        }
    }
}

TEST(FlashWrite, NoFileOrNoPortStopsBeforeTheBoard) {
    WriteSession run;
    run.firmware->forget();
    FlashOutcome outcome = run.write();
    EXPECT_EQ(outcome.result, FlashResult::NoFile);
    EXPECT_EQ(run.host.noticeTexts(), (std::vector<std::string>{"Please open file first !"}));
    EXPECT_TRUE(run.host.writeEnabled.empty());
    EXPECT_TRUE(run.host.statuses.empty());

    RecordingHost host;
    LinkState state;
    SerialPort port;
    BoardLink link(port, host, state);
    outcome = WriteFirmware(link, "/dev/qm730-no-such-port", *sixteenKiB());
    EXPECT_EQ(outcome.result, FlashResult::PortFailed);
    EXPECT_EQ(host.noticeTexts(), (std::vector<std::string>{"Error opening comm port. Port already in use?",
                                                      "The target board is not found !"}));
    EXPECT_EQ(host.statuses.back(), " Ready");
    EXPECT_EQ(host.writeEnabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(describeFlashOutcome(outcome).rfind("cannot open the port: ", 0), 0u) << describeFlashOutcome(outcome);
    EXPECT_TRUE(run.board.frames().empty());
}

TEST(Probe, AnswersJudgedOnOneByteAfterStaleInputIsDropped) {
    struct Case {
        const char* name;
        BoardScript script;
        ProbeResult result;
    };
    const std::vector<Case> cases{
        {"answered", {}, ProbeResult::Answered},
        // A stale 06 waiting from before must not pass for the answer.
        {"refused", script([](BoardScript& s) {
             s.probeAnswer = 0x15;
             s.onLineAtStart = {0x06};
         }),
         ProbeResult::WrongAnswer},
        {"silent", script([](BoardScript& s) { s.probesUnanswered = 1000; }), ProbeResult::NoAnswer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlashBoard board(c.script);
        RecordingHost host;
        LinkState state;
        SerialPort port;
        BoardLink link(port, host, state);
        ASSERT_TRUE(link.OpenLinkPort(board.port()));
        link.SetProgress(0);
        const auto start = Clock::now();
        EXPECT_EQ(link.ProbeBoard(), c.result);
        if (c.result == ProbeResult::NoAnswer) {
            EXPECT_GE(Clock::now() - start, 1010ms);
        }
        EXPECT_EQ(host.position, 1) << "the probe's own byte";
        EXPECT_EQ(board.probes(), 1);
        EXPECT_TRUE(port.isOpen());
        EXPECT_TRUE(host.notices.empty());
        EXPECT_EQ(state.Htag, 0x80) << "a probe is not a frame";
    }
}

TEST(Probe, ProbingUntilAnsweredAndWhenTheLineGoes) {
    FlashBoard late(script([](BoardScript& s) { s.probesUnanswered = 2; }));
    RecordingHost host;
    LinkState state;
    SerialPort port;
    BoardLink link(port, host, state);
    const auto opened = Clock::now();
    ProbeOutcome outcome = ProbeUntilAnswered(link, late.port(), 10s);
    EXPECT_EQ(outcome.result, ProbeResult::Answered);
    EXPECT_EQ(outcome.probes, 3);
    ASSERT_FALSE(late.probeTimes().empty());
    EXPECT_GE(late.probeTimes().front() - opened, 100ms) << "the first probe comes a tick after the port opens";
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(state.busy);

    FlashBoard stranger(script([](BoardScript& s) { s.probeAnswer = 0x15; }));
    outcome = ProbeUntilAnswered(link, stranger.port(), 1s);
    EXPECT_EQ(outcome.result, ProbeResult::WrongAnswer);
    EXPECT_GE(outcome.probes, 2) << "another byte than 06 is probed again until the time is up";

    FlashBoard gone(script([](BoardScript& s) { s.hangUpOnProbe = true; }));
    outcome = ProbeUntilAnswered(link, gone.port(), 10s);
    EXPECT_EQ(outcome.result, ProbeResult::LineFailed) << "probing stops";
    EXPECT_EQ(outcome.probes, 1);
    EXPECT_EQ(host.noticeTexts(), (std::vector<std::string>{"Error opening comm port."}));
    EXPECT_FALSE(port.isOpen());

    // Cancelling the dialog closes the port while its probe waits: the probe
    // ends quietly.
    FlashBoard silent(script([](BoardScript& s) { s.probesUnanswered = 1000; }));
    host.notices.clear();
    host.pumps = true;
    host.onEvents = [&] { port.close(); };
    ASSERT_TRUE(link.OpenLinkPort(silent.port()));
    EXPECT_EQ(link.ProbeBoard(), ProbeResult::PortNotOpen);
    EXPECT_TRUE(host.notices.empty());
    host.onEvents = nullptr;

    outcome = ProbeUntilAnswered(link, "/dev/qm730-no-such-port", 10s);
    EXPECT_EQ(outcome.result, ProbeResult::PortNotOpen);
    EXPECT_EQ(outcome.probes, 0);
    EXPECT_EQ(host.noticeTexts(), (std::vector<std::string>{"Error opening comm port. Port already in use?"}));
}

// A byte the line has counted is read within a second; one that never
// comes is a failing line, not a silent board.
TEST(BoardLinkLine, AByteCountedButNeverReadFailsTheLineAfterASecond) {
    struct MiscountingLine : MemoryLine {
        using MemoryLine::MemoryLine;
        std::size_t bytesWaiting() override { return 1; }
    };
    VirtualClock clock;
    MiscountingLine line(clock);
    RecordingHost host;
    LinkState state;
    BoardLink link(line, host, state);
    std::array<std::uint8_t, kReplySize> reply{};
    EXPECT_FALSE(link.ReadReply(reply));
    EXPECT_EQ(link.lastFailure(), LinkFailure::LineFailed);
    EXPECT_EQ(link.failureDetail(), "no byte arrived");
    EXPECT_GE(clock.sinceStart(), 1000ms) << "the byte is given its time to come";
    EXPECT_FALSE(line.isOpen());
}

// The read of the whole flash for a backup: every block, blank or not, in
// increasing order, and the image replaced only by a complete read.
namespace {

struct ReadOutSession {
    explicit ReadOutSession(BoardScript script) : board(std::move(script)) { image->bytes.fill(0x5A); }
    FlashOutcome read() { return ReadFirmware(link, board.port(), *image); }

    FlashBoard board;
    RecordingHost host;
    LinkState state;
    SerialPort port;
    BoardLink link{port, host, state};
    std::unique_ptr<FlashImage> image = std::make_unique<FlashImage>();
};

void expectReadOutAtRest(const ReadOutSession& run) {
    EXPECT_FALSE(run.port.isOpen());
    EXPECT_FALSE(run.state.busy);
    ASSERT_FALSE(run.host.statuses.empty());
    EXPECT_EQ(run.host.statuses.back(), " Ready");
    EXPECT_EQ(run.host.position, 0);
    EXPECT_EQ(run.host.writeEnabled, (std::vector<bool>{false, true}));
}

}  // namespace

TEST(FlashReadOut, ReadsEveryBlockIntoTheImage) {
    // Data that needs stuffing, a zero block, erased blocks and stray bytes
    // where the checksum goes.
    Bytes flash(0x20000, 0xFF);
    for (std::size_t i = 0; i < 0x3000; ++i) flash[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    std::fill_n(flash.begin() + 10 * 2048, 2048, 0x00);
    flash[0x1FFFE] = 0x03;
    flash[0x1FFFF] = 0x1B;
    BoardScript script;
    script.flashAtStart = flash;
    script.endBytesInDataFrameHead = true;
    ReadOutSession run(script);

    const FlashOutcome outcome = run.read();
    ASSERT_TRUE(outcome.ok()) << describeFlashOutcome(outcome);
    EXPECT_EQ(outcome.blocksRead, 64);
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), run.image->bytes.begin()));

    const std::vector<ReceivedFrame> frames = run.board.frames();
    ASSERT_EQ(frames.size(), 65u);
    EXPECT_EQ(frames[0].command, 0x18);
    for (std::size_t i = 1; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(frames[i].sound);
        EXPECT_EQ(frames[i].command, 0x12);
        EXPECT_EQ(frames[i].address, 0xD0000u + 2048u * (i - 1));
        EXPECT_EQ(frames[i].count, 2048);
    }
    EXPECT_EQ(run.board.flash(), flash) << "nothing is erased or written";

    EXPECT_EQ(run.host.statuses, (std::vector<std::string>{" Verify ......", " Read ......", " Ready"}));
    EXPECT_EQ(run.host.maxima, (std::vector<int>{27, 64 * (27 + 2064)}));
    EXPECT_TRUE(run.host.notices.empty()) << "keeping the result is the caller's part";
    expectReadOutAtRest(run);
}

TEST(FlashReadOut, AFailedReadEndsAsAFailedWriteDoesAndKeepsTheImage) {
    struct Case {
        const char* name;
        BoardScript script;
        FlashResult result;
        const char* notice;
        std::size_t frames;
        const char* described;
    };
    const std::vector<Case> cases{
        {"silent board", script([](BoardScript& s) { s.silent = true; }), FlashResult::BoardNotFound,
         "The target board is not found !", 1, "the target board is not found: no answer to the board check"},
        {"short data frame", script([](BoardScript& s) {
             s.faultBlock = 40;
             s.fault = DataFault::Short;
         }),
         FlashResult::TransmitError, "Transmit Error!", 44,
         "block 40 (E4000) did not arrive sound in 3 reads: the board's data frame was too short to hold a block"},
        {"a data byte lost on the line", script([](BoardScript& s) {
             s.faultBlock = 5;
             s.fault = DataFault::LostByte;
         }),
         FlashResult::TransmitError, "Transmit Error!", 9,
         "block 5 (D2800) did not arrive sound in 3 reads: the board's data frame was not laid out as the answer to "
         "a block read: it is 2063 bytes instead of 2064"},
        {"broken escape in the last block", script([](BoardScript& s) {
             s.faultBlock = 63;
             s.fault = DataFault::BadEscape;
         }),
         FlashResult::TransmitError, "Transmit Error!", 67,
         "block 63 (EF800) did not arrive sound in 3 reads: the board's data frame held a broken escape sequence"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadOutSession run(c.script);
        const FlashOutcome outcome = run.read();
        EXPECT_EQ(outcome.result, c.result);
        const std::string described = describeFlashOutcome(outcome);
        EXPECT_NE(described.find(c.described), std::string::npos) << described;
        EXPECT_EQ(run.host.noticeTexts(), (std::vector<std::string>{c.notice}));
        EXPECT_EQ(run.board.frames().size(), c.frames);
        EXPECT_TRUE(std::all_of(run.image->bytes.begin(), run.image->bytes.end(), [](std::uint8_t b) { return b == 0x5A; }))
            << "a partial read never reaches the image";
        expectReadOutAtRest(run);
    }
}
