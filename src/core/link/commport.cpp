#include "core/link/commport.h"

#include "core/link/portname.h"

namespace qm730 {

namespace {

std::string describe(std::uint8_t code, std::uint32_t systemError, const std::string& detail) {
    std::string text = "serial port error " + std::to_string(code);
    if (!detail.empty()) text += ": " + detail;
    else if (systemError != 0) text += ": " + systemErrorText(static_cast<int>(systemError));
    return text;
}

[[noreturn]] void raise(std::uint8_t code, const SerialError& cause) {
    throw ECommError(code, static_cast<std::uint32_t>(cause.systemError()), cause.what(), cause.reason());
}

[[noreturn]] void throwNotOpen() {
    throw ECommError(comm_error::kNotOpen, static_cast<std::uint32_t>(systemErrorNotOpen()), "the port is not open");
}

// Code 0 is 7E2 (two stop bits, not one), code 1 is 8N1, anything else 8N2.
LineSettings dataFormatSettings(int dataFormat) {
    switch (dataFormat) {
        case kFormat7E2: return {0, 7, Parity::Even, 2};
        case kFormat8N1: return {0, 8, Parity::None, 1};
        default: return {0, 8, Parity::None, 2};
    }
}

}  // namespace

ECommError::ECommError(std::uint8_t code, std::uint32_t systemError, std::string detail, std::string reason)
    : ErrorCode(code),
      SystemError(systemError),
      text_(describe(code, systemError, detail)),
      reason_(!reason.empty() ? std::move(reason)
              : !detail.empty() ? std::move(detail)
              : systemError != 0 ? systemErrorText(static_cast<int>(systemError))
                                 : std::string()) {}

TCommPort::TCommPort() = default;

TCommPort::~TCommPort() {
    try {
        ClosePort();
    } catch (const ECommError&) {
        // Nothing is left to tell at program end.
    }
}

void TCommPort::OpenPort() {
    if (open_) return;
    try {
        port_.open(deviceForPortName(portName_));
    } catch (const SerialError& e) {
        // A name that is no serial line opens, but has no line settings to
        // read: it fails as reading them would, not as a port in use.
        const bool noSettings = e.step() == SerialStep::NotATerminal || e.step() == SerialStep::ReadSettings;
        raise(noSettings ? comm_error::kReadSettingsFailed : comm_error::kOpenFailed, e);
    }
    everOpened_ = true;
    try {
        port_.configure(settings_);
    } catch (const SerialError& e) {
        port_.abandon();  // a failing close must not hide the settings error
        raise(e.step() == SerialStep::ReadSettings ? comm_error::kReadSettingsFailed
              : e.step() == SerialStep::QueueSize  ? comm_error::kQueueSizeFailed
                                                   : comm_error::kApplySettingsFailed,
              e);
    }
    open_ = true;
}

void TCommPort::ClosePort() {
    if (!open_) return;
    open_ = false;
    try {
        port_.close();
    } catch (const SerialError& e) {
        raise(comm_error::kCloseFailed, e);
    }
}

void TCommPort::SetBaudRate(std::uint32_t baudRate) {
    const std::uint32_t previous = settings_.baudRate;
    settings_.baudRate = baudRate;
    if (!open_) return;
    try {
        port_.configure(settings_);
    } catch (const SerialError& e) {
        settings_.baudRate = previous;
        raise(comm_error::kBaudRateRefused, e);
    }
}

void TCommPort::SetPortName(const std::string& name) {
    if (open_) throw ECommError(comm_error::kRenameWhileOpen, 0, "the port is open");
    portName_ = name;
}

void TCommPort::Configure(std::uint32_t baudRate, const std::string& name, int dataFormat) {
    const LineSettings format = dataFormatSettings(dataFormat);
    settings_.dataBits = format.dataBits;
    settings_.parity = format.parity;
    settings_.stopBits = format.stopBits;
    ClosePort();
    SetBaudRate(baudRate);
    SetPortName(name);
    OpenPort();
}

void TCommPort::Write(const void* data, std::size_t count) {
    if (!open_) throwNotOpen();
    if (count == 0 || data == nullptr) return;
    try {
        port_.write(static_cast<const std::uint8_t*>(data), count);
    } catch (const SerialError& e) {
        raise(comm_error::kWriteFailed, e);
    }
}

std::uint8_t TCommPort::ReadByte() {
    if (!open_) throwNotOpen();
    try {
        std::uint8_t byte = 0;
        if (port_.waitReadable(kReadByteTimeout) && port_.readAvailable(&byte, 1) == 1) return byte;
    } catch (const SerialError& e) {
        raise(comm_error::kReadFailed, e);
    }
    throw ECommError(comm_error::kReadFailed, static_cast<std::uint32_t>(systemErrorTimedOut()), "no byte arrived");
}

std::size_t TCommPort::BytesWaiting() {
    if (!open_) throwNotOpen();
    try {
        return port_.bytesWaiting();
    } catch (const SerialError& e) {
        raise(comm_error::kQueueStatusFailed, e);
    }
}

bool TCommPort::WaitForInput(std::chrono::milliseconds timeout) {
    if (!open_) throwNotOpen();
    try {
        return port_.waitReadable(timeout);
    } catch (const SerialError& e) {
        raise(comm_error::kReadFailed, e);
    }
}

void TCommPort::Purge() {
    if (!open_) throwNotOpen();
    try {
        port_.purgeInput();
        port_.purgeOutput();
    } catch (const SerialError& e) {
        raise(comm_error::kPurgeFailed, e);
    }
}

void TCommPort::PulseRts(bool pulse) {
    rtsPulse_ = pulse;
    if (!everOpened_ || !pulse) return;
    try {
        port_.setRts(true);
        port_.setRts(false);
    } catch (const SerialError& e) {
        raise(comm_error::kOpenFailed, e);
    }
}

void TCommPort::SetWriteDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) {
    port_.setWriteDeadline(deadline);
}

TCommPort& commPort() {
    static TCommPort port;
    return port;
}

}  // namespace qm730
