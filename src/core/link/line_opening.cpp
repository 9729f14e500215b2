#include "core/link/line_opening.h"

#include "core/link/portname.h"

namespace qm730 {

bool LineOpening::deviceUnavailable() const {
    if (opened || settingsRefused || !error) return false;
    return error->step() == SerialStep::Open || error->step() == SerialStep::InUse;
}

LineOpening openLine(SerialLine& line, const std::string& portName, const LineSettings& settings) {
    LineOpening opening;
    try {
        if (line.isOpen()) line.close();
        line.open(deviceForPortName(portName));
    } catch (const SerialError& e) {
        opening.error = e;
        return opening;
    }
    try {
        line.configure(settings);
    } catch (const SerialError& e) {
        line.abandon();  // a failing close must not hide the settings error
        opening.settingsRefused = true;
        opening.error = e;
        return opening;
    }
    opening.opened = true;
    return opening;
}

}  // namespace qm730
