// The fault matrix through the main window: Transfer, Read, the S29 Write and
// P-Link against qm730sim misbehaving in each way
// (tests/support/fault_matrix.h), each followed in the same window by the
// same command against the board healed on the same port, or against the
// next device on COM1 once the first went away.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProgressBar>
#include <QStatusBar>

#include <fstream>
#include <memory>

#include "core/config/configfile.h"
#include "core/flash/firmwarefile.h"
#include "core/link/serial_port.h"
#include "fault_matrix.h"
#include "gui/seams/filedialog.h"
#include "gui/windows/conn.h"
#include "gui/windows/form2.h"
#include "guitest.h"
#include "run_ctl.h"
#include "sim_process.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> texts(const std::vector<Notice>& notices) {
    std::vector<std::string> result;
    for (const Notice& notice : notices) result.push_back(notice.text);
    return result;
}

// What the operator was shown by one command.
struct Seen {
    std::string label;                // the transfer dialog's result
    std::vector<std::string> boxes;
    std::string reason;               // on hover over the result or the status
    Clock::duration took{};
};

class GuiFaultMatrix : public ::testing::TestWithParam<FaultCell>, protected MainWindowFixture {
protected:
    void TearDown() override { ::unsetenv("QM730C_COM1"); }

    void usePort(const std::string& device) { ::setenv("QM730C_COM1", device.c_str(), 1); }

    // Runs the command of the cell's operation on COM1 until its end; a
    // connection check that finds no board is cancelled once its first
    // probe has gone unanswered, or once it has told of a failing line.
    Seen run() {
        MessageBox::clearShown();
        Seen seen;
        const auto start = Clock::now();
        TForm2* dialog = form->windows().form2;
        switch (GetParam().op) {
            case Op::Send:
            case Op::Read: {
                QTimer okWhenDone;
                QObject::connect(&okWhenDone, &QTimer::timeout, dialog, [dialog] {
                    if (dialog->Button1->isVisible()) dialog->Button1->click();
                });
                okWhenDone.start(10);
                (GetParam().op == Op::Send ? form->Write1 : form->Test1)->trigger();
                seen.label = dialog->lblMsg->text().toStdString();
                seen.reason = dialog->lblMsg->toolTip().toStdString();
                break;
            }
            case Op::Flash:
                form->Write2->trigger();
                seen.reason = form->StatusBar1->findChild<QLabel*>("StatusPanel2")->toolTip().toStdString();
                break;
            case Op::Probe: {
                TfrmConn* conn = form->frmConn();
                form->PB1->setValue(0);
                QTimer cancelWhenDone;
                QObject::connect(&cancelWhenDone, &QTimer::timeout, conn, [this, conn] {
                    const bool probeUnanswered = form->PB1->value() == 1 && conn->Timer1->isActive();
                    if (conn->isVisible() && (probeUnanswered || !MessageBox::shown().empty()))
                        conn->BitBtn1->click();
                });
                cancelWhenDone.start(5);
                form->btnPLink->click();
                break;
            }
        }
        seen.took = Clock::now() - start;
        seen.boxes = texts(MessageBox::shown());
        return seen;
    }

    std::string successLabel() const {
        return GetParam().op == Op::Send ? "  Transfer Success !" : GetParam().op == Op::Read ? "  Read Success !" : "";
    }
    std::string failureLabel() const {
        return GetParam().op == Op::Send ? "  Transfer Error !" : GetParam().op == Op::Read ? "  Read Error !" : "";
    }
    std::vector<std::string> successBoxes() const {
        if (GetParam().op == Op::Flash) return {"Transmit Success!"};
        if (GetParam().op == Op::Probe) return {"Connection Success !"};
        return {};
    }
    bool succeeded(const Seen& seen) const {
        return seen.label == successLabel() && seen.boxes == successBoxes();
    }

    TempDir dir;
};

TEST_P(GuiFaultMatrix, EndsAsItShouldKeepsEveryImageAndFileAndTheNextCommandSucceeds) {
    ASSERT_TRUE(active);
    const FaultCell& cell = GetParam();
    const bool serviceMode = cell.op == Op::Flash || cell.op == Op::Probe;
    const std::string saved = dir.file("saved.tbl"), firmware = dir.file("fw.s19");
    writeName(form->config().image.capcodeSlot(0), "IN THE WINDOW");
    ASSERT_TRUE(saveTableFile(saved, form->config().image).ok());
    std::ofstream(firmware, std::ios::binary) << lastBlockFirmware();
    if (serviceMode) {
        form->setMode(OperatingMode::S29);
        QApplication::processEvents();
    }
    if (cell.op == Op::Flash) {
        FileDialog::setNextFileName(QString::fromStdString(firmware));
        form->Open2->trigger();
        ASSERT_EQ(form->lblFilename->text().toStdString(), firmware);
    }
    const ConfigImage imageBefore = form->config().image;
    const FlashImage flashBefore = form->firmware().image;
    const std::string filesBefore = fileText(saved) + fileText(firmware);

    auto sim = std::make_unique<SimProcess>(cell.sim, dir.file("sim.err"));
    std::string port = sim->firstLine(10s);
    ASSERT_FALSE(port.empty()) << sim->log();
    usePort(port);

    const Seen seen = run();
    const std::string htag = lastReadHtag(sim->log());
    std::vector<std::string> boxes;
    for (const std::string& box : cell.boxes) boxes.push_back(withHtag(box, htag));
    EXPECT_EQ(seen.boxes, boxes) << sim->log();
    if (cell.op == Op::Send || cell.op == Op::Read) {
        EXPECT_EQ(seen.label, cell.succeeds ? successLabel() : failureLabel()) << sim->log();
        EXPECT_FALSE(form->windows().form2->isVisible());
    }
    if (cell.op != Op::Probe) {
        EXPECT_EQ(seen.reason, withHtag(cell.reason, htag));
    }
    EXPECT_GE(seen.took, cell.atLeast);

    // Nothing is lost: the image stays unless a read succeeded, the firmware
    // in memory and every file stay as they were.
    if (cell.op != Op::Read || !cell.succeeds) {
        EXPECT_EQ(form->config().image.bytes(), imageBefore.bytes());
    }
    EXPECT_TRUE(form->firmware().image.bytes == flashBefore.bytes);
    EXPECT_EQ(form->firmware().image.BytesLoaded, flashBefore.BytesLoaded);
    EXPECT_EQ(fileText(saved) + fileText(firmware), filesBefore);

    // The port is let go: the program's own serial-port object is closed and
    // the device can be had by the next user.
    EXPECT_FALSE(commPort().isOpen());
    if (serviceMode) {
        EXPECT_EQ(form->statusText(), " Ready");
        EXPECT_TRUE(form->Write2->isEnabled());
        EXPECT_FALSE(form->frmConn()->isVisible());
    }
    // A pseudo-terminal takes the whole upload at once: the board may still
    // be reading it when the program has ended, and whoever opens the device
    // next would cut it off.
    if (cell.op == Op::Send && cell.succeeds) {
        ASSERT_TRUE(sim->waitForLogged("upload applied", 1)) << sim->log();
    }
    if (!cell.vanishes) {
        SerialPort nextUser;
        EXPECT_NO_THROW(nextUser.open(port));
    }
    std::string told = seen.label.empty() ? "" : seen.label.substr(seen.label.find_first_not_of(' '));
    for (const std::string& box : seen.boxes) told += (told.empty() ? "box \"" : ", box \"") + box + "\"";
    if (cell.op == Op::Probe && seen.boxes.empty()) told = "no box; cancelled after the first probe";
    reportCell("qm730c", cell, succeeded(seen), -1, told, seen.took);

    if (cell.vanishes) {
        EXPECT_EQ(sim->exitStatus(10s), 0) << "the simulator ends once it has let the line go";
        sim = std::make_unique<SimProcess>(std::vector<std::string>{}, dir.file("next.err"));
        port = sim->firstLine(10s);
        ASSERT_FALSE(port.empty()) << sim->log();
        usePort(port);
    } else {
        ASSERT_TRUE(sim->heal()) << sim->log();
    }
    const Seen next = run();
    EXPECT_TRUE(succeeded(next)) << next.label << " " << joined(next.boxes) << " " << next.reason << "\n" << sim->log();
    EXPECT_FALSE(commPort().isOpen());
}

INSTANTIATE_TEST_SUITE_P(FaultMatrix, GuiFaultMatrix, ::testing::ValuesIn(faultCells()),
                         [](const ::testing::TestParamInfo<FaultCell>& info) { return std::string(info.param.name); });

}  // namespace
