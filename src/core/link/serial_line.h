// One serial line, as both protocols see it: the configuration transfer and
// the board link talk through this interface only. The system's serial
// device implements it (SerialPort, serial_port.h); the tests and the fuzz
// targets put a line in memory in its place.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

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
    QueueSize,     // the driver refused the queue sizes (Windows only)
    Close,
    NotOpen,
    HangUp,        // the device went away (adapter pulled, other end closed)
    OutOfTime,     // a write still going at the deadline of the operation under way
};

// A failure at this step leaves the line itself in doubt: what it has not
// taken is discarded when it closes, so the close cannot wait for it.
bool failsTheLine(SerialStep step);

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

// The failure of a line whose device went away.
SerialError lineHungUp(int systemError, const std::string& device);

// How long a write may go without the line taking a single byte before it
// is abandoned. At 19200 baud a byte leaves every 0.57 ms, so two seconds of
// no progress means the line is stuck, not slow.
inline constexpr std::chrono::milliseconds kWriteStallTimeout{2000};

// While a program's windows need their events served, a line blocks on its
// device in slices no longer than this, and serves them in between.
inline constexpr std::chrono::milliseconds kEventSlice{20};

// Whom a line gives turns while it blocks: a program whose windows must stay
// responsive. The operation's host (operation_host.h) is one.
class WaitPump {
public:
    virtual ~WaitPump() = default;
    // True when the waits are to be cut into slices of kEventSlice with
    // processEvents() between them; false: each wait is one blocking wait.
    virtual bool pumpsEvents() const { return false; }
    virtual void processEvents() {}
};

class SerialLine {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~SerialLine() = default;

    // Opens the device for exclusive use. A device that another opener
    // holds fails with SerialStep::InUse; a name that is no serial line
    // (a plain file, a FIFO, /dev/null) with SerialStep::NotATerminal,
    // untouched.
    virtual void open(const std::string& device) = 0;
    // Applies the settings in raw mode and reads them back: settings the
    // device does not take fail with SerialStep::ApplySettings.
    virtual void configure(const LineSettings& settings) = 0;
    // Lets go of the device, settings put back; bytes not yet sent still go
    // out, unless the line has failed since opening (see failsTheLine).
    virtual void close() = 0;
    // Closing after a failure: discards what the line has not taken, so the
    // close cannot wait for it, and never throws.
    virtual void abandon() noexcept = 0;
    virtual bool isOpen() const = 0;

    // Writes all bytes. The write goes on as long as the line makes
    // progress (it takes bytes, or the driver's queue drains) and fails with
    // SerialStep::WriteTimeout when it makes none for kWriteStallTimeout, or
    // with SerialStep::OutOfTime at the operation's deadline.
    virtual void write(const std::uint8_t* data, std::size_t count) = 0;
    // Waits until at least one byte can be read; false on time-out. What
    // arrived before a hang-up is still read first.
    virtual bool waitReadable(std::chrono::milliseconds timeout) = 0;
    // Reads what is there, up to count bytes, without waiting. A line that
    // has hung up fails with SerialStep::HangUp, as does every other step.
    virtual std::size_t readAvailable(std::uint8_t* data, std::size_t count) = 0;
    virtual std::size_t bytesWaiting() = 0;
    // Bytes written but not yet sent on the line; 0 where the device cannot
    // tell, as a pseudo-terminal.
    virtual std::size_t bytesUnsent() = 0;
    virtual void purgeInput() = 0;
    virtual void purgeOutput() = 0;

    // The deadline of the operation under way (nothing: none): no write goes
    // on past it, however the line moves. It outlives closing and opening.
    void setWriteDeadline(std::optional<Clock::time_point> deadline) { writeDeadline_ = deadline; }
    std::optional<Clock::time_point> writeDeadline() const { return writeDeadline_; }
    // Whom the line gives turns while it blocks (nothing: no one). A turn
    // may close the line: the wait then fails with SerialStep::NotOpen.
    void setPump(WaitPump* pump) { pump_ = pump; }
    WaitPump* pump() const { return pump_; }
    // The waits are cut into slices, with a turn between them.
    bool slicesWaits() const { return pump_ && pump_->pumpsEvents(); }

private:
    std::optional<Clock::time_point> writeDeadline_;
    WaitPump* pump_ = nullptr;
};

}  // namespace qm730
