#include "cli/console_host.h"

#include "core/flash/programmer.h"
#include "core/link/transfer_protocol.h"

namespace qm730::cli {

ConsoleHost::ConsoleHost(Console& console, std::vector<StatusLabel> labels)
    : console_(console), labels_(std::move(labels)) {
    labels_.insert(labels_.end(), {
                                      {kSendingStatus, "sending"},
                                      {kReceivingStatus, "reading", 1},
                                      {kVerifyStatus, "checking the board"},
                                      {kEraseStatus, "erasing"},
                                      {kWriteStatus, "writing"},
                                      {kReadStatus, "reading back"},
                                  });
}

void ConsoleHost::setStatus(const std::string& text) {
    for (const StatusLabel& label : labels_) {
        if (label.status != text) continue;
        console_.setLabel(label.label);
        offset_ = label.positionOffset;
        return;
    }
}

}  // namespace qm730::cli
