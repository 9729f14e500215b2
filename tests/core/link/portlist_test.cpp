// The serial-device lister on a made-up sysfs with the kinds of tty the
// kernel has, and on this machine's own tree with a pseudo-terminal open.
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

std::string summary(const SerialDeviceInfo& d) {
    return d.label() + " | " + d.bus + " " + d.vendorId + ":" + d.productId + " | " + d.manufacturer + " | " +
           d.serialNumber + " | " + d.driver;
}

TEST(PortList, ReadsWhatTheSystemKnowsOfEachSerialDeviceAndNothingElse) {
    TempDir dir;
    const FakeDeviceTree tree(dir.path());
    tree.ftdiAdapter("ttyUSB0");
    // cdc_acm's tty sits on the USB interface itself.
    tree.device("pci0000:00/0000:00:14.0/usb1/1-3", "usb", "usb",
                {{"idVendor", "2341"}, {"idProduct", "0043"}, {"product", "Uno"}});
    tree.tty("ttyACM0", tree.device("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0", "usb", "cdc_acm"));
    // A PC's own UART, behind the serial core's port and controller devices.
    tree.device("pnp0/00:05", "pnp", "serial");
    tree.device("pnp0/00:05/00:05:0", "serial-base", "ctrl");
    tree.tty("ttyS0", tree.device("pnp0/00:05/00:05:0/00:05:0.0", "serial-base", "port"), "4");
    tree.tty("ttyS10", tree.device("pci0000:00/0000:00:1c.0/0000:03:00.0", "pci", "serial",
                                   {{"vendor", "0x1415"}, {"device", "0xc158"}}), "4");
    tree.tty("ttyS2", tree.device("pci0000:00/0000:00:1c.0/0000:03:00.1", "pci", "serial"), "4");
    // No serial device an operator can use: reserved with no UART, a
    // virtual console, a tty with no node.
    const auto platform = tree.device("platform/serial8250", "platform", "serial8250");
    tree.tty("ttyS1", platform, "0");
    tree.tty("tty1", {});
    for (const char* name : {"ttyACM0", "ttyS0", "ttyS10", "ttyS2", "ttyS1", "tty1"}) tree.node(name);
    tree.tty("ttyS3", platform, "4");

    std::vector<std::string> found;
    for (const SerialDeviceInfo& d : listSerialDevices(tree.sys(), tree.dev())) {
        EXPECT_EQ(d.port, (tree.dev() / d.name).string());
        EXPECT_EQ(d.stablePath.empty(), d.name != "ttyUSB0") << d.name;
        found.push_back(summary(d));
    }
    EXPECT_EQ(found, (std::vector<std::string>{
                         "ttyACM0 - Uno | usb 2341:0043 |  |  | cdc_acm",
                         "ttyS0 | pnp : |  |  | serial",
                         "ttyS2 | pci : |  |  | serial",
                         "ttyS10 | pci 1415:c158 |  |  | serial",
                         "ttyUSB0 - FT232R USB UART | usb 0403:6001 | FTDI | A50285BI | ftdi_sio",
                     }));
    EXPECT_EQ(listSerialDevices(tree.sys(), tree.dev())[4].stablePath,
              (tree.dev() / "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string());
    EXPECT_TRUE(listSerialDevices(dir.path() / "none", dir.path() / "none").empty());
}

// A pseudo-terminal sits on no device: the simulated board's line is named
// with --port, never offered as an adapter. What this machine lists are
// character devices.
TEST(PortList, ThisMachinesListHoldsNoPseudoTerminal) {
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    for (const SerialDeviceInfo& device : listSerialDevices()) {
        EXPECT_NE(device.port.rfind("/dev/pts/", 0), 0u) << name;
        struct stat node {};
        EXPECT_TRUE(::stat(device.port.c_str(), &node) == 0 && S_ISCHR(node.st_mode)) << device.port;
    }
    ::close(slave);
    ::close(master);
}

}  // namespace
