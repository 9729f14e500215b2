// The serial layer: one serial device opened for exclusive use, in raw mode,
// with every wait bounded by a time-out. The platform part lives in one file
// per system (serial_posix.cpp, serial_w32.cpp); everything above it sees
// only this class.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
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
    NotATerminal,  // the name is a file, a FIFO or a device that is no serial line
    InUse,         // another program (or this one) holds the device
    ReadSettings,  // the line settings could not be read
    ApplySettings, // the line settings were refused (e.g. an unsupported rate)
    Write,
    WriteTimeout,  // the line stopped taking bytes
    Read,
    QueueCount,
    Purge,
    ModemLine,     // RTS could not be changed (a pseudo-terminal has no modem lines)
    QueueSize,     // the driver refused the queue sizes (Windows only)
    Close,
    NotOpen,
    HangUp,        // the device went away (adapter pulled, other end closed)
    OutOfTime,     // a write still going at the deadline of the operation under way
};

// what() names the device and says what went wrong ("/dev/ttyUSB0: the line
// hung up (the device went away)"); reason() says only what went wrong, for
// messages that name the port already.
class SerialError : public std::runtime_error {
public:
    SerialError(SerialStep step, int systemError, const std::string& what)
        : std::runtime_error(what), step_(step), systemError_(systemError), reason_(what) {}
    SerialError(SerialStep step, int systemError, const std::string& device, const std::string& reason)
        : std::runtime_error(device.empty() ? reason : device + ": " + reason),
          step_(step),
          systemError_(systemError),
          reason_(reason) {}
    SerialStep step() const { return step_; }
    int systemError() const { return systemError_; }
    const std::string& reason() const { return reason_; }

private:
    SerialStep step_;
    int systemError_;
    std::string reason_;
};

// The system's error numbers for the two failures the serial layer finds by
// itself, and the system's text for an error number: errno and strerror on
// POSIX, GetLastError() values and their message text on Windows.
int systemErrorNotOpen();
int systemErrorTimedOut();
std::string systemErrorText(int error);

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

    // Opens the device for exclusive use and remembers its settings, which
    // closing puts back. A device that another opener holds fails with
    // SerialStep::InUse; a name that is no terminal device (a plain file,
    // a FIFO, /dev/null) fails with SerialStep::NotATerminal, untouched.
    void open(const std::string& device);
    // Reads the device's settings and applies the given line settings over
    // them in raw mode: receiver on, modem lines ignored, no flow control.
    // Settings the device does not take fail with SerialStep::ApplySettings.
    void configure(const LineSettings& settings);
    // Puts the settings back, lets go of the device and closes it; bytes
    // not yet sent still go out, unless the line has failed since opening,
    // when close() discards them as abandon() does.
    void close();
    // Closing after a failure: discards what the line has not taken, so the
    // close cannot wait for it, and never throws.
    void abandon() noexcept;
    // From now on every signal whose default is to end the program (Ctrl+C,
    // kill, a closed terminal, SIGQUIT, SIGUSR1, SIGALRM, a limit reached,
    // ...) releases every open port as abandon() does, then ends the program
    // as the signal would have. A broken pipe that the program's own write
    // caused ends nothing: that write fails (EPIPE) and says so where it is
    // made. Signals the program ignores or handles stay as they are. On
    // Windows: Ctrl+C, Ctrl+Break, a closed console window, logoff and
    // shutdown, for programs that install no console control handler.
    static void releasePortsOnInterrupt();
    bool isOpen() const;
    const std::string& device() const { return device_; }

    // Writes all bytes; throws SerialError(WriteTimeout) when the line sends
    // nothing for stallTimeout: neither takes a byte nor drains the driver's
    // queue (a UART driver takes new bytes only once its queue has nearly
    // emptied, seconds later at 19200 baud).
    void write(const std::uint8_t* data, std::size_t count,
               std::chrono::milliseconds stallTimeout = kWriteStallTimeout);
    // From now on no write goes on past the deadline, however the line
    // moves: one still unfinished then fails with SerialStep::OutOfTime.
    // The deadline of the operation under way (a line that drains, but far
    // too slowly); nothing lifts it.
    void setWriteDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) {
        writeDeadline_ = deadline;
    }
    // Reads what is there, up to count bytes, without waiting. A line that
    // has hung up fails with SerialStep::HangUp, as does every other step.
    std::size_t readAvailable(std::uint8_t* data, std::size_t count);
    // Waits until at least one byte can be read; false on time-out. What
    // arrived before a hang-up is still read first.
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
    // As fail(), but a failure that means the device went away is a hang-up.
    [[noreturn]] void failOrHangUp(SerialStep step, int systemError, const std::string& action) const;
    void requireOpen(const char* action) const;
    int release(bool discardOutput) noexcept;

#ifdef _WIN32
    struct Win32Io;  // overlapped I/O state and the settings found at opening
    void setTimeouts(std::uint32_t readWaitMs, std::uint32_t writeStallMs);
    std::size_t queuedInput(const char* action, SerialStep step);
    std::uint32_t millisecondsPerByte() const;

    void* handle_ = nullptr;  // the device's HANDLE
    Win32Io* io_ = nullptr;   // owned; lives from open() to release()
    int lookahead_ = -1;      // a byte that a wait has already taken off the line
    std::uint32_t baudRate_ = 19200;
    bool queueSized_ = false;
#else
    class OutputProgress;  // how a write tells a slow line from a stuck one
    int fd_ = -1;
    bool pseudoTerminal_ = false;       // no transmitter queue of our own to discard
    bool madeExclusive_ = false;        // TIOCEXCL is ours to clear
    std::uint32_t baudRate_ = 19200;    // as configured: how fast the driver's queue drains
#endif
    std::optional<std::chrono::steady_clock::time_point> writeDeadline_;
    int entry_ = -1;  // where the device is recorded for release on an interrupt
    mutable bool lineFailed_ = false;  // a write, read or wait has failed since opening
    std::string device_;
};

}  // namespace qm730
