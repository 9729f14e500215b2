// qm730ctl ports: the serial devices the system has, one a line, for the
// operator who must find the port the board's adapter is on, or as JSON for
// scripts. Lists without opening any device.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/command.h"
#include "cli/console.h"
#include "core/link/portlist.h"

namespace qm730::cli {

namespace {

struct PortsOptions {
    bool json = false;
    std::string root;  // a tree holding sys/ and dev/ in place of the system's (tests)
};

// "FTDI FT232R USB UART, USB 0403:6001, serial A50285BI, driver ftdi_sio"
std::string details(const SerialDeviceInfo& device) {
    std::string text;
    const auto add = [&text](const std::string& part) {
        if (part.empty()) return;
        if (!text.empty()) text += ", ";
        text += part;
    };
    std::string maker = device.manufacturer;
    if (!device.product.empty()) maker += (maker.empty() ? "" : " ") + device.product;
    add(maker);
    std::string ids = device.bus;
    for (char& c : ids) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!device.vendorId.empty()) ids += (ids.empty() ? "" : " ") + device.vendorId + ":" + device.productId;
    add(ids);
    if (!device.serialNumber.empty()) add("serial " + device.serialNumber);
    if (!device.driver.empty()) add("driver " + device.driver);
    return text;
}

void printLines(const std::vector<SerialDeviceInfo>& devices) {
    std::size_t portWidth = 0, stableWidth = 1;
    for (const SerialDeviceInfo& device : devices) {
        portWidth = std::max(portWidth, device.port.size());
        stableWidth = std::max(stableWidth, device.stablePath.size());
    }
    for (const SerialDeviceInfo& device : devices) {
        std::string line = device.port;
        line.resize(portWidth + 2, ' ');
        line += device.stablePath.empty() ? "-" : device.stablePath;
        line.resize(portWidth + 2 + stableWidth + 2, ' ');
        line += details(device);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::cout << terminalText(line) << "\n";
    }
}

std::string jsonString(const std::string& text) {
    if (text.empty()) return "null";
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

// One object a device; a field the system does not know is null.
void printJson(const std::vector<SerialDeviceInfo>& devices) {
    std::cout << "[";
    const char* separator = "\n";
    for (const SerialDeviceInfo& d : devices) {
        const std::pair<const char*, const std::string*> fields[] = {
            {"port", &d.port},         {"name", &d.name},
            {"stable_path", &d.stablePath}, {"bus", &d.bus},
            {"vendor_id", &d.vendorId}, {"product_id", &d.productId},
            {"manufacturer", &d.manufacturer}, {"product", &d.product},
            {"serial_number", &d.serialNumber}, {"driver", &d.driver}};
        std::cout << separator << "  {";
        const char* comma = "";
        for (const auto& [key, value] : fields) {
            std::cout << comma << "\"" << key << "\": " << jsonString(*value);
            comma = ", ";
        }
        std::cout << "}";
        separator = ",\n";
    }
    std::cout << (devices.empty() ? "]\n" : "\n]\n");
}

int listPorts(const PortsOptions& options) {
    const std::vector<SerialDeviceInfo> devices =
#ifdef _WIN32
        listSerialDevices();
#else
        options.root.empty() ? listSerialDevices()
                             : listSerialDevices(std::filesystem::path(options.root) / "sys",
                                                 std::filesystem::path(options.root) / "dev");
#endif
    if (options.json) {
        printJson(devices);
    } else if (devices.empty()) {
        printError("no serial devices found");
    } else {
        printLines(devices);
    }
    return kExitOk;
}

}  // namespace

Action addPortsCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("ports", "list the serial devices the system has");
    auto options = std::make_shared<PortsOptions>();
    command->add_flag("--json", options->json, "print a JSON array, one object a device, for scripts");
#ifndef _WIN32
    command->add_option("--root", options->root)->group("");  // a made-up device tree, for the tests
#endif
    command->footer(
#ifdef _WIN32
        "Lists the serial ports Windows knows of (the Ports class of the device\n"
        "manager, and the registry's SERIALCOMM map), one a line: the name to give\n"
        "--port, the device instance (its stable name), then what Windows knows of\n"
        "it: description, manufacturer, bus with vendor and product ID, serial\n"
        "number, driver service.\n"
#else
        "Lists the serial devices the kernel has (from /sys/class/tty), one a line:\n"
        "the name to give --port, the stable path under /dev/serial/by-id that names\n"
        "the adapter whichever ttyUSBn it became (\"-\" where there is none), then\n"
        "what the system knows of it: manufacturer and product, bus with vendor and\n"
        "product ID, serial number, driver. Pseudo-terminals and virtual consoles\n"
        "are no serial devices and are not listed; neither are the ports the serial\n"
        "driver reserves with no UART behind them.\n"
#endif
        "No device is opened: opening a port can change its modem lines and disturb\n"
        "what hangs on it.\n"
        "With --json: an array of objects with the keys port, name, stable_path, bus,\n"
        "vendor_id, product_id, manufacturer, product, serial_number and driver; a\n"
        "value the system does not know is null.\n"
        "Exit status: 0 (also when there is no device: then a line says so on\n"
        "stderr, or --json prints []), 2 usage error.\n");
    return [options] { return listPorts(*options); };
}

}  // namespace qm730::cli
