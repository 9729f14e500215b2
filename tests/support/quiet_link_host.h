// A board-link host with nobody to tell: no status, progress or message
// boxes, waits that block on the device. For runs judged by their outcome
// alone (the long-run driver, the fuzz targets).
#pragma once

#include <string>

#include "core/link/boardlink_host.h"

namespace qm730 {

class QuietLinkHost : public LinkHost {
public:
    void setStatus(const std::string&) override {}
    void setProgressMaximum(int) override {}
    void setProgressPosition(int) override {}
    void showNotice(const Notice&) override {}
    void enableWrite(bool) override {}
};

}  // namespace qm730
