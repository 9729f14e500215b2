// The serial devices the system has, as it describes them, for an operator
// who must find which port the board's adapter is on. Listing reads only
// what the system already knows (sysfs and /dev on Linux, the device
// manager's records on Windows) and opens no device: opening a port can
// raise or drop its modem lines and disturb whatever hangs on it. One file
// per platform (portlist_linux.cpp, portlist_w32.cpp).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qm730 {

struct SerialDeviceInfo {
    std::string port;        // what --port and the window take: /dev/ttyUSB0, COM7
    std::string name;        // the system's short name: ttyUSB0, COM7
    std::string stablePath;  // a name that survives replugging: /dev/serial/by-id/... (Linux),
                             // the device instance (Windows); empty when there is none
    std::string bus;         // usb, pci, pnp, platform, ...
    std::string vendorId;    // four hexadecimal digits, lower case (USB and PCI)
    std::string productId;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    std::string driver;      // ftdi_sio, cdc_acm, serial; FTDIBUS, usbser (Windows)

    // "ttyUSB0 - FT232R USB UART", or the name alone when the system names
    // no product.
    std::string label() const;
};

// Every serial device present now, ordered by name (ttyS2 before ttyS10).
std::vector<SerialDeviceInfo> listSerialDevices();

// Orders devices by name, numbers by value: ttyS2 before ttyS10.
void sortByName(std::vector<SerialDeviceInfo>& devices);

#ifndef _WIN32
// The same from another sysfs and /dev, e.g. a tree a test has made: the
// tty class is read under sysRoot/class/tty, devices are named under devRoot.
std::vector<SerialDeviceInfo> listSerialDevices(const std::filesystem::path& sysRoot,
                                                const std::filesystem::path& devRoot);
#endif

}  // namespace qm730
