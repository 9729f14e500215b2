#include "core/link/serial_transfer_port.h"

#include "core/link/portname.h"

namespace qm730 {

Notice openPortErrorNotice() { return {"Open Port Error!!", "Comm Error", NoticeButtons::Ok, NoticeIcon::None}; }

Notice portSettingErrorNotice() {
    return {"Port Setting Error!!!", "Set Error", NoticeButtons::Ok, NoticeIcon::None};
}

TransferPortOpening openTransferPort(SerialPort& port, const std::string& portName, const LineSettings& settings) {
    TransferPortOpening result;
    try {
        port.open(deviceForPortName(portName));
    } catch (const SerialError& e) {
        result.notice = openPortErrorNotice();
        result.reason = "cannot open the port: " + e.reason();
        return result;
    }
    try {
        port.configure(settings);
    } catch (const SerialError& e) {
        port.abandon();
        result.notice = portSettingErrorNotice();
        result.reason = "cannot set up the port: " + e.reason();
        return result;
    }
    result.opened = true;
    return result;
}

}  // namespace qm730
