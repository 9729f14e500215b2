// qm730ctl ports on a made-up sysfs and /dev (FIFOs for nodes: a listing
// that opened one would hang until the run is killed), as lines and as JSON.
#include <gtest/gtest.h>

#include "fake_device_tree.h"
#include "run_ctl.h"
#include "tempdir.h"

using namespace qm730::test;

TEST(CliPorts, ListsEachDeviceOnALineAndAsJsonAndSaysWhenThereIsNone) {
    TempDir dir;
    const std::string folder = dir.path().string(), root = " --root " + folder + "/tree";
    const FakeDeviceTree tree(dir.path() / "tree");
    CtlRun run = runQm730ctl(folder, "ports" + root);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "qm730ctl: no serial devices found\n");
    EXPECT_EQ(runQm730ctl(folder, "ports --json" + root).out, "[]\n");

    tree.ftdiAdapter("ttyUSB0");
    const std::string dev = folder + "/tree/dev", byId = dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    run = runQm730ctl(folder, "ports" + root);
    EXPECT_EQ(run.out, dev + "/ttyUSB0  " + byId +
                           "  FTDI FT232R USB UART, USB 0403:6001, serial A50285BI, driver ftdi_sio\n");
    run = runQm730ctl(folder, "ports --json" + root);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[\n  {\"port\": \"" + dev + "/ttyUSB0\", \"name\": \"ttyUSB0\", \"stable_path\": \"" + byId +
                           "\", \"bus\": \"usb\", \"vendor_id\": \"0403\", \"product_id\": \"6001\", "
                           "\"manufacturer\": \"FTDI\", \"product\": \"FT232R USB UART\", "
                           "\"serial_number\": \"A50285BI\", \"driver\": \"ftdi_sio\"}\n]\n");
}
