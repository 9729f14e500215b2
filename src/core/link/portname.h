// Port names as operators give them, read in one place for every program:
// "COM1".."COM5" (any case) for the machine's first five serial ports, on
// Windows any other "COMn" as well, or the path of a device. Each system
// has its own rules; the functions follow the one the program runs on
// unless told otherwise, so both can be checked anywhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm730 {

enum class PortNaming {
    Posix,    // COM1..COM5 are /dev/ttyS0../dev/ttyS4
    Windows,  // COMn is \\.\COMn, COM10 and above included
};

#ifdef _WIN32
inline constexpr PortNaming kSystemNaming = PortNaming::Windows;
#else
inline constexpr PortNaming kSystemNaming = PortNaming::Posix;
#endif

// The number n of a name "COMn" the system knows as a port; nothing for any
// other name ("COM0", "COM 1", "COM6" on POSIX, a path).
std::optional<int> comPortNumber(std::string_view name, PortNaming naming = kSystemNaming);

// The device a port name stands for. The environment variable
// QM730C_COM1..QM730C_COM5 names the device for COM1..COM5 where it is set;
// otherwise COMn is /dev/ttyS(n-1) on POSIX and \\.\COMn on Windows. Any
// other name is taken as a device path, as given.
std::string deviceForPortName(std::string_view name, PortNaming naming = kSystemNaming);

// A name the programs take for a port: a COM name or a device path (one
// with '/', or on Windows '\'). Anything else ("COM 1", a bare word) would
// be opened as a file in the current folder.
bool isPortName(std::string_view name, PortNaming naming = kSystemNaming);

// The names isPortName accepts, in words: "COM1 to COM5 or a device path
// such as /dev/ttyUSB0".
std::string portNamesInWords(PortNaming naming = kSystemNaming);
// A paragraph for an overview help: what the port names stand for.
std::string portNamesExplained(PortNaming naming = kSystemNaming);

}  // namespace qm730
