// A program's event pump whose tenth turn closes the port, as a dialog
// cancelled while the line waits would: the wait must end as "not open".
#pragma once

#include "core/link/serial_port.h"

namespace qm730::test {

struct ClosingPump : WaitPump {
    SerialPort& port;
    int turns = 0;
    explicit ClosingPump(SerialPort& closing) : port(closing) {}
    bool pumpsEvents() const override { return true; }
    void processEvents() override {
        if (++turns == 10) port.close();
    }
};

}  // namespace qm730::test
