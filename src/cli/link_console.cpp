#include "cli/link_console.h"

#include "core/flash/programmer.h"

namespace qm730::cli {

// The status panel's texts name the steps of a write; the bar is labelled
// with them in words. What the bar shows once the run is over (" Ready",
// " Error") is the caller's to decide.
void ConsoleLinkHost::setStatus(const std::string& text) {
    if (text == kVerifyStatus) console_.setLabel("checking the board");
    if (text == kEraseStatus) console_.setLabel("erasing");
    if (text == kWriteStatus) console_.setLabel("writing");
    if (text == kReadStatus) console_.setLabel("reading back");
}

}  // namespace qm730::cli
