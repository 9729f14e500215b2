// Opening a port by its name for an operation, alike for both protocols: the
// device the name stands for, at the given settings. A port that does not
// take the settings is let go again.
#pragma once

#include <optional>
#include <string>

#include "core/link/serial_line.h"

namespace qm730 {

struct LineOpening {
    bool opened = false;
    // It opened, but refused the settings (and is closed again).
    bool settingsRefused = false;
    std::optional<SerialError> error;  // why not opened

    // The device itself could not be had: another program holds it, or
    // there is none of that name. A name that is no serial line, a line
    // that fails or refuses its settings is something else.
    bool deviceUnavailable() const;
};

LineOpening openLine(SerialLine& line, const std::string& portName, const LineSettings& settings = kBoardLine);

}  // namespace qm730
