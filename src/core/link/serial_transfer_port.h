// The configuration transfer over a real serial device, and the opening of
// that device the way the transfer dialog does it.
#pragma once

#include <optional>
#include <string>

#include "core/config/notice.h"
#include "core/link/serial_port.h"
#include "core/link/transfer_io.h"

namespace qm730 {

class SerialTransferPort : public TransferPort {
public:
    explicit SerialTransferPort(SerialPort& port) : port_(port) {}
    void write(const std::uint8_t* data, std::size_t count) override { port_.write(data, count); }
    std::size_t bytesWaiting() override { return port_.bytesWaiting(); }
    std::size_t read(std::uint8_t* data, std::size_t count) override { return port_.readAvailable(data, count); }
    void purgeOutput() override { port_.purgeOutput(); }
    void purgeInput() override { port_.purgeInput(); }
    bool waitReadable(std::chrono::milliseconds timeout) override { return port_.waitReadable(timeout); }
    std::size_t bytesUnsent() override { return port_.bytesUnsent(); }
    void setWriteDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) override {
        port_.setWriteDeadline(deadline);
    }

private:
    SerialPort& port_;
};

Notice openPortErrorNotice();     // "Open Port Error!!" / "Comm Error"
Notice portSettingErrorNotice();  // "Port Setting Error!!!" / "Set Error"

struct TransferPortOpening {
    bool opened = false;
    std::optional<Notice> notice;  // what to show the operator when not opened
    // Why, in one line that does not repeat the port's name: "cannot open
    // the port: not a serial port", "cannot set up the port: ...".
    std::string reason;
};

// Opens the named port ("COM1".."COM5" or a device path) exclusively at
// 19200 baud, 8 data bits, no parity, two stop bits. A port whose settings
// are refused is closed again.
TransferPortOpening openTransferPort(SerialPort& port, const std::string& portName,
                                     const LineSettings& settings = kBoardLine);

}  // namespace qm730
