// Serial devices from sysfs: every tty of the kernel's tty class that sits on
// a device (virtual consoles and pseudo-terminals sit on none), less the
// serial ports the 8250 driver reserves without a UART behind them. What the
// system knows of each comes from the device and its parents: the driver,
// the bus, and for a USB adapter the vendor, product and serial number that
// the adapter itself reports. Only attributes and links are read.
#include <sys/stat.h>

#include <fstream>
#include <optional>
#include <system_error>

#include "core/link/portlist.h"

namespace qm730 {

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, or nothing when there is none.
std::string attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

// The name a link in sysfs points to: "ftdi_sio" for .../drivers/ftdi_sio.
std::string linkTarget(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

// The node's name under /dev, as the kernel gives it to udev.
std::string deviceNodeName(const fs::path& ttyDir) {
    std::ifstream in(ttyDir / "uevent");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("DEVNAME=", 0) == 0) return line.substr(8);
    return ttyDir.filename().string();
}

// A port the serial core registered with no UART found behind it.
bool reservedWithoutUart(const fs::path& ttyDir) {
    std::error_code error;
    return fs::exists(ttyDir / "type", error) && attribute(ttyDir / "type") == "0";
}

// Reads the device and its parents up to the first USB device (or PCI
// card), skipping the serial core's own port and controller devices.
void describeFromDevice(const fs::path& device, const fs::path& sysRoot, SerialDeviceInfo& info) {
    std::error_code error;
    const fs::path root = fs::weakly_canonical(sysRoot, error);
    fs::path dir = fs::canonical(device, error);
    if (error) return;
    for (int depth = 0; depth < 32 && dir.has_relative_path() && dir != root; ++depth, dir = dir.parent_path()) {
        const std::string subsystem = linkTarget(dir / "subsystem");
        if (subsystem == "serial-base") continue;
        if (info.driver.empty()) info.driver = linkTarget(dir / "driver");
        if (info.bus.empty()) info.bus = subsystem;
        if (fs::exists(dir / "idVendor", error)) {
            info.bus = "usb";
            info.vendorId = attribute(dir / "idVendor");
            info.productId = attribute(dir / "idProduct");
            info.manufacturer = attribute(dir / "manufacturer");
            info.product = attribute(dir / "product");
            info.serialNumber = attribute(dir / "serial");
            return;
        }
        if (subsystem == "pci") {
            const auto hex = [](std::string id) { return id.rfind("0x", 0) == 0 ? id.substr(2) : id; };
            info.vendorId = hex(attribute(dir / "vendor"));
            info.productId = hex(attribute(dir / "device"));
            return;
        }
    }
}

// The udev link under /dev/serial/by-id that leads to the node, if any:
// it names the adapter, whichever ttyUSBn it became this time.
// (std::filesystem::equivalent refuses device nodes, so the nodes are
// compared by stat, which opens nothing.)
std::string stableLinkTo(const fs::path& node, const fs::path& devRoot) {
    struct stat target {};
    if (::stat(node.c_str(), &target) != 0) return {};
    std::error_code error;
    for (fs::directory_iterator it(devRoot / "serial" / "by-id", error), end; !error && it != end;
         it.increment(error)) {
        struct stat link {};
        if (::stat(it->path().c_str(), &link) == 0 && link.st_dev == target.st_dev && link.st_ino == target.st_ino)
            return it->path().string();
    }
    return {};
}

}  // namespace

std::vector<SerialDeviceInfo> listSerialDevices(const fs::path& sysRoot, const fs::path& devRoot) {
    std::vector<SerialDeviceInfo> devices;
    std::error_code error;
    for (fs::directory_iterator it(sysRoot / "class" / "tty", error), end; !error && it != end;
         it.increment(error)) {
        const fs::path ttyDir = it->path();
        std::error_code missing;
        if (!fs::exists(ttyDir / "device", missing) || reservedWithoutUart(ttyDir)) continue;
        SerialDeviceInfo info;
        info.name = deviceNodeName(ttyDir);
        const fs::path node = devRoot / info.name;
        if (!fs::exists(node, missing)) continue;  // no node made for it: nothing to open
        info.port = node.string();
        info.stablePath = stableLinkTo(node, devRoot);
        describeFromDevice(ttyDir / "device", sysRoot, info);
        devices.push_back(std::move(info));
    }
    sortByName(devices);
    return devices;
}

std::vector<SerialDeviceInfo> listSerialDevices() { return listSerialDevices("/sys", "/dev"); }

}  // namespace qm730
