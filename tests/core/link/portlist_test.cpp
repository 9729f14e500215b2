// The serial-device lister: a made-up sysfs with the kinds of tty the kernel
// has (a USB adapter, a CDC modem, a PC's UART behind the serial core's own
// devices, a PCI card, a port reserved with no UART, a virtual console, a
// tty without a node), and this machine's own tree with a pseudo-terminal
// open.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/link/portlist.h"
#include "fake_device_tree.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;

namespace {

struct Expected {
    std::string name, stableLink, bus, vendorId, productId, manufacturer, product, serialNumber, driver, label;
};

TEST(PortList, ReadsWhatTheSystemKnowsOfEachSerialDeviceAndNothingElse) {
    TempDir dir;
    const FakeDeviceTree tree(dir.path());
    tree.ftdiAdapter("ttyUSB0");
    // cdc_acm's tty sits on the USB interface itself.
    tree.device("pci0000:00/0000:00:14.0/usb1/1-3", "usb", "usb",
                {{"idVendor", "2341"}, {"idProduct", "0043"}, {"product", "Uno"}});
    tree.tty("ttyACM0", tree.device("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0", "usb", "cdc_acm"));
    tree.node("ttyACM0");
    // A PC's own UART: the tty on the serial core's port and controller devices.
    tree.device("pnp0/00:05", "pnp", "serial");
    tree.device("pnp0/00:05/00:05:0", "serial-base", "ctrl");
    tree.tty("ttyS0", tree.device("pnp0/00:05/00:05:0/00:05:0.0", "serial-base", "port"), "4");
    tree.node("ttyS0");
    tree.tty("ttyS10", tree.device("pci0000:00/0000:00:1c.0/0000:03:00.0", "pci", "serial",
                                   {{"vendor", "0x1415"}, {"device", "0xc158"}}), "4");
    tree.node("ttyS10");
    tree.tty("ttyS2", tree.device("pci0000:00/0000:00:1c.0/0000:03:00.1", "pci", "serial"), "4");
    tree.node("ttyS2");
    // Not serial devices an operator can use.
    const auto platform = tree.device("platform/serial8250", "platform", "serial8250");
    tree.tty("ttyS1", platform, "0");  // reserved by the driver, no UART found
    tree.node("ttyS1");
    tree.tty("tty1", {});  // a virtual console
    tree.node("tty1");
    tree.tty("ttyS3", platform, "4");  // no node under /dev

    const std::vector<SerialDeviceInfo> found = listSerialDevices(tree.sys(), tree.dev());

    const std::string byId = (tree.dev() / "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string();
    const Expected expected[] = {
        {"ttyACM0", "", "usb", "2341", "0043", "", "Uno", "", "cdc_acm", "ttyACM0 - Uno"},
        {"ttyS0", "", "pnp", "", "", "", "", "", "serial", "ttyS0"},
        {"ttyS2", "", "pci", "", "", "", "", "", "serial", "ttyS2"},
        {"ttyS10", "", "pci", "1415", "c158", "", "", "", "serial", "ttyS10"},
        {"ttyUSB0", byId, "usb", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "ftdi_sio",
         "ttyUSB0 - FT232R USB UART"},
    };
    ASSERT_EQ(found.size(), std::size(expected));
    for (std::size_t i = 0; i < found.size(); ++i) {
        const SerialDeviceInfo& d = found[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(d.name, e.name);
        EXPECT_EQ(d.port, (tree.dev() / e.name).string());
        EXPECT_EQ(d.stablePath, e.stableLink);
        EXPECT_EQ(d.bus, e.bus);
        EXPECT_EQ(d.vendorId, e.vendorId);
        EXPECT_EQ(d.productId, e.productId);
        EXPECT_EQ(d.manufacturer, e.manufacturer);
        EXPECT_EQ(d.product, e.product);
        EXPECT_EQ(d.serialNumber, e.serialNumber);
        EXPECT_EQ(d.driver, e.driver);
        EXPECT_EQ(d.label(), e.label);
    }
}

TEST(PortList, NoTtyClassIsNoDevice) {
    TempDir dir;
    EXPECT_TRUE(listSerialDevices(dir.path() / "sys", dir.path() / "dev").empty());
}

// A pseudo-terminal is a tty with no device behind it: the simulated board's
// line is named with --port, it is never offered as an adapter. What this
// machine lists are character devices under /dev.
TEST(PortList, ThisMachinesListHoldsNoPseudoTerminal) {
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    for (const SerialDeviceInfo& device : listSerialDevices()) {
        SCOPED_TRACE(device.port);
        EXPECT_NE(device.port, name);
        EXPECT_NE(device.port.rfind("/dev/pts/", 0), 0u);
        struct stat node {};
        ASSERT_EQ(::stat(device.port.c_str(), &node), 0);
        EXPECT_TRUE(S_ISCHR(node.st_mode));
    }
    ::close(slave);
    ::close(master);
}

}  // namespace
