// qm730ctl ports on a made-up sysfs and /dev: one line a device (the name
// for --port, the stable path, what the system knows), the same as JSON for
// scripts, and what it says when there is none. The nodes are FIFOs: a
// listing that opened one would hang until the run is killed.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "fake_device_tree.h"
#include "run_ctl.h"
#include "tempdir.h"

using namespace qm730::test;

namespace {

// The columns of a line, which are set apart by two blanks or more.
std::vector<std::string> columns(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t gap = line.find("  ", at);
        parts.push_back(line.substr(at, gap == std::string::npos ? std::string::npos : gap - at));
        if (gap == std::string::npos) break;
        at = line.find_first_not_of(' ', gap);
    }
    return parts;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

TEST(CliPorts, ListsEachDeviceOnALineAndAsJson) {
    TempDir dir;
    const FakeDeviceTree tree(dir.path() / "tree");
    tree.ftdiAdapter("ttyUSB0");
    tree.device("pnp0/00:05", "pnp", "serial");
    tree.tty("ttyS0", dir.path() / "tree/sys/devices/pnp0/00:05", "4");
    tree.node("ttyS0");
    const std::string dev = (dir.path() / "tree/dev").string();
    const std::string root = " --root " + (dir.path() / "tree").string();

    CtlRun run = runQm730ctl(dir.path().string(), "ports" + root);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::vector<std::string>> expected = {
        {dev + "/ttyS0", "-", "PNP, driver serial"},
        {dev + "/ttyUSB0", dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
         "FTDI FT232R USB UART, USB 0403:6001, serial A50285BI, driver ftdi_sio"},
    };
    const std::vector<std::string> shown = lines(run.out);
    ASSERT_EQ(shown.size(), expected.size()) << run.out;
    for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(columns(shown[i]), expected[i]) << shown[i];

    run = runQm730ctl(dir.path().string(), "ports --json" + root);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "[\n"
              "  {\"port\": \"" + dev + "/ttyS0\", \"name\": \"ttyS0\", \"stable_path\": null, \"bus\": \"pnp\", "
              "\"vendor_id\": null, \"product_id\": null, \"manufacturer\": null, \"product\": null, "
              "\"serial_number\": null, \"driver\": \"serial\"},\n"
              "  {\"port\": \"" + dev + "/ttyUSB0\", \"name\": \"ttyUSB0\", \"stable_path\": \"" + dev +
              "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\", \"bus\": \"usb\", "
              "\"vendor_id\": \"0403\", \"product_id\": \"6001\", \"manufacturer\": \"FTDI\", "
              "\"product\": \"FT232R USB UART\", \"serial_number\": \"A50285BI\", \"driver\": \"ftdi_sio\"}\n"
              "]\n");
}

TEST(CliPorts, NoDeviceIsNoFailure) {
    TempDir dir;
    const FakeDeviceTree tree(dir.path() / "tree");
    const std::string root = " --root " + (dir.path() / "tree").string();
    CtlRun run = runQm730ctl(dir.path().string(), "ports" + root);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "qm730ctl: no serial devices found\n");
    run = runQm730ctl(dir.path().string(), "ports --json" + root);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[]\n");
}

}  // namespace
