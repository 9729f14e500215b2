// Checks of the serial layer that hold on every system.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "core/link/serial_port.h"
#include "core/link/transfer_line.h"

namespace qm730::test {

// The step at which the action failed; nothing when it did not.
inline std::optional<SerialStep> stepOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const SerialError& e) {
        return e.step();
    }
    return std::nullopt;
}

// What every system must do with a name that is no serial line (a file, a
// FIFO, a folder, a device without line settings): refuse it at the open
// in the system's own words, keep no handle, and give the transfer the
// operator's reason. Returns what the transfer's opening made of it, for the checks a system adds.
inline TransferPortOpening expectRefusedAsNoSerialPort(SerialPort& port, const std::string& name) {
    try {
        port.open(name);
        ADD_FAILURE() << "opened";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.step(), SerialStep::NotATerminal);
        EXPECT_EQ(std::string(e.what()), name + ": not a serial port");
        EXPECT_EQ(e.reason(), "not a serial port");
    }
    EXPECT_FALSE(port.isOpen());
    TransferPortOpening opening = openTransferPort(port, name);
    EXPECT_FALSE(opening.opened);
    EXPECT_EQ(opening.reason, "cannot open the port: not a serial port");
    return opening;
}

}  // namespace qm730::test
