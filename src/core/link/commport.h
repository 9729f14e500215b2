// The serial-port class of the board link: a port name, its line settings and
// the open device, with byte-level I/O. Every failing step throws ECommError
// with a small code naming the step and the system's error number.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "core/link/serial_port.h"

namespace qm730 {

// Codes carried by ECommError. Callers tell kOpenFailed apart from the rest:
// it means the device could not be opened, most likely because it is in use.
namespace comm_error {
inline constexpr std::uint8_t kBaudRateRefused = 1;
inline constexpr std::uint8_t kRenameWhileOpen = 6;
inline constexpr std::uint8_t kNotOpen = 7;
inline constexpr std::uint8_t kOpenFailed = 8;  // also a failing RTS change
inline constexpr std::uint8_t kWriteFailed = 9;
inline constexpr std::uint8_t kReadFailed = 10;
inline constexpr std::uint8_t kCloseFailed = 11;
inline constexpr std::uint8_t kPurgeFailed = 12;
inline constexpr std::uint8_t kReadSettingsFailed = 14;
inline constexpr std::uint8_t kApplySettingsFailed = 15;
inline constexpr std::uint8_t kQueueSizeFailed = 16;  // Windows only: POSIX queue sizes belong to the kernel
inline constexpr std::uint8_t kQueueStatusFailed = 18;
}  // namespace comm_error

class ECommError : public std::exception {
public:
    ECommError(std::uint8_t code, std::uint32_t systemError, std::string detail = {}, std::string reason = {});
    const char* what() const noexcept override { return text_.c_str(); }
    // What went wrong in words, without the code and the device name ("No
    // such file or directory", "not a serial port"), for messages that name
    // the port already.
    const std::string& reason() const { return reason_; }

    std::uint8_t ErrorCode;
    std::uint32_t SystemError;  // errno (GetLastError() on Windows) at the moment of the failure

private:
    std::string text_;
    std::string reason_;
};

// Data-format codes of Configure.
inline constexpr int kFormat7E2 = 0;
inline constexpr int kFormat8N1 = 1;
inline constexpr int kFormat8N2 = 2;

// ReadByte is only called after BytesWaiting has reported input; should the
// byte still not come, the read gives up after this long and throws
// kReadFailed with SystemError ETIMEDOUT rather than wait for ever.
inline constexpr std::chrono::milliseconds kReadByteTimeout{1000};

class TCommPort {
public:
    TCommPort();
    ~TCommPort();
    TCommPort(const TCommPort&) = delete;
    TCommPort& operator=(const TCommPort&) = delete;

    bool IsOpen() const { return open_; }
    void OpenPort();
    void ClosePort();
    void SetBaudRate(std::uint32_t baudRate);
    void SetPortName(const std::string& name);
    void Configure(std::uint32_t baudRate, const std::string& name, int dataFormat);
    void Write(const void* data, std::size_t count);
    std::uint8_t ReadByte();
    std::size_t BytesWaiting();
    // Blocks until input is waiting or the time-out has passed; false on
    // time-out. Requires an open port; a failing wait throws kReadFailed.
    bool WaitForInput(std::chrono::milliseconds timeout);
    void Purge();
    void PulseRts(bool pulse);
    // No Write goes on past this time (nothing: no such limit); one still
    // unfinished then throws kWriteFailed. The bound of the operation under
    // way, kept across a reopening of the port.
    void SetWriteDeadline(std::optional<std::chrono::steady_clock::time_point> deadline);

    const std::string& PortName() const { return portName_; }
    const LineSettings& Settings() const { return settings_; }

private:
    bool open_ = false;
    std::string portName_ = "COM1";
    LineSettings settings_{9600, 8, Parity::None, 1};
    SerialPort port_;
    bool everOpened_ = false;  // the handle keeps its last value after closing
    bool rtsPulse_ = false;
};

// The program's one serial-port object, used by the board link and the
// connection check. Touch it early so it is made before any window.
TCommPort& commPort();

}  // namespace qm730
