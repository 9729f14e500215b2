// Port names under both systems' rules, wherever the tests run: what each
// name stands for, and which names are taken for a port at all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/link/portname.h"

using namespace qm730;

namespace {

void setVariable(const char* name, const char* value) {
#ifdef _WIN32
    ::_putenv_s(name, value);
#else
    if (*value) ::setenv(name, value, 1);
    else ::unsetenv(name);
#endif
}

struct NameCase {
    const char* name;
    PortNaming naming;
    const char* device;  // what it opens
    bool port;           // taken for a port name
};

}  // namespace

TEST(PortNames, ComNamesMapToSerialDevicesAndPathsStayAsGiven) {
    setVariable("QM730C_COM2", "");
    const NameCase cases[] = {
        {"COM1", PortNaming::Posix, "/dev/ttyS0", true},
        {"com2", PortNaming::Posix, "/dev/ttyS1", true},
        {"COM5", PortNaming::Posix, "/dev/ttyS4", true},
        {"COM6", PortNaming::Posix, "COM6", false},
        {"COM12", PortNaming::Posix, "COM12", false},
        {"COM 1", PortNaming::Posix, "COM 1", false},
        {"/dev/ttyUSB0", PortNaming::Posix, "/dev/ttyUSB0", true},
        {"\\\\.\\COM12", PortNaming::Posix, "\\\\.\\COM12", false},
        {"COM1", PortNaming::Windows, "\\\\.\\COM1", true},
        {"com2", PortNaming::Windows, "\\\\.\\COM2", true},
        {"COM5", PortNaming::Windows, "\\\\.\\COM5", true},
        {"COM12", PortNaming::Windows, "\\\\.\\COM12", true},
        {"COM999", PortNaming::Windows, "\\\\.\\COM999", true},
        {"COM1000", PortNaming::Windows, "COM1000", false},
        {"\\\\.\\COM12", PortNaming::Windows, "\\\\.\\COM12", true},
        {"/dev/ttyUSB0", PortNaming::Windows, "/dev/ttyUSB0", true},
        {"COM0", PortNaming::Windows, "COM0", false},
        {"COMX", PortNaming::Windows, "COMX", false},
        {"COM", PortNaming::Windows, "COM", false},
        {"board", PortNaming::Windows, "board", false},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.naming == PortNaming::Posix ? " on POSIX" : " on Windows"));
        EXPECT_EQ(deviceForPortName(c.name, c.naming), c.device);
        EXPECT_EQ(isPortName(c.name, c.naming), c.port);
    }
}

TEST(PortNames, TheEnvironmentNamesTheDeviceOfTheFirstFivePorts) {
    setVariable("QM730C_COM2", "/dev/pts/77");
    EXPECT_EQ(deviceForPortName("COM2", PortNaming::Posix), "/dev/pts/77");
    EXPECT_EQ(deviceForPortName("COM2", PortNaming::Windows), "/dev/pts/77");
    setVariable("QM730C_COM2", "\\\\.\\COM17");
    EXPECT_EQ(deviceForPortName("com2", PortNaming::Windows), "\\\\.\\COM17");
    EXPECT_EQ(deviceForPortName("COM3", PortNaming::Windows), "\\\\.\\COM3");
    setVariable("QM730C_COM2", "");
    EXPECT_EQ(deviceForPortName("COM2", PortNaming::Posix), "/dev/ttyS1") << "an empty variable names nothing";
}
