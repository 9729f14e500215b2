// The serial layer on Win32 and the serial-port class above it: port names,
// error codes and texts, and, with the simulated board on a port
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
#include <string>
#include <thread>

#include "core/link/commport.h"
#include "core/link/portname.h"
#include "core/link/serial_transfer_port.h"
#include "tempdir.h"

using namespace qm730;
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

std::uint8_t codeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ECommError& e) {
        return e.ErrorCode;
    }
    return 0;
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
std::string readUntil(TCommPort& port, const std::string& wanted, std::chrono::milliseconds patience) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + patience;
    while (got.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < end) {
        if (!port.WaitForInput(200ms)) continue;
        while (port.BytesWaiting() > 0) got += static_cast<char>(port.ReadByte());
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

TEST(CommPortW32, FailuresCarryTheirCodesTheSystemErrorAndThePortsName) {
    TCommPort port;
    const std::uint8_t byte = 0;
    EXPECT_EQ(codeOf([&] { port.Write(&byte, 1); }), comm_error::kNotOpen);
    EXPECT_EQ(codeOf([&] { port.ReadByte(); }), comm_error::kNotOpen);
    EXPECT_EQ(codeOf([&] { port.BytesWaiting(); }), comm_error::kNotOpen);
    EXPECT_EQ(codeOf([&] { port.Purge(); }), comm_error::kNotOpen);
    try {
        port.Purge();
    } catch (const ECommError& e) {
        EXPECT_EQ(e.SystemError, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
    }

    // A port that does not exist: code 8, the system's reason, and the
    // name the operator chose rather than the device path.
    try {
        port.Configure(19200, "COM9", kFormat8N2);
        FAIL() << "COM9 opened";
    } catch (const ECommError& e) {
        EXPECT_EQ(e.ErrorCode, comm_error::kOpenFailed);
        EXPECT_TRUE(e.SystemError == ERROR_FILE_NOT_FOUND || e.SystemError == ERROR_PATH_NOT_FOUND) << e.SystemError;
        const std::string reason = systemErrorText(static_cast<int>(e.SystemError));
        EXPECT_EQ(std::string(e.what()), "serial port error 8: COM9: " + reason);
        EXPECT_EQ(e.reason(), reason);
    }
    EXPECT_FALSE(port.IsOpen());
}

// A file, a folder or a character device that is no serial line (NUL) is
// refused as no serial port, code 14, and let go again.
TEST(SerialLayerW32, NamesThatAreNoSerialLineAreRefused) {
    TempDir dir;
    const std::string file = dir.file("board.tbl");
    std::ofstream(file) << "keep";
    for (const std::string& name : {file, dir.path().string(), std::string("NUL")}) {
        SCOPED_TRACE(name);
        SerialPort line;
        try {
            line.open(name);
            FAIL() << "opened";
        } catch (const SerialError& e) {
            EXPECT_EQ(e.step(), SerialStep::NotATerminal);
            EXPECT_EQ(std::string(e.what()), name + ": not a serial port");
            EXPECT_EQ(e.reason(), "not a serial port");
        }
        EXPECT_FALSE(line.isOpen());
        const TransferPortOpening opening = openTransferPort(line, name);
        EXPECT_EQ(opening.reason, "cannot open the port: not a serial port");
        TCommPort port;
        EXPECT_EQ(codeOf([&] { port.Configure(19200, name, kFormat8N2); }), comm_error::kReadSettingsFailed);
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
        TCommPort port;
        try {
            port.Configure(19200, name, kFormat7E2);
            EXPECT_FALSE(underWine()) << "a pseudo-terminal took 7 data bits";
        } catch (const ECommError& e) {
            EXPECT_EQ(e.ErrorCode, comm_error::kApplySettingsFailed);
            EXPECT_EQ(std::string(e.what()), "serial port error 15: " + name +
                                                 ": the device did not take 19200 baud, 7 data bits, even parity, 2 stop bits");
            EXPECT_FALSE(port.IsOpen());
        }
    }
    for (int format : {kFormat8N1, kFormat8N2}) {
        TCommPort port;
        port.Configure(19200, name, format);
        bool opened = false;
        const DCB taken = settingsThroughOwnHandle(device, opened);
        if (underWine()) {
            // Wine shares a port between handles, so its settings can be looked at.
            ASSERT_TRUE(opened);
            EXPECT_EQ(taken.BaudRate, 19200u);
            EXPECT_EQ(taken.ByteSize, 8);
            EXPECT_EQ(taken.Parity, NOPARITY);
            EXPECT_EQ(taken.StopBits, format == kFormat8N1 ? ONESTOPBIT : TWOSTOPBITS);
        } else {
            EXPECT_FALSE(opened) << "a port in use is exclusive";
        }
        if (format != kFormat8N2) continue;
        const std::uint8_t cr = '\r';
        port.Write(&cr, 1);
        EXPECT_NE(readUntil(port, "ID=", 5s).find("ID="), std::string::npos);
        port.ClosePort();
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
