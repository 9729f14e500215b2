#include "gui/app/programlink.h"

#include "core/link/boardlink.h"
#include "core/link/serial_port.h"

qm730::SerialPort& commPort() {
    static qm730::SerialPort port;
    return port;
}

qm730::LinkState& linkState() {
    static qm730::LinkState state;
    return state;
}
