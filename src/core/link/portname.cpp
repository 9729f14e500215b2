#include "core/link/portname.h"

#include <cctype>
#include <cstdlib>

namespace qm730 {

namespace {

// The ports whose device an environment variable may name.
constexpr int kOverridablePorts = 5;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool startsWithCom(std::string_view name) {
    if (name.size() < 4) return false;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
    return true;
}

}  // namespace

std::optional<int> comPortNumber(std::string_view name, PortNaming naming) {
    if (!startsWithCom(name) || name[3] < '1' || name[3] > '9') return std::nullopt;
    const std::string_view digits = name.substr(3);
    if (naming == PortNaming::Posix) {
        if (digits.size() != 1 || digits[0] > '0' + kOverridablePorts) return std::nullopt;
    } else {
        // COM1 to COM999, as the device namespace reaches them.
        if (digits.size() > 3) return std::nullopt;
        for (char c : digits)
            if (!isDigit(c)) return std::nullopt;
    }
    return std::stoi(std::string(digits));
}

std::string deviceForPortName(std::string_view name, PortNaming naming) {
    const std::optional<int> number = comPortNumber(name, naming);
    if (!number) return std::string(name);
    if (*number <= kOverridablePorts) {
        const std::string variable = "QM730C_COM" + std::to_string(*number);
        if (const char* device = std::getenv(variable.c_str()); device && *device) return device;
    }
    if (naming == PortNaming::Posix) return "/dev/ttyS" + std::to_string(*number - 1);
    return "\\\\.\\COM" + std::to_string(*number);
}

bool isPortName(std::string_view name, PortNaming naming) {
    if (comPortNumber(name, naming)) return true;
    if (name.find('/') != std::string_view::npos) return true;
    return naming == PortNaming::Windows && name.find('\\') != std::string_view::npos;
}

std::string portNamesInWords(PortNaming naming) {
    if (naming == PortNaming::Posix) return "COM1 to COM5 or a device path such as /dev/ttyUSB0";
    return "COM1 to COM5, another COMn or a device path such as \\\\.\\COM12";
}

std::string portNamesExplained(PortNaming naming) {
    if (naming == PortNaming::Posix)
        return "PORT is COM1 to COM5 or a device path such as /dev/ttyUSB0. COM1 to COM5\n"
               "stand for /dev/ttyS0 to /dev/ttyS4 unless the environment variable\n"
               "QM730C_COM1 ... QM730C_COM5 names another device. 'qm730ctl ports' lists\n"
               "the serial devices the system has (a USB adapter just plugged in, too).\n";
    return "PORT is COM1 to COM5, another COMn or a device path such as \\\\.\\COM12.\n"
           "COMn is the Windows port of that name; the environment variable\n"
           "QM730C_COM1 ... QM730C_COM5 can name another device for COM1 ... COM5.\n"
           "'qm730ctl ports' lists the serial ports Windows knows of.\n";
}

}  // namespace qm730
