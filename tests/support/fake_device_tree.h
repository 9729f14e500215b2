// A made-up sysfs and /dev laid out as the kernel and udev lay out theirs:
// devices with attributes, subsystem and driver links, ttys of the tty class,
// nodes and by-id links. Nodes are FIFOs unless linked to a real device: a
// FIFO no one writes blocks whoever opens it, so a lister that opened a
// device would hang its test.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace qm730::test {

class FakeDeviceTree {
public:
    explicit FakeDeviceTree(std::filesystem::path root) : root_(std::move(root)) {
        std::filesystem::create_directories(sys() / "class" / "tty");
        std::filesystem::create_directories(dev() / "serial" / "by-id");
    }
    std::filesystem::path sys() const { return root_ / "sys"; }
    std::filesystem::path dev() const { return root_ / "dev"; }

    // sys/devices/PATH on a bus, bound to a driver if one is named.
    std::filesystem::path device(const std::string& path, const std::string& bus, const std::string& driver = {},
                                 const std::map<std::string, std::string>& attributes = {}) const {
        const std::filesystem::path dir = sys() / "devices" / path, busDir = sys() / "bus" / bus;
        std::filesystem::create_directories(dir);
        std::filesystem::create_directories(busDir / "drivers" / driver);
        std::filesystem::create_directory_symlink(busDir, dir / "subsystem");
        if (!driver.empty()) std::filesystem::create_directory_symlink(busDir / "drivers" / driver, dir / "driver");
        for (const auto& [name, value] : attributes) std::ofstream(dir / name) << value << "\n";
        return dir;
    }

    // A tty of the tty class on a device (none: a virtual console), with the
    // serial core's UART type when given.
    void tty(const std::string& name, const std::filesystem::path& on, const std::string& uartType = {}) const {
        const std::filesystem::path dir = (on.empty() ? sys() / "devices/virtual/tty" : on / "tty") / name;
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "uevent") << "MAJOR=188\nMINOR=0\nDEVNAME=" << name << "\n";
        if (!uartType.empty()) std::ofstream(dir / "type") << uartType << "\n";
        if (!on.empty()) std::filesystem::create_directory_symlink(on, dir / "device");
        std::filesystem::create_directory_symlink(dir, sys() / "class" / "tty" / name);
    }

    void node(const std::string& name, const std::string& realDevice = {}) const {
        if (realDevice.empty())
            ::mkfifo((dev() / name).c_str(), 0600);
        else
            std::filesystem::create_symlink(realDevice, dev() / name);
    }

    // An FTDI adapter as the kernel and udev show it: USB device, interface,
    // usb-serial port with the tty, node, and udev's relative by-id link.
    void ftdiAdapter(const std::string& name, const std::string& realDevice = {}) const {
        const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-2";
        device(usb, "usb", "usb",
               {{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"},
                {"product", "FT232R USB UART"}, {"serial", "A50285BI"}});
        device(usb + "/1-2:1.0", "usb", "ftdi_sio");
        tty(name, device(usb + "/1-2:1.0/" + name, "usb-serial", "ftdi_sio"));
        node(name, realDevice);
        std::filesystem::create_symlink("../../" + name,
                                        dev() / "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    }

private:
    std::filesystem::path root_;
};

}  // namespace qm730::test
