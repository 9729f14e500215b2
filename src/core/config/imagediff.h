// How two configuration images differ, in the words an operator uses: the
// setting names of `qm730ctl get`, pager records by number and column,
// messages and alarms by number.
#pragma once

#include <string>
#include <vector>

#include "core/config/image.h"

namespace qm730 {

// One line per difference, "NAME: BEFORE -> AFTER", in the order of `dump`:
//   "Frequency: 454500000 Hz -> 455000000 Hz"
//   "pager 12 Address: 1234571 -> 1234599"
//   "pager 12 Name: '' -> 'Bob'"
//   "message 5: 'No.5 ppg message' -> 'Hello'"
//   "alarm 3 Pager ID: '103' -> '200'"
// Texts are quoted, with control characters as \xNN. The status byte's named
// bits appear under their own names; "Status_flags" appears only when a bit
// that no setting names differs. Bytes that differ where no setting shows
// them (reserved bytes, name bytes past the name's length, the spare capcode
// slots 900 to 1000) follow at the end, a run per line:
//   "pager 5: bytes +22..+31 differ (no setting shows them)"
// No lines means the images are byte for byte the same.
std::vector<std::string> describeDifferences(const ConfigImage& before, const ConfigImage& after);

}  // namespace qm730
