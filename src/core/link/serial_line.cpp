#include "core/link/serial_line.h"

namespace qm730 {

bool failsTheLine(SerialStep step) {
    switch (step) {
        case SerialStep::Write:
        case SerialStep::WriteTimeout:
        case SerialStep::Read:
        case SerialStep::QueueCount:
        case SerialStep::Purge:
        case SerialStep::HangUp:
        case SerialStep::OutOfTime: return true;
        default: return false;
    }
}

SerialError lineHungUp(int systemError, const std::string& device) {
    return SerialError(SerialStep::HangUp, systemError, device, "the line hung up (the device went away)");
}

}  // namespace qm730
