// The fault matrix through qm730ctl: send, read, flash and probe against
// qm730sim misbehaving in each way (tests/support/fault_matrix.h), each
// followed by the same command against the board healed on the same line,
// or against the next device once the first went away.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "core/config/configfile.h"
#include "core/link/serial_port.h"
#include "fault_matrix.h"
#include "run_ctl.h"
#include "sim_process.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;
using namespace std::chrono_literals;

namespace {

std::string successLine(Op op) {
    switch (op) {
        case Op::Send: return "Transfer Success !\n";
        case Op::Read: return "Read Success !\n";
        case Op::Flash: return "Transmit Success!\n";
        case Op::Probe: return "Connection Success !\n";
    }
    return "";
}

std::string withoutNewline(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

class CliFaultMatrix : public ::testing::TestWithParam<FaultCell> {
protected:
    std::string command(const std::string& port) const {
        switch (GetParam().op) {
            case Op::Send: return "send --port " + port + " " + in_;
            case Op::Read: return "read --port " + port + " " + out_;
            case Op::Flash: return "flash --port " + port + " " + firmware_;
            case Op::Probe: return "probe --timeout 0 --port " + port;
        }
        return "";
    }

    TempDir dir_;
    const std::string in_ = dir_.file("in.tbl"), out_ = dir_.file("out.tbl"), firmware_ = dir_.file("fw.s19");
};

TEST_P(CliFaultMatrix, EndsAsItShouldKeepsEveryFileAndTheNextRunSucceeds) {
    const FaultCell& cell = GetParam();
    ConfigImage image = defaultImage();
    writeName(image.capcodeSlot(0), "FROM THE FILE");
    ASSERT_TRUE(saveTableFile(in_, image).ok());
    const std::string earlierRead = "what an earlier read left";
    std::ofstream(out_, std::ios::binary) << earlierRead;
    std::ofstream(firmware_, std::ios::binary) << lastBlockFirmware();
    const auto inputs = [&] { return fileText(in_) + fileText(firmware_); };
    const std::string inputsBefore = inputs();

    auto sim = std::make_unique<SimProcess>(cell.sim, dir_.file("sim.err"));
    std::string port = sim->firstLine(10s);
    ASSERT_FALSE(port.empty()) << sim->log();

    const CtlRun run = runQm730ctl(dir_.path().string(), command(port), 30);
    const std::string log = sim->log();
    const std::string failedOn = "qm730ctl: " + std::string(opName(cell.op)) + " on " + port + ": ";
    if (cell.succeeds) {
        EXPECT_EQ(run.status, 0) << run.err << log;
        EXPECT_EQ(run.out, successLine(cell.op));
        EXPECT_EQ(run.err, "");
    } else {
        EXPECT_EQ(run.status, 1) << log;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, failedOn + withHtag(cell.reason, lastReadHtag(log)) + "\n") << log;
    }
    EXPECT_GE(run.took, cell.atLeast);
    EXPECT_EQ(inputs(), inputsBefore) << "the table file and the firmware file are only read";
    if (cell.op == Op::Read && !cell.succeeds) {
        EXPECT_EQ(fileText(out_), earlierRead) << "a failed read leaves OUT.tbl as it was";
    }
    const std::string told = run.status == 0 ? withoutNewline(run.out) : withoutNewline(run.err);
    reportCell("qm730ctl", cell, run.status == 0, run.status,
               told.rfind(failedOn, 0) == 0 ? told.substr(failedOn.size()) : told, run.took);
    // A pseudo-terminal takes the whole upload at once: the board may still
    // be reading it when the program has ended, and whoever opens the device
    // next would cut it off.
    if (cell.op == Op::Send && cell.succeeds) {
        ASSERT_TRUE(sim->waitForLogged("upload applied", 1)) << sim->log();
    }
    if (!cell.vanishes) {
        SerialPort nextUser;
        EXPECT_NO_THROW(nextUser.open(port)) << "qm730ctl let the port go";
    }

    if (cell.vanishes) {
        EXPECT_EQ(sim->exitStatus(10s), 0) << "the simulator ends once it has let the line go";
        sim = std::make_unique<SimProcess>(std::vector<std::string>{}, dir_.file("next.err"));
        port = sim->firstLine(10s);
        ASSERT_FALSE(port.empty()) << sim->log();
    } else {
        ASSERT_TRUE(sim->heal()) << sim->log();
    }
    const CtlRun next = runQm730ctl(dir_.path().string(), command(port), 30);
    EXPECT_EQ(next.status, 0) << next.err << sim->log();
    EXPECT_EQ(next.out, successLine(cell.op));
}

INSTANTIATE_TEST_SUITE_P(FaultMatrix, CliFaultMatrix, ::testing::ValuesIn(faultCells()),
                         [](const ::testing::TestParamInfo<FaultCell>& info) { return std::string(info.param.name); });

}  // namespace
