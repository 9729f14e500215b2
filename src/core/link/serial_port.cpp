// What the serial layers of both systems share: how a failure is reported
// and what closing does after one.
#include "core/link/serial_port.h"

namespace qm730 {

void SerialPort::fail(SerialStep step, int systemError, const std::string& action) const {
    beforeFailing();
    if (failsTheLine(step)) lineFailed_ = true;
    throw SerialError(step, systemError, shownName(), action + ": " + systemErrorText(systemError));
}

void SerialPort::failOrHangUp(SerialStep step, int systemError, const std::string& action) const {
    if (!meansHangUp(systemError)) fail(step, systemError, action);
    beforeFailing();
    lineFailed_ = true;
    throw lineHungUp(systemError, shownName());
}

void SerialPort::requireOpen(const char* action) const {
    if (!isOpen()) fail(SerialStep::NotOpen, systemErrorNotOpen(), action);
}

// The wait under way belongs to the device as it was: one let go meanwhile
// (and perhaps opened again) ends it.
void SerialPort::giveTurn(const char* action) {
    const unsigned releases = releases_;
    if (WaitPump* turns = pump()) turns->processEvents();
    if (releases_ != releases) fail(SerialStep::NotOpen, systemErrorNotOpen(), action);
}

void SerialPort::close() {
    if (!isOpen()) return;
    ++releases_;
    if (const int error = release(lineFailed_)) fail(SerialStep::Close, error, "cannot close");
}

void SerialPort::abandon() noexcept {
    if (!isOpen()) return;
    ++releases_;
    release(true);
}

}  // namespace qm730
