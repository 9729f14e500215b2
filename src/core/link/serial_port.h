// The system's serial device as a line: opened for exclusive use, in raw
// mode, with every wait bounded by a time-out. What each system needs is
// kept out of this header; serial_posix.cpp and serial_w32.cpp implement
// it, serial_port.cpp holds what both share.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/link/serial_line.h"

namespace qm730 {

// The system's error numbers for the two failures the serial layer finds by
// itself, and the system's text for an error number: errno and strerror on
// POSIX, GetLastError() values and their message text on Windows.
int systemErrorNotOpen();
int systemErrorTimedOut();
std::string systemErrorText(int error);

class SerialPort final : public SerialLine {
public:
    SerialPort();
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // From now on every signal whose default is to end the program (Ctrl+C,
    // kill, a closed terminal, SIGQUIT, SIGUSR1, SIGALRM, a limit reached,
    // ...) releases every open port as abandon() does, then ends the program
    // as the signal would have. A broken pipe that the program's own write
    // caused ends nothing: that write fails (EPIPE) and says so where it is
    // made. Signals the program ignores or handles stay as they are. On
    // Windows: Ctrl+C, Ctrl+Break, a closed console window, logoff and
    // shutdown, for programs that install no console control handler.
    static void releasePortsOnInterrupt();

    // Opening remembers the device's settings, which closing puts back.
    void open(const std::string& device) override;
    // Reads the device's settings and applies the given line settings over
    // them in raw mode: receiver on, modem lines ignored, no flow control.
    void configure(const LineSettings& settings) override;
    void close() override;
    void abandon() noexcept override;
    bool isOpen() const override;
    const std::string& device() const { return device_; }

    void write(const std::uint8_t* data, std::size_t count) override { write(data, count, kWriteStallTimeout); }
    // A write that gives up after stallTimeout without progress: a UART
    // driver takes new bytes only once its queue has nearly emptied, seconds
    // later at 19200 baud, and its draining counts as progress.
    void write(const std::uint8_t* data, std::size_t count, std::chrono::milliseconds stallTimeout);
    bool waitReadable(std::chrono::milliseconds timeout) override;
    std::size_t readAvailable(std::uint8_t* data, std::size_t count) override;
    std::size_t bytesWaiting() override;
    std::size_t bytesUnsent() override;
    void purgeInput() override;
    void purgeOutput() override;

private:
    // The open device as the system keeps it; each platform defines it.
    struct System;

    [[noreturn]] void fail(SerialStep step, int systemError, const std::string& action) const;
    // As fail(), but a failure that means the device went away is a hang-up.
    [[noreturn]] void failOrHangUp(SerialStep step, int systemError, const std::string& action) const;
    void requireOpen(const char* action) const;
    // Runs the pump while a wait is cut into slices; a pump that closed the
    // port fails the wait with SerialStep::NotOpen.
    void giveTurn(const char* action);

    // Per platform: the error numbers that mean the device went away, the
    // device's name as the operator gave it, what a failure does first
    // while the program is ending, and letting go of the device (0 or the
    // system's error of closing it).
    static bool meansHangUp(int systemError);
    std::string shownName() const;
    void beforeFailing() const;
    int release(bool discardOutput) noexcept;

    std::unique_ptr<System> system_;
    std::string device_;
    mutable bool lineFailed_ = false;  // a write, read or wait has failed since opening
    unsigned releases_ = 0;            // how often the device was let go: a turn may have closed it
};

}  // namespace qm730
