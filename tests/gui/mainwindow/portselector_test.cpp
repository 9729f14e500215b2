// The port selector on a made-up sysfs: adapters listed after "COM 1" to
// "COM 5" each time the list opens, a chosen adapter used by Transfer (its
// node leads to the simulated board), the choice kept for the next start,
// found again under another name, and given up for "COM 1" once gone.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/link/portlist.h"
#include "fake_device_tree.h"
#include "guitest.h"
#include "gui/windows/form2.h"
#include "simboard_thread.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;

namespace {

const QString kAdapter = "ttyUSB0 - FT232R USB UART";

class PortChoice : public ::testing::Test, protected MainWindowFixture {
protected:
    PortChoice() { PortSelector::setDeviceLister([this] { return listSerialDevices(tree.sys(), tree.dev()); }); }
    ~PortChoice() override { PortSelector::setDeviceLister([] { return std::vector<SerialDeviceInfo>{}; }); }
    // The operator opens the list and picks an entry.
    void choose(const QString& text) {
        form->cboComPort->showPopup();
        form->cboComPort->hidePopup();
        const int index = form->cboComPort->findText(text);
        ASSERT_GE(index, 5) << text.toStdString();
        form->cboComPort->setCurrentIndex(index);
        emit form->cboComPort->activated(index);
    }
    // Every device gone, as after pulling the one adapter.
    void unplug() {
        std::filesystem::remove_all(tree.sys());
        std::filesystem::remove_all(tree.dev());
        tree = FakeDeviceTree(dir.path());
    }
    std::string node(const char* name) const { return (tree.dev() / name).string(); }

    TempDir dir;
    FakeDeviceTree tree{dir.path()};
};

TEST_F(PortChoice, AnAdapterPluggedInShowsWhenTheListOpensAndTransferUsesIt) {
    ASSERT_TRUE(active);
    EXPECT_EQ(form->cboComPort->count(), 5);
    SimBoardThread board;
    tree.ftdiAdapter("ttyUSB0", board.port());
    choose(kAdapter);
    EXPECT_EQ(form->cboComPort->itemText(5), kAdapter);
    EXPECT_EQ(form->selectedPortName(), node("ttyUSB0"));

    TForm2* dialog = form->windows().form2;
    QTimer::singleShot(0, dialog, [dialog] {
        (void)QTest::qWaitFor([dialog] { return dialog->Button1->isVisible(); }, 30000);
        dialog->Button1->click();
    });
    form->Write1->trigger();
    EXPECT_EQ(dialog->lblMsg->text(), "  Transfer Success !") << board.log();
    EXPECT_EQ(board.sim().stats().logons, 1);
}

TEST_F(PortChoice, TheChoiceIsKeptForTheNextStartAndGivesWayToCom1WhenTheAdapterHasGone) {
    ASSERT_TRUE(active);
    tree.ftdiAdapter("ttyUSB0");
    choose(kAdapter);
    EXPECT_EQ(createWindows()->selectedPortName(), node("ttyUSB0"));

    unplug();
    tree.ftdiAdapter("ttyUSB1");  // plugged in again: another name, the same serial link
    EXPECT_EQ(createWindows()->selectedPortName(), node("ttyUSB1"));

    unplug();
    form->cboComPort->showPopup();
    form->cboComPort->hidePopup();
    EXPECT_EQ(form->cboComPort->count(), 5);
    EXPECT_EQ(form->cboComPort->currentText(), "COM 1");
    EXPECT_EQ(form->selectedPortName(), "COM1");
    EXPECT_EQ(createWindows()->selectedPortName(), "COM1");
}

}  // namespace
