// A made-up sysfs and /dev, laid out as the kernel and udev lay out theirs,
// for the serial-device lister: devices with attributes, subsystem and
// driver links, ttys of the tty class on them, nodes and by-id links.
// Nodes are FIFOs unless a test points one at a real device: opening a FIFO
// that no one writes blocks for ever, so a lister that opened a device would
// hang its test instead of passing it.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace qm730::test {

class FakeDeviceTree {
public:
    using Attributes = std::map<std::string, std::string>;

    explicit FakeDeviceTree(std::filesystem::path root) : root_(std::move(root)) {
        std::filesystem::create_directories(sys() / "class" / "tty");
        std::filesystem::create_directories(dev() / "serial" / "by-id");
    }
    std::filesystem::path sys() const { return root_ / "sys"; }
    std::filesystem::path dev() const { return root_ / "dev"; }

    // A device at sys/devices/PATH on the given bus, bound to a driver if one
    // is named, with attribute files.
    std::filesystem::path device(const std::string& path, const std::string& subsystem,
                                 const std::string& driver = {}, const Attributes& attributes = {}) const {
        const std::filesystem::path dir = sys() / "devices" / path;
        std::filesystem::create_directories(dir);
        const std::filesystem::path bus = sys() / "bus" / subsystem;
        std::filesystem::create_directories(bus / "drivers");
        std::filesystem::create_directory_symlink(bus, dir / "subsystem");
        if (!driver.empty()) {
            std::filesystem::create_directories(bus / "drivers" / driver);
            std::filesystem::create_directory_symlink(bus / "drivers" / driver, dir / "driver");
        }
        for (const auto& [name, value] : attributes) std::ofstream(dir / name) << value << "\n";
        return dir;
    }

    // A tty of the tty class; on a device unless `on` is empty (a virtual
    // console), with the serial core's "type" attribute when given.
    std::filesystem::path tty(const std::string& name, const std::filesystem::path& on,
                              const std::string& uartType = {}) const {
        const std::filesystem::path dir =
            (on.empty() ? sys() / "devices" / "virtual" / "tty" : on / "tty") / name;
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "uevent") << "MAJOR=188\nMINOR=0\nDEVNAME=" << name << "\n";
        if (!uartType.empty()) std::ofstream(dir / "type") << uartType << "\n";
        if (!on.empty()) std::filesystem::create_directory_symlink(on, dir / "device");
        std::filesystem::create_directory_symlink(dir, sys() / "class" / "tty" / name);
        return dir;
    }

    // The node under dev/: a FIFO, or a link to a real device.
    void node(const std::string& name, const std::string& realDevice = {}) const {
        if (realDevice.empty())
            ::mkfifo((dev() / name).c_str(), 0600);
        else
            std::filesystem::create_symlink(realDevice, dev() / name);
    }

    // udev's link dev/serial/by-id/LINK, relative as udev makes it.
    void byId(const std::string& link, const std::string& name) const {
        std::filesystem::create_symlink("../../" + name, dev() / "serial" / "by-id" / link);
    }

    // An FTDI adapter on USB as the kernel shows it: the USB device, its
    // interface, the usb-serial port with the tty, and the udev link.
    void ftdiAdapter(const std::string& name, const std::string& realDevice = {}) const {
        const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-2";
        device(usb, "usb", "usb",
               {{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"},
                {"product", "FT232R USB UART"}, {"serial", "A50285BI"}});
        device(usb + "/1-2:1.0", "usb", "ftdi_sio");
        tty(name, device(usb + "/1-2:1.0/" + name, "usb-serial", "ftdi_sio"));
        node(name, realDevice);
        byId("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", name);
    }

private:
    std::filesystem::path root_;
};

}  // namespace qm730::test
