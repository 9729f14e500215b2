// The serial layer: one serial device opened for exclusive use, in raw mode,
// with every wait bounded by a time-out. The platform part lives in one file
// per system (serial_posix.cpp); everything above it sees only this class.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qm730 {

enum class Parity { None, Even };

struct LineSettings {
    std::uint32_t baudRate = 19200;
    int dataBits = 8;
    Parity parity = Parity::None;
    int stopBits = 2;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// The board's line: 19200 baud, 8 data bits, no parity, two stop bits.
inline constexpr LineSettings kBoardLine{};

// The step of the serial layer that failed.
enum class SerialStep {
    Open,          // the device could not be opened
    InUse,         // another program (or this one) holds the device
    ReadSettings,  // the line settings could not be read
    ApplySettings, // the line settings were refused (e.g. an unsupported rate)
    Write,
    WriteTimeout,  // the line stopped taking bytes
    Read,
    QueueCount,
    Purge,
    ModemLine,     // RTS could not be changed (a pseudo-terminal has no modem lines)
    Close,
    NotOpen,
};

class SerialError : public std::runtime_error {
public:
    SerialError(SerialStep step, int systemError, const std::string& what)
        : std::runtime_error(what), step_(step), systemError_(systemError) {}
    SerialStep step() const { return step_; }
    int systemError() const { return systemError_; }

private:
    SerialStep step_;
    int systemError_;
};

// How long a write may go without the line taking a single byte before it
// is abandoned. At 19200 baud a byte leaves every 0.57 ms, so two seconds of
// no progress means the line is stuck, not slow.
inline constexpr std::chrono::milliseconds kWriteStallTimeout{2000};

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // "COM1".."COM5" (any case) name /dev/ttyS0../dev/ttyS4 unless the
    // environment variable QM730C_COM1..QM730C_COM5 names another device;
    // any other name is taken as a device path.
    static std::string deviceForPortName(std::string_view name);

    // Opens the device for exclusive use. A device that another opener
    // holds fails with SerialStep::InUse.
    void open(const std::string& device);
    // Reads the device's settings and applies the given line settings over
    // them in raw mode: receiver on, modem lines ignored, no flow control.
    void configure(const LineSettings& settings);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& device() const { return device_; }

    // Writes all bytes; throws SerialError(WriteTimeout) when the line takes
    // nothing for stallTimeout.
    void write(const std::uint8_t* data, std::size_t count,
               std::chrono::milliseconds stallTimeout = kWriteStallTimeout);
    // Reads what is there, up to count bytes, without waiting.
    std::size_t readAvailable(std::uint8_t* data, std::size_t count);
    // Waits until at least one byte can be read; false on time-out.
    bool waitReadable(std::chrono::milliseconds timeout);
    std::size_t bytesWaiting();
    // Bytes written but not yet sent on the line; 0 where the device cannot
    // tell, as a pseudo-terminal.
    std::size_t bytesUnsent();
    void purgeInput();
    void purgeOutput();
    void setRts(bool raised);

private:
    [[noreturn]] void fail(SerialStep step, int systemError, const std::string& action) const;
    void requireOpen(const char* action) const;

    int fd_ = -1;
    std::string device_;
};

}  // namespace qm730
