// The serial layer on Win32 and the opening of a port by its name: the
// failing steps, system errors and texts, and, with the simulated board on a port
// (scripts/test_windows.sh links Wine's COM1 to its pseudo-terminal), the
// exchange itself, blocking waits, purges, settings put back on close, a
// line that hangs up and a port released by a console interrupt.
//
// QM730_TEST_LINE names the port with the board; QM730_TEST_HANGUP_LINE and
// QM730_TEST_HOLD_LINE name ports for the cases that the script ends from
// outside, QM730_TEST_MARK the file that tells the script they are ready.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "core/link/line_opening.h"
#include "core/link/portname.h"
#include "core/link/serial_port.h"
#include "core/link/transfer_line.h"
#include "closing_pump.h"
#include "serial_checks.h"
#include "tempdir.h"

using namespace qm730;
using test::stepOf;
using namespace std::chrono_literals;

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool underWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

double processorSeconds() {
    FILETIME created, ended, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

DCB settingsThroughOwnHandle(const std::string& device, bool& opened) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const HANDLE handle = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    opened = handle != INVALID_HANDLE_VALUE;
    if (opened) {
        ::GetCommState(handle, &dcb);
        ::CloseHandle(handle);
    }
    return dcb;
}

void markReady() {
    const std::string mark = environment("QM730_TEST_MARK");
    ASSERT_FALSE(mark.empty());
    std::ofstream(mark) << "ready\n";
}

// Reads what the board says until the text has come or the time is up.
std::string readUntil(SerialPort& port, const std::string& wanted, std::chrono::milliseconds patience) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + patience;
    while (got.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < end) {
        if (!port.waitReadable(200ms)) continue;
        std::uint8_t byte = 0;
        while (port.readAvailable(&byte, 1) == 1) got += static_cast<char>(byte);
    }
    return got;
}

struct WineLine : ::testing::Test {
    std::string name = environment("QM730_TEST_LINE");
    void SetUp() override {
        if (name.empty()) GTEST_SKIP() << "no simulated board on a port (scripts/test_windows.sh provides one)";
    }
};

}  // namespace

TEST(SerialLayerW32, FailuresCarryTheirStepTheSystemErrorAndThePortsName) {
    SerialPort port;
    const std::uint8_t byte = 0;
    EXPECT_EQ(stepOf([&] { port.write(&byte, 1); }), SerialStep::NotOpen);
    EXPECT_EQ(stepOf([&] { port.waitReadable(10ms); }), SerialStep::NotOpen);
    EXPECT_EQ(stepOf([&] { port.bytesWaiting(); }), SerialStep::NotOpen);
    EXPECT_EQ(stepOf([&] { port.purgeInput(); }), SerialStep::NotOpen);
    try {
        port.purgeInput();
    } catch (const SerialError& e) {
        EXPECT_EQ(e.systemError(), ERROR_INVALID_HANDLE);
    }

    // A port that does not exist: the system's reason, and the name the
    // operator chose rather than the device path.
    const LineOpening opening = openLine(port, "COM9");
    ASSERT_TRUE(opening.error);
    EXPECT_EQ(opening.error->step(), SerialStep::Open);
    const int error = opening.error->systemError();
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
    const std::string reason = systemErrorText(error);
    EXPECT_EQ(std::string(opening.error->what()), "COM9: " + reason);
    EXPECT_EQ(opening.error->reason(), reason);
    EXPECT_TRUE(opening.deviceUnavailable());
    EXPECT_FALSE(port.isOpen());
}

// A file, a folder or a character device that is no serial line (NUL) is
// refused as no serial port and let go again.
TEST(SerialLayerW32, NamesThatAreNoSerialLineAreRefused) {
    TempDir dir;
    const std::string file = dir.file("board.tbl");
    std::ofstream(file) << "keep";
    for (const std::string& name : {file, dir.path().string(), std::string("NUL")}) {
        SCOPED_TRACE(name);
        SerialPort line;
        test::expectRefusedAsNoSerialPort(line, name);
        const LineOpening refused = openLine(line, name);
        ASSERT_TRUE(refused.error);
        EXPECT_EQ(refused.error->step(), SerialStep::NotATerminal);
    }
    EXPECT_TRUE(std::filesystem::remove(file)) << "the handle was closed";
}

TEST_F(WineLine, LogonIsAnsweredAndSettingsAreTakenAndPutBack) {
    const std::string device = deviceForPortName(name);
    // Settings another program left on the port.
    {
        const HANDLE handle = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(::GetCommState(handle, &dcb));
        dcb.BaudRate = 4800;
        dcb.StopBits = ONESTOPBIT;
        ASSERT_TRUE(::SetCommState(handle, &dcb));
        ::CloseHandle(handle);
    }
    {
        // A pseudo-terminal keeps 8 data bits without a word; reading the
        // settings back finds it out.
        SerialPort port;
        const LineOpening refused = openLine(port, name, {19200, 7, Parity::Even, 2});
        if (refused.opened) {
            EXPECT_FALSE(underWine()) << "a pseudo-terminal took 7 data bits";
        } else {
            EXPECT_TRUE(refused.settingsRefused);
            EXPECT_EQ(refused.error->step(), SerialStep::ApplySettings);
            EXPECT_EQ(std::string(refused.error->what()),
                      name + ": the device did not take 19200 baud, 7 data bits, even parity, 2 stop bits");
            EXPECT_FALSE(port.isOpen());
        }
    }
    for (const int stopBits : {1, 2}) {
        SerialPort port;
        ASSERT_TRUE(openLine(port, name, {19200, 8, Parity::None, stopBits}).opened);
        bool opened = false;
        const DCB taken = settingsThroughOwnHandle(device, opened);
        if (underWine()) {
            // Wine shares a port between handles, so its settings can be looked at.
            ASSERT_TRUE(opened);
            EXPECT_EQ(taken.BaudRate, 19200u);
            EXPECT_EQ(taken.ByteSize, 8);
            EXPECT_EQ(taken.Parity, NOPARITY);
            EXPECT_EQ(taken.StopBits, stopBits == 1 ? ONESTOPBIT : TWOSTOPBITS);
        } else {
            EXPECT_FALSE(opened) << "a port in use is exclusive";
        }
        if (stopBits != 2) continue;
        const std::uint8_t cr = '\r';
        port.write(&cr, 1);
        EXPECT_NE(readUntil(port, "ID=", 5s).find("ID="), std::string::npos);
        port.close();
    }
    bool opened = false;
    const DCB after = settingsThroughOwnHandle(device, opened);
    ASSERT_TRUE(opened) << "free again once closed";
    EXPECT_EQ(after.BaudRate, 4800u) << "closing puts the previous settings back";
    EXPECT_EQ(after.StopBits, ONESTOPBIT);
}

TEST_F(WineLine, WaitsBlockWithoutSpinningAndPurgesDropWhatWaits) {
    SerialPort line;
    line.open(deviceForPortName(name));
    line.configure(kBoardLine);
    line.purgeInput();

    // Nothing comes: the wait takes its time (at least) on the device and
    // hardly any processor time.
    const auto start = std::chrono::steady_clock::now();
    const double processorBefore = processorSeconds();
    EXPECT_FALSE(line.waitReadable(1500ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms);
    EXPECT_LT(processorSeconds() - processorBefore, 0.5) << "the wait spins";
    EXPECT_EQ(line.bytesWaiting(), 0u);

    // The board answers: the wait ends with the first byte, which is
    // counted and read like the rest.
    const std::uint8_t cr = '\r';
    line.write(&cr, 1);
    ASSERT_TRUE(line.waitReadable(5s));
    EXPECT_GE(line.bytesWaiting(), 1u);
    std::this_thread::sleep_for(300ms);
    std::uint8_t answer[16]{};
    const std::size_t got = line.readAvailable(answer, sizeof answer);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(answer), got).substr(0, 3), "ID=");

    // A byte the wait has taken is dropped by a purge like the rest.
    line.write(&cr, 1);
    ASSERT_TRUE(line.waitReadable(5s));
    std::this_thread::sleep_for(300ms);
    line.purgeInput();
    EXPECT_EQ(line.bytesWaiting(), 0u);
    EXPECT_EQ(line.readAvailable(answer, sizeof answer), 0u);
    EXPECT_NO_THROW(line.purgeOutput());
    EXPECT_NO_THROW(line.close());
}

// A program whose windows must stay responsive gives them their turn while a
// one-byte read waits in the driver; a turn that closes the port (a dialog
// cancelled) ends that read and the wait, and the port can be had again.
TEST_F(WineLine, AWaitServesThePumpAndEndsWhenItClosesThePort) {
    SerialPort line;
    ASSERT_TRUE(openLine(line, name).opened);
    line.purgeInput();
    test::ClosingPump pump(line);
    line.setPump(&pump);
    EXPECT_EQ(stepOf([&] { line.waitReadable(5s); }), SerialStep::NotOpen);
    EXPECT_EQ(pump.turns, 10);
    EXPECT_FALSE(line.isOpen());
    line.setPump(nullptr);
    ASSERT_TRUE(openLine(line, name).opened) << "the port was let go";
    const std::uint8_t cr = '\r';
    line.write(&cr, 1);
    EXPECT_NE(readUntil(line, "ID=", 5s).find("ID="), std::string::npos) << "and works as before";
    line.close();
}

// Run by the script, which closes the board's end once the mark is there.
TEST(WineLineEnds, LineThatHangsUpFailsAsAHangUp) {
    const std::string name = environment("QM730_TEST_HANGUP_LINE");
    if (name.empty()) GTEST_SKIP() << "run by scripts/test_windows.sh";
    SerialPort line;
    line.open(deviceForPortName(name));
    line.configure(kBoardLine);
    markReady();
    const auto end = std::chrono::steady_clock::now() + 60s;
    try {
        while (std::chrono::steady_clock::now() < end) {
            line.waitReadable(200ms);
            std::uint8_t byte = 0;
            line.readAvailable(&byte, 1);
            line.write(&byte, 0);
            line.bytesWaiting();
        }
        FAIL() << "the hang-up was not noticed";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.step(), SerialStep::HangUp) << e.what();
        EXPECT_EQ(std::string(e.what()), name + ": the line hung up (the device went away)");
    }
    line.abandon();
    EXPECT_FALSE(line.isOpen());
}

// Run by the script, which interrupts the program once the mark is there
// and then looks at the port's settings from outside.
TEST(WineLineEnds, PortHeldUntilInterrupted) {
    const std::string name = environment("QM730_TEST_HOLD_LINE");
    if (name.empty()) GTEST_SKIP() << "run by scripts/test_windows.sh";
    SerialPort::releasePortsOnInterrupt();
    SerialPort line;
    line.open(deviceForPortName(name));
    line.configure(kBoardLine);
    markReady();
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < end) line.waitReadable(1s);
    FAIL() << "no interrupt came";
}
