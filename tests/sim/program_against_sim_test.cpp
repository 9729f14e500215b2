// The program's own firmware write and firmware loader against qm730sim, the
// one place where the two sides of the board link meet: what the program
// writes is what the simulated flash holds, a block the board reads back
// wrong is the block the program names, and the S-records the simulator
// saves are a firmware file the program loads.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "core/flash/programmer.h"
#include "core/link/serial_port.h"
#include "run_ctl.h"
#include "sim_process.h"
#include "recording_host.h"
#include "tempdir.h"

using namespace qm730;
using namespace std::chrono_literals;
using qm730::test::fileText;
using qm730::test::SimProcess;

namespace {

// About 5 KiB of firmware from 0xD0000 with bytes that need stuffing, a
// stretch in the upper half, and the image checksum; the rest erased.
std::unique_ptr<Firmware> smallFirmware() {
    auto firmware = std::make_unique<Firmware>();
    for (std::size_t i = 0; i < 5000; ++i) firmware->image.bytes[i] = static_cast<std::uint8_t>(i * 11 + i / 300);
    for (std::size_t i = 0x10800; i < 0x10900; ++i) firmware->image.bytes[i] = 0x1B;
    firmware->image.BytesLoaded = 5000 + 0x100;
    firmware->image.storeChecksum();
    firmware->fileName = "/firmware/small.s19";
    return firmware;
}

class ProgramAgainstSim : public ::testing::Test {
protected:
    std::string file(const std::string& name) const { return dir_.file(name); }
    std::string log() const { return fileText(file("sim.err")); }

    FlashOutcome write(const std::vector<std::string>& simArgs, const Firmware& firmware) {
        SimProcess sim(simArgs, file("sim.err"));
        const std::string device = sim.firstLine(10s);
        if (device.empty()) {
            ADD_FAILURE() << "qm730sim did not start: " << log();
            return {};
        }
        SerialPort port;
        LinkState state;
        BoardLink link(port, host_, state);
        const FlashOutcome outcome = WriteFirmware(link, device, firmware);
        EXPECT_EQ(sim.stop(), 0);
        return outcome;
    }

    TempDir dir_;
    test::RecordingHost host_;
};

}  // namespace

TEST_F(ProgramAgainstSim, TheProgramsWriteLeavesItsFirmwareInTheBoardsFlash) {
    const auto firmware = smallFirmware();
    const FlashOutcome outcome = write({"--flash-save", file("board.bin")}, *firmware);
    ASSERT_TRUE(outcome.ok()) << describeFlashOutcome(outcome) << "\n" << log();
    EXPECT_EQ(outcome.blocksWritten, 5);  // blocks 0, 1, 2, 33 and the checksum's block 63
    EXPECT_EQ(outcome.blocksVerified, 5);
    EXPECT_EQ(host_.noticeTexts(), std::vector<std::string>{"Transmit Success!"});
    const std::string saved = fileText(file("board.bin"));
    ASSERT_EQ(saved.size(), firmware->image.bytes.size());
    EXPECT_TRUE(std::equal(saved.begin(), saved.end(), firmware->image.bytes.begin(),
                           [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
}

TEST_F(ProgramAgainstSim, ABlockTheBoardReadsBackWrongIsTheBlockTheProgramReports) {
    const auto firmware = smallFirmware();
    const FlashOutcome outcome = write({"--corrupt-readback", "1"}, *firmware);
    EXPECT_EQ(outcome.result, FlashResult::VerifyMismatch) << describeFlashOutcome(outcome) << "\n" << log();
    EXPECT_EQ(outcome.block, 1);
    // Check, two erases, five writes, then the reads of blocks 0 and 1.
    EXPECT_EQ(outcome.htag, 0x80 + 10);
    EXPECT_EQ(host_.noticeTexts(), std::vector<std::string>{"Read Error! Htag = 138"});
}

TEST_F(ProgramAgainstSim, AnEraseReplyWithinTheProgramsFiveSecondsIsWaitedFor) {
    const auto firmware = smallFirmware();
    const FlashOutcome outcome = write({"--erase-delay", "4000"}, *firmware);
    EXPECT_TRUE(outcome.ok()) << describeFlashOutcome(outcome) << "\n" << log();
}

TEST_F(ProgramAgainstSim, AnEraseReplyLaterThanTheProgramWaitsIsATransmitError) {
    const auto firmware = smallFirmware();
    const FlashOutcome outcome = write({"--erase-delay", "5600"}, *firmware);
    EXPECT_EQ(outcome.result, FlashResult::TransmitError) << describeFlashOutcome(outcome) << "\n" << log();
    EXPECT_EQ(outcome.step, FlashStep::Erase);
    EXPECT_EQ(host_.noticeTexts(), std::vector<std::string>{"Transmit Error!"});
}

TEST_F(ProgramAgainstSim, TheSimulatorsSRecordsLoadInTheProgramAsTheSameFlash) {
    const auto firmware = smallFirmware();
    const std::string raw(firmware->image.bytes.begin(), firmware->image.bytes.end());
    std::ofstream(file("flash.bin"), std::ios::binary) << raw;
    SimProcess sim({"--flash-load", file("flash.bin"), "--flash-save", file("flash.s28")}, file("sim.err"));
    ASSERT_FALSE(sim.firstLine(10s).empty()) << log();
    EXPECT_EQ(sim.stop(), 0);

    Firmware loaded;
    const FirmwareLoad load = loadFirmwareFile(file("flash.s28"), loaded);
    ASSERT_TRUE(load.ok()) << load.reason();
    EXPECT_TRUE(loaded.image.bytes == firmware->image.bytes);
    EXPECT_FALSE(load.checksumReplaced) << "the saved checksum bytes are the image's own";
}
