// What the windowed program keeps for its whole run on the board link: one
// serial port, shared by the firmware write and the connection check, and
// the link's state, whose sequence byte runs on across them. Made before the
// first window (main() touches them) and gone after the last.
#pragma once

namespace qm730 {
class SerialPort;
struct LinkState;
}  // namespace qm730

qm730::SerialPort& commPort();
qm730::LinkState& linkState();
