// The port selector with serial devices from a made-up sysfs: the adapters
// listed after "COM 1" to "COM 5" each time the list opens, a chosen adapter
// used by Transfer (its node leads to the simulated board), the choice kept
// for the next start and given up for "COM 1" when the adapter has gone.
#include <gtest/gtest.h>

#include <QAbstractItemView>

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

const QStringList kComPorts{"COM 1", "COM 2", "COM 3", "COM 4", "COM 5"};

QStringList entries(const QComboBox* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->itemText(i);
    return texts;
}

class PortChoice : public ::testing::Test, protected MainWindowFixture {
protected:
    PortChoice() {
        PortSelector::setDeviceLister([this] { return listSerialDevices(tree.sys(), tree.dev()); });
    }
    ~PortChoice() override {
        PortSelector::setDeviceLister([] { return std::vector<SerialDeviceInfo>{}; });
    }
    // The operator opens the list and picks an entry.
    void choose(const QString& text) {
        form->cboComPort->showPopup();
        form->cboComPort->hidePopup();
        const int index = form->cboComPort->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        form->cboComPort->setCurrentIndex(index);
        emit form->cboComPort->activated(index);
    }
    // The program started again, with what the last run remembered.
    std::unique_ptr<TForm1> restart() const { return createWindows(); }
    void unplug(const std::string& name) {
        std::filesystem::remove_all(tree.sys() / "class" / "tty" / name);
        std::filesystem::remove(tree.dev() / name);
    }

    TempDir dir;
    FakeDeviceTree tree{dir.path()};
};

TEST_F(PortChoice, AnAdapterPluggedInShowsWhenTheListOpensAndTransferUsesIt) {
    ASSERT_TRUE(active);
    EXPECT_EQ(entries(form->cboComPort), kComPorts);
    SimBoardThread board;
    tree.ftdiAdapter("ttyUSB0", board.port());
    choose("ttyUSB0 - FT232R USB UART");
    EXPECT_EQ(entries(form->cboComPort), kComPorts + QStringList{"ttyUSB0 - FT232R USB UART"});
    EXPECT_EQ(form->selectedPortName(), (tree.dev() / "ttyUSB0").string());
    EXPECT_GE(form->cboComPort->view()->minimumWidth(), form->cboComPort->view()->sizeHintForColumn(0))
        << "the open list shows whole labels";

    TForm2* dialog = form->windows().form2;
    QTimer::singleShot(0, dialog, [dialog] {
        (void)QTest::qWaitFor([dialog] { return dialog->Button1->isVisible(); }, 30000);
        dialog->Button1->click();
    });
    form->Write1->trigger();
    EXPECT_EQ(dialog->lblMsg->text(), "  Transfer Success !") << board.log();
    EXPECT_EQ(dialog->portName().toStdString(), (tree.dev() / "ttyUSB0").string());
    EXPECT_EQ(board.sim().stats().logons, 1);
}

TEST_F(PortChoice, TheChoiceIsKeptForTheNextStartWhileTheAdapterIsThere) {
    ASSERT_TRUE(active);
    tree.ftdiAdapter("ttyUSB0");
    choose("COM 3");
    EXPECT_EQ(restart()->selectedPortName(), "COM3");

    choose("ttyUSB0 - FT232R USB UART");
    std::unique_ptr<TForm1> next = restart();
    EXPECT_EQ(next->cboComPort->currentText(), "ttyUSB0 - FT232R USB UART");
    EXPECT_EQ(next->selectedPortName(), (tree.dev() / "ttyUSB0").string());

    // Plugged in again, the adapter became ttyUSB1: found by its serial link.
    unplug("ttyUSB0");
    std::filesystem::remove_all(tree.sys() / "devices");
    std::filesystem::remove(tree.dev() / "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    tree.ftdiAdapter("ttyUSB1");
    EXPECT_EQ(restart()->selectedPortName(), (tree.dev() / "ttyUSB1").string());

    unplug("ttyUSB1");
    next = restart();
    EXPECT_EQ(next->selectedPortName(), "COM1");
    EXPECT_EQ(next->cboComPort->currentText(), "COM 1");
}

TEST_F(PortChoice, AnAdapterPulledWhileChosenGivesWayToCom1WhenTheListOpens) {
    ASSERT_TRUE(active);
    tree.ftdiAdapter("ttyUSB0");
    choose("ttyUSB0 - FT232R USB UART");
    unplug("ttyUSB0");
    form->cboComPort->showPopup();
    form->cboComPort->hidePopup();
    EXPECT_EQ(entries(form->cboComPort), kComPorts);
    EXPECT_EQ(form->selectedPortName(), "COM1");
    EXPECT_EQ(form->selectedPort(), 0);
}

}  // namespace
