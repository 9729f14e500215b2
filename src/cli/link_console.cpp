#include "cli/link_console.h"

#include "core/flash/programmer.h"

namespace qm730::cli {

// The status panel's texts name the steps of a write; the bar is labelled
// with them in words, and a run that has ended draws none.
void ConsoleLinkHost::setStatus(const std::string& text) {
    if (text == kVerifyStatus) return console_.setLabel("checking the board");
    if (text == kEraseStatus) return console_.setLabel("erasing");
    if (text == kWriteStatus) return console_.setLabel("writing");
    if (text == kReadStatus) return console_.setLabel("reading back");
    console_.endBar();
}

}  // namespace qm730::cli
