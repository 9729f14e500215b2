#include "core/link/transfer_line.h"

#include "core/link/line_opening.h"

namespace qm730 {

Notice openPortErrorNotice() { return {"Open Port Error!!", "Comm Error", NoticeButtons::Ok, NoticeIcon::None}; }

Notice portSettingErrorNotice() {
    return {"Port Setting Error!!!", "Set Error", NoticeButtons::Ok, NoticeIcon::None};
}

TransferPortOpening openTransferPort(SerialLine& line, const std::string& portName, const LineSettings& settings) {
    TransferPortOpening result;
    const LineOpening opening = openLine(line, portName, settings);
    if (opening.opened) {
        result.opened = true;
    } else if (opening.settingsRefused) {
        result.notice = portSettingErrorNotice();
        result.reason = "cannot set up the port: " + opening.error->reason();
    } else {
        result.notice = openPortErrorNotice();
        result.reason = "cannot open the port: " + opening.error->reason();
    }
    return result;
}

}  // namespace qm730
