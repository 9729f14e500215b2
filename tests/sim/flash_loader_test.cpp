// The simulated board's flash loader driven through its pseudo-terminal the
// way the program drives it, with frames the test writes itself: the probe,
// the NOR flash behind the commands, damaged frames, every fault option and
// the flash files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "file_bytes.h"
#include "request_frames.h"
#include "run_ctl.h"
#include "sim_process.h"
#include "tempdir.h"

using namespace qm730::test;
using qm730::fileBytes;
using qm730::writeFileText;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFlash = 0x20000;
// Long enough for an answer on a loaded machine; only a missing answer waits it out.
constexpr auto kAnswerLimit = 10s;
// How long a test listens for an answer that must not come.
constexpr auto kSilence = 700ms;

Bytes erasedFlash() { return Bytes(kFlash, 0xFF); }

Bytes blockIn(const Bytes& flash, int block) {
    return Bytes(flash.begin() + block * 2048, flash.begin() + (block + 1) * 2048);
}

class Loader : public ::testing::Test {
protected:
    std::string file(const std::string& name) const { return dir_.file(name); }
    std::string log() const { return fileText(file("sim.err")); }

    // Starts qm730sim with the arguments and opens its line.
    void start(const std::vector<std::string>& args) {
        port_.reset();
        sim_ = std::make_unique<SimProcess>(args, file("sim.err"));
        const std::string device = sim_->firstLine(kAnswerLimit);
        ASSERT_FALSE(device.empty()) << log();
        port_ = std::make_unique<TestPort>(device);
        ASSERT_TRUE(port_->isOpen());
    }
    // Stops it as an operator would; its exit status.
    int stop() {
        port_.reset();
        return sim_->stop();
    }

    Bytes exchange(const Bytes& wire, std::size_t answerBytes = 4) {
        port_->write(wire);
        return port_->read(answerBytes, kAnswerLimit);
    }
    // Nothing at all comes back for a while.
    bool unanswered(const Bytes& wire) {
        port_->write(wire);
        return port_->read(1, kSilence).empty();
    }
    // The data frame answering a block read, unstuffed.
    Bytes readBack(std::uint8_t htag, int block) {
        port_->write(readFrame(htag, block));
        return unstuffDataFrame(port_->readThroughEnd(kAnswerLimit));
    }

    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TestPort> port_;
};

}  // namespace

TEST_F(Loader, AProbeIsAnsweredWith06AndTheFirstNIgnoredWhenAsked) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    EXPECT_EQ(exchange({0x0E}, 1), Bytes{0x06});
    EXPECT_EQ(exchange({0x0E}, 1), Bytes{0x06});

    ASSERT_NO_FATAL_FAILURE(start({"--ignore-probes", "2"}));
    EXPECT_TRUE(unanswered({0x0E}));
    EXPECT_TRUE(unanswered({0x0E}));
    EXPECT_EQ(exchange({0x0E}, 1), Bytes{0x06});
    EXPECT_NE(log().find("probe 2 of the first 2 ignored"), std::string::npos) << log();
    EXPECT_NE(log().find("probe answered"), std::string::npos) << log();
}

TEST_F(Loader, ABlockWrittenAfterAnEraseReadsBackInAWellFormedDataFrame) {
    ASSERT_NO_FATAL_FAILURE(start({"--flash-save", file("flash.bin")}));
    EXPECT_EQ(exchange(checkFrame(0x81)), accepted(0x81));
    EXPECT_EQ(exchange(eraseFrame(0x82, 0xD0000)), accepted(0x82));
    const Bytes data = patternBlock(3);  // holds 03 and 1B: stuffed both ways
    EXPECT_EQ(exchange(writeFrame(0x83, 5, data)), accepted(0x83));

    // An Htag of 1B is echoed, stuffed in the data frame's header.
    port_->write(readFrame(0x1B, 5));
    const Bytes wire = port_->readThroughEnd(kAnswerLimit);
    EXPECT_EQ(std::count(wire.begin(), wire.end(), 0x03), 1) << "the end byte is the only unstuffed 03";
    const Bytes frame = unstuffDataFrame(wire);
    ASSERT_EQ(frame.size(), 14u + 2048 + 2);
    const Bytes header{0x02, 0x1B, 0x0A, 0x08, 0x12, 0xED, 0x00, 0x28, 0x0D, 0xFF, 0xD7, 0xF2, 0x00, 0x08};
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 14), header);
    EXPECT_EQ(blockOf(frame), data);
    unsigned sum = 0;
    for (std::size_t i = 0; i < 14 + 2048; ++i) sum += frame[i];
    EXPECT_EQ(frame[2062] | frame[2063] << 8, static_cast<int>(sum & 0xFFFF));

    EXPECT_EQ(blockOf(readBack(0x85, 6)), Bytes(2048, 0xFF)) << "the block beside it is still erased";
    EXPECT_NE(log().find("Htag 131: wrote block 5 (D2800)"), std::string::npos) << log();

    EXPECT_EQ(stop(), 0);
    Bytes expected = erasedFlash();
    std::copy(data.begin(), data.end(), expected.begin() + 5 * 2048);
    EXPECT_TRUE(fileBytes(file("flash.bin")) == expected) << "the saved flash holds the block and nothing else";
}

TEST_F(Loader, TheFlashBehavesAsNorFlashErasedBySectorAndWrittenByAnding) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    const Bytes first = patternBlock(1), second = patternBlock(90);
    Bytes anded(2048);
    for (std::size_t i = 0; i < anded.size(); ++i) anded[i] = first[i] & second[i];
    ASSERT_NE(anded, second);

    // A fresh flash is erased, so the first write needs no erase.
    EXPECT_EQ(exchange(writeFrame(0x81, 0, first)), accepted(0x81));
    EXPECT_EQ(exchange(writeFrame(0x82, 32, first)), accepted(0x82));
    EXPECT_EQ(blockOf(readBack(0x83, 0)), first);
    // Without an erase a write can only clear bits.
    EXPECT_EQ(exchange(writeFrame(0x84, 0, second)), accepted(0x84)) << "the loader cannot tell; the read-back can";
    EXPECT_EQ(blockOf(readBack(0x85, 0)), anded);
    EXPECT_NE(log().find("it was not erased, so some bits could not be set"), std::string::npos) << log();

    // An erase sets its own 64 KiB to FF and leaves the other half alone.
    EXPECT_EQ(exchange(eraseFrame(0x86, 0xE0000)), accepted(0x86));
    EXPECT_EQ(blockOf(readBack(0x87, 32)), Bytes(2048, 0xFF));
    EXPECT_EQ(blockOf(readBack(0x88, 63)), Bytes(2048, 0xFF));
    EXPECT_EQ(blockOf(readBack(0x89, 0)), anded);
    EXPECT_EQ(exchange(eraseFrame(0x8A, 0xD0000)), accepted(0x8A));
    EXPECT_EQ(exchange(writeFrame(0x8B, 0, second)), accepted(0x8B));
    EXPECT_EQ(blockOf(readBack(0x8C, 0)), second);
}

namespace {

struct Damaged {
    const char* name;
    Bytes wire;
    std::uint8_t htag;
    std::string reported;
};

std::vector<Damaged> damagedFrames() {
    std::vector<Damaged> cases;
    auto changed = [](Bytes plain, std::size_t at, std::uint8_t value) {
        plain[at] = value;
        resum(plain);
        return onLine(plain);
    };
    const Bytes check = request(0x90, cmd::check, 0, 0);
    Bytes badSum = check;
    badSum[badSum.size() - 2] ^= 0x01;  // the sum of this frame is 0890
    cases.push_back({"checksum", onLine(badSum), 0x90, "checksum 0891 does not match the frame's sum 0890"});
    cases.push_back({"complement", changed(request(0x91, cmd::check, 0, 0), 5, 0xE6), 0x91,
                     "command complement E6 does not match command 18"});
    cases.push_back({"length", changed(request(0x92, cmd::check, 0, 0), 2, 11), 0x92, "length 11 is not count 0 + 10"});
    Bytes shortData = request(0x93, cmd::write, 0xD0000, 2048, Bytes(2047, 0x00));
    cases.push_back({"data short of the count", onLine(shortData), 0x93,
                     "the frame is 2073 bytes; with command 11 and count 2048 it should be 2074"});
    cases.push_back({"key", changed(request(0x94, cmd::check, 0, 0), 15, 'a'), 0x94,
                     "key 'VolmarKina' is not 'VolmarKine'"});
    cases.push_back({"address complement", changed(request(0x95, cmd::erase, 0xD0000, 0), 21, 0xF3), 0x95,
                     "address complement F3FFFF does not match address D0000"});
    Bytes badEscape = onLine(request(0x96, cmd::check, 0, 0));
    badEscape.insert(badEscape.begin() + 8, {0x1B, 0x00});
    cases.push_back({"escape", badEscape, 0x96, "escape 1B followed by 00, which stands for no byte"});
    Bytes loneEscape = onLine(request(0x97, cmd::check, 0, 0));
    loneEscape.insert(loneEscape.end() - 1, 0x1B);
    cases.push_back({"escape at the end", loneEscape, 0x97, "the frame ends inside an escape (1B before the end byte)"});
    cases.push_back({"too short", {0x02, 0x98, 0x0A, 0x00, 0x18, 0xE7, 0x03}, 0x98,
                     "the frame is 6 bytes; a request has at least 26"});
    Bytes overlong(5000, 0x55);
    overlong.front() = 0x02;
    overlong.push_back(0x03);
    cases.push_back({"no end byte in time", overlong, 0x55, "no end byte within 4147 bytes: the frame is too long"});
    cases.push_back({"unknown command", requestOnLine(0x99, 0x20, 0, 0), 0x99, "unknown command 20"});
    cases.push_back({"check with an address", requestOnLine(0x9A, cmd::check, 0xD0000, 0), 0x9A,
                     "check with address D0000 and count 0; it takes address 0 and count 0"});
    cases.push_back({"erase elsewhere", requestOnLine(0x9B, cmd::erase, 0xC0000, 0), 0x9B,
                     "erase address C0000 is not D0000 or E0000"});
    cases.push_back({"write off a block start", requestOnLine(0x9C, cmd::write, 0xD0400, 2048, Bytes(2048, 0)), 0x9C,
                     "write address D0400 is not the start of a 2048-byte block in D0000 to EFFFF"});
    cases.push_back({"write past the flash", requestOnLine(0x9D, cmd::write, 0xF0000, 2048, Bytes(2048, 0)), 0x9D,
                     "write address F0000 is not the start of a 2048-byte block in D0000 to EFFFF"});
    cases.push_back({"write of half a block", requestOnLine(0x9E, cmd::write, 0xD0000, 1024, Bytes(1024, 0)), 0x9E,
                     "write count 1024 is not 2048"});
    cases.push_back({"read of half a block", requestOnLine(0x9F, cmd::read, 0xD0000, 1024), 0x9F,
                     "read count 1024 is not 2048"});
    return cases;
}

}  // namespace

TEST_F(Loader, EveryDamagedOrUnfitFrameIsRefusedAndTheReasonReported) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    for (const Damaged& c : damagedFrames()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(exchange(c.wire), refused(c.htag));
        EXPECT_NE(log().find(c.reported), std::string::npos) << log();
    }
    // None of them touched the flash, and the loader still takes sound frames.
    EXPECT_EQ(exchange(checkFrame(0xA0)), accepted(0xA0));
    EXPECT_EQ(blockOf(readBack(0xA1, 0)), Bytes(2048, 0xFF));
}

TEST_F(Loader, AFrameBrokenOffIsDroppedAndTheNextOneAnswered) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    const Bytes whole = checkFrame(0x81);
    port_->write(Bytes(whole.begin(), whole.begin() + 11));
    // The rest never comes; after two quiet seconds the board listens afresh.
    const std::string dropped = "request frame broken off after 11 bytes without an end byte; not answered";
    const auto deadline = Clock::now() + kAnswerLimit;
    while (log().find(dropped) == std::string::npos && Clock::now() < deadline) std::this_thread::sleep_for(50ms);
    EXPECT_NE(log().find(dropped), std::string::npos) << log();
    EXPECT_TRUE(port_->read(1, 10ms).empty()) << "nothing was answered";
    EXPECT_EQ(exchange(checkFrame(0x82)), accepted(0x82));
}

TEST_F(Loader, SilentAnswersNeitherProbesNorFramesNorTheLogon) {
    ASSERT_NO_FATAL_FAILURE(start({"--silent"}));
    EXPECT_TRUE(unanswered({0x0E}));
    EXPECT_TRUE(unanswered(checkFrame(0x81)));
    EXPECT_TRUE(unanswered({0x0D}));
}

TEST_F(Loader, RefuseFlashRefusesTheNamedCommandOnlyAndDoesNotCarryItOut) {
    const Bytes data = patternBlock(7);
    for (const char* refusedCommand : {"check", "erase", "write", "read"}) {
        SCOPED_TRACE(refusedCommand);
        const std::string name = refusedCommand;
        // Block 0 holds data from the start; a refused erase leaves it there.
        Bytes start0 = erasedFlash();
        std::fill_n(start0.begin(), 2048, 0x00);
        writeFileText(file("start.bin"), std::string(start0.begin(), start0.end()));
        ASSERT_NO_FATAL_FAILURE(start({"--flash-load", file("start.bin"), "--refuse-flash", refusedCommand}));
        EXPECT_EQ(exchange(checkFrame(0x81)), name == "check" ? refused(0x81) : accepted(0x81));
        EXPECT_EQ(exchange(eraseFrame(0x82, 0xD0000)), name == "erase" ? refused(0x82) : accepted(0x82));
        EXPECT_EQ(exchange(writeFrame(0x83, 1, data)), name == "write" ? refused(0x83) : accepted(0x83));
        if (name == "read") {
            EXPECT_EQ(exchange(readFrame(0x84, 1)), refused(0x84)) << "a refused read gets the 4-byte refusal";
            continue;
        }
        EXPECT_EQ(blockOf(readBack(0x84, 0)), name == "erase" ? Bytes(2048, 0x00) : Bytes(2048, 0xFF));
        EXPECT_EQ(blockOf(readBack(0x85, 1)), name == "write" ? Bytes(2048, 0xFF) : data);
        EXPECT_NE(log().find(name + " refused on purpose"), std::string::npos) << log();
    }
    ASSERT_NO_FATAL_FAILURE(start({"--refuse-flash", "erase,write", "--refuse-flash", "read"}));
    EXPECT_EQ(exchange(checkFrame(0x81)), accepted(0x81));
    EXPECT_EQ(exchange(eraseFrame(0x82, 0xE0000)), refused(0x82));
    EXPECT_EQ(exchange(writeFrame(0x83, 2, data)), refused(0x83));
    EXPECT_EQ(exchange(readFrame(0x84, 2)), refused(0x84));
}

TEST_F(Loader, CorruptReadbackSpoilsOnlyThatBlocksDataFrameNotTheFlash) {
    ASSERT_NO_FATAL_FAILURE(start({"--corrupt-readback", "1", "--corrupt-readback", "2:last", "--corrupt-readback",
                                   "2:1000", "--flash-save", file("flash.bin")}));
    const Bytes zero = patternBlock(0), one = patternBlock(1), two = patternBlock(2);
    EXPECT_EQ(exchange(writeFrame(0x81, 0, zero)), accepted(0x81));
    EXPECT_EQ(exchange(writeFrame(0x82, 1, one)), accepted(0x82));
    EXPECT_EQ(exchange(writeFrame(0x83, 2, two)), accepted(0x83));
    EXPECT_EQ(blockOf(readBack(0x84, 0)), zero);
    Bytes spoiltTwo = two;
    for (std::size_t byte : {1000, 2047}) spoiltTwo[byte] = static_cast<std::uint8_t>(~spoiltTwo[byte]);
    EXPECT_EQ(blockOf(readBack(0x85, 2)), spoiltTwo);
    const Bytes frame = readBack(0x86, 1);
    Bytes spoilt = one;
    spoilt[0] = static_cast<std::uint8_t>(~spoilt[0]);  // the first byte when none is named
    EXPECT_EQ(blockOf(frame), spoilt);
    ASSERT_EQ(frame.size(), 2064u);
    unsigned sum = 0;
    for (std::size_t i = 0; i < 2062; ++i) sum += frame[i];
    EXPECT_EQ(frame[2062] | frame[2063] << 8, static_cast<int>(sum & 0xFFFF)) << "the frame itself is sound";
    EXPECT_EQ(stop(), 0);
    EXPECT_EQ(blockIn(fileBytes(file("flash.bin")), 1), one);
}

TEST_F(Loader, StopAfterFramesLeavesLaterFramesUndoneAndUnansweredButProbesAnswered) {
    ASSERT_NO_FATAL_FAILURE(start({"--stop-after-frames", "2", "--flash-save", file("flash.bin")}));
    const Bytes data = patternBlock(4);
    EXPECT_EQ(exchange(eraseFrame(0x81, 0xD0000)), accepted(0x81));
    EXPECT_EQ(exchange(writeFrame(0x82, 0, data)), accepted(0x82));
    EXPECT_TRUE(unanswered(writeFrame(0x83, 1, data)));
    EXPECT_TRUE(unanswered(checkFrame(0x84)));
    EXPECT_EQ(exchange({0x0E}, 1), Bytes{0x06});
    EXPECT_EQ(stop(), 0);
    const Bytes flash = fileBytes(file("flash.bin"));
    ASSERT_EQ(flash.size(), kFlash);
    EXPECT_EQ(blockIn(flash, 0), data);
    EXPECT_EQ(blockIn(flash, 1), Bytes(2048, 0xFF));
    EXPECT_NE(log().find("frame 3 not answered: the loader answers only the first 2"), std::string::npos) << log();
}

TEST_F(Loader, EraseDelayHoldsBackTheEraseReplyButLosesNothingSentMeanwhile) {
    ASSERT_NO_FATAL_FAILURE(start({"--erase-delay", "700"}));
    EXPECT_EQ(exchange(writeFrame(0x81, 40, patternBlock(2))), accepted(0x81));
    const auto sent = Clock::now();
    port_->write(eraseFrame(0x82, 0xE0000));
    port_->write(checkFrame(0x83));  // comes while the board erases
    EXPECT_EQ(port_->read(4, kAnswerLimit), accepted(0x82));
    EXPECT_GE(Clock::now() - sent, 700ms);
    EXPECT_EQ(port_->read(4, kAnswerLimit), accepted(0x83));
    EXPECT_EQ(blockOf(readBack(0x84, 40)), Bytes(2048, 0xFF));
    EXPECT_NE(log().find("Htag 130: erased E0000 to EFFFF, reply after 700 ms"), std::string::npos) << log();
}

TEST_F(Loader, NoiseBeforeReplyPutsZerosBeforeRepliesDataFramesAndTheProbeAnswer) {
    ASSERT_NO_FATAL_FAILURE(start({"--noise-before-reply", "3"}));
    EXPECT_EQ(exchange(checkFrame(0x81), 7), (Bytes{0x00, 0x00, 0x00, 0x02, 0x06, 0x81, 0x03}));
    port_->write(readFrame(0x82, 0));
    const Bytes wire = port_->readThroughEnd(kAnswerLimit);
    ASSERT_GE(wire.size(), 5u);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 5), (Bytes{0x00, 0x00, 0x00, 0x02, 0x82}));
    EXPECT_EQ(blockOf(unstuffDataFrame(Bytes(wire.begin() + 3, wire.end()))), Bytes(2048, 0xFF));
    EXPECT_EQ(exchange({0x0E}, 4), (Bytes{0x00, 0x00, 0x00, 0x06}));
    EXPECT_TRUE(port_->read(1, kSilence).empty());
}

TEST_F(Loader, CutReplySendsOnlyTheFirstBytesOfEveryAnswer) {
    ASSERT_NO_FATAL_FAILURE(start({"--cut-reply", "2"}));
    EXPECT_EQ(exchange(checkFrame(0x81), 2), (Bytes{0x02, 0x06}));
    EXPECT_TRUE(port_->read(1, kSilence).empty());
    EXPECT_EQ(exchange(eraseFrame(0x82, 0xC0000), 2), (Bytes{0x02, 0x15}));
    EXPECT_TRUE(port_->read(1, kSilence).empty());
    EXPECT_EQ(exchange(readFrame(0x83, 0), 2), (Bytes{0x02, 0x83}));
    EXPECT_TRUE(port_->read(1, kSilence).empty());

    ASSERT_NO_FATAL_FAILURE(start({"--cut-reply", "1000"}));
    const Bytes wire = exchange(readFrame(0x84, 0), 1000);
    EXPECT_EQ(wire.size(), 1000u);
    EXPECT_EQ(std::count(wire.begin(), wire.end(), 0x03), 0) << "the end byte is cut off";
    EXPECT_TRUE(port_->read(1, kSilence).empty());
}

TEST_F(Loader, PaceTakesAndSendsNoFasterThan19200BaudWith11BitsAByte) {
    ASSERT_NO_FATAL_FAILURE(start({"--pace"}));
    const std::chrono::nanoseconds byteTime{11'000'000'000 / 19200};
    const Bytes write = writeFrame(0x81, 0, patternBlock(5));
    auto began = Clock::now();
    EXPECT_EQ(exchange(write), accepted(0x81));
    EXPECT_GE(Clock::now() - began, byteTime * (write.size() + 4));

    const Bytes read = readFrame(0x82, 0);
    began = Clock::now();
    port_->write(read);
    const Bytes answer = port_->readThroughEnd(kAnswerLimit);
    EXPECT_EQ(blockOf(unstuffDataFrame(answer)), patternBlock(5));
    EXPECT_GE(Clock::now() - began, byteTime * (read.size() + answer.size()));
}

// The flash saved as S-records loads back as the same flash, and so does
// the raw file saved from that.
TEST_F(Loader, FlashFilesRoundTripThroughSRecordsAndRawBytes) {
    Bytes flash = erasedFlash();
    for (std::size_t i = 0; i < 5000; ++i) flash[i] = static_cast<std::uint8_t>(i * 13 + i / 7);
    for (std::size_t i = 0x10000; i < 0x10040; ++i) flash[i] = 0x1B;
    flash[kFlash - 1] = 0x03;
    writeFileText(file("start.bin"), std::string(flash.begin(), flash.end()));

    ASSERT_NO_FATAL_FAILURE(start({"--flash-load", file("start.bin"), "--flash-save", file("saved.S19")}));
    EXPECT_EQ(blockOf(readBack(0x81, 0)), blockIn(flash, 0)) << "the loaded flash is what the board serves";
    EXPECT_EQ(stop(), 0);

    // Checked line by line: S0 first, S2 records of the flash, S8 last, every
    // record's checksum the ones' complement of its byte sum.
    std::istringstream text(fileText(file("saved.S19")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front().substr(0, 2), "S0");
    EXPECT_EQ(lines.back(), "S804000000FB");
    Bytes fromRecords = erasedFlash();
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        SCOPED_TRACE(line);
        ASSERT_TRUE(line.size() >= 4 && line.size() % 2 == 0);
        Bytes bytes;
        for (std::size_t i = 2; i < line.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
        ASSERT_EQ(bytes[0] + 1u, bytes.size());
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
        EXPECT_EQ(bytes.back(), static_cast<std::uint8_t>(~sum));
        if (n == 0 || n + 1 == lines.size()) continue;
        ASSERT_EQ(line.substr(0, 2), "S2");
        const std::uint32_t address = bytes[1] << 16 | bytes[2] << 8 | bytes[3];
        ASSERT_GE(address, 0xD0000u);
        ASSERT_LE(address + bytes.size() - 5, 0xF0000u);
        std::copy(bytes.begin() + 4, bytes.end() - 1, fromRecords.begin() + (address - 0xD0000));
    }
    EXPECT_TRUE(fromRecords == flash);
    EXPECT_LT(lines.size(), 300u) << "erased stretches are left out";

    ASSERT_NO_FATAL_FAILURE(start({"--flash-load", file("saved.S19"), "--flash-save", file("again.bin")}));
    EXPECT_EQ(stop(), 0);
    EXPECT_TRUE(fileBytes(file("again.bin")) == flash);
}

TEST_F(Loader, FlashSaveReplacesTheFileALinkNamesAndKeepsItsPermissions) {
    writeFileText(file("real.bin"), "old");
    ASSERT_EQ(::chmod(file("real.bin").c_str(), 0640), 0);
    fs::create_symlink(file("real.bin"), file("link.bin"));
    ASSERT_NO_FATAL_FAILURE(start({"--flash-save", file("link.bin")}));
    EXPECT_EQ(exchange(writeFrame(0x81, 0, patternBlock(6))), accepted(0x81));
    EXPECT_EQ(stop(), 0);
    EXPECT_TRUE(fs::is_symlink(file("link.bin")));
    struct stat info {};
    ASSERT_EQ(::stat(file("real.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(blockIn(fileBytes(file("real.bin")), 0), patternBlock(6));
    for (const auto& entry : fs::directory_iterator(dir_.path()))
        EXPECT_EQ(entry.path().filename().string().rfind(".qm730", 0), std::string::npos) << "a temporary file left";
}
