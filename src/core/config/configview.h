// Load Config view: everything the "Config" tab and the selection bar's
// frequency controls show of the system block, as plain values.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/config/image.h"
#include "core/config/systemsettings.h"

namespace qm730 {

struct ConfigView {
    std::array<std::string, sys::kDelayCount> delays;  // edtDelay1..4, decimal
    std::string preamble;                              // edtPreamble
    std::string pagerDuration;                         // edtRangTDur
    std::string functionPassword;                      // edtFPass
    std::string setupPassword;                         // edtSPass
    std::string frequency;                             // edtFreq
    // Selected item per list, indexed by SystemList; std::nullopt when the
    // stored byte matches no item.
    std::array<std::optional<int>, kSystemListCount> lists;
    std::array<bool, kStatusCheckBoxCount> statusChecks{};  // chkCtl0..chkCtl3
    int channelSpace = 0;                                  // cboCSpace item
    std::string pllR;                                      // lblPLLR
    std::string pllN;                                      // lblPLLN

    const std::optional<int>& list(SystemList which) const { return lists[static_cast<std::size_t>(which)]; }
};

ConfigView loadConfigView(const ConfigImage& image);

}  // namespace qm730
