// The open serial devices of a POSIX program, recorded so that a signal that
// ends the program can release them: settings put back, exclusive use and
// the lock given up.
#pragma once

#include <termios.h>

namespace qm730::posix {

// Records an open device with its settings as they are now; the entry, or
// -1 when too many are open at once (that one goes unrecorded).
int recordDevice(int fd);
// This program set TIOCEXCL on the device, so it clears it.
void recordMadeExclusive(int entry, bool madeExclusive);
void forgetDevice(int entry);

// Puts the recorded settings back (when: TCSADRAIN once the last bytes are
// out, TCSANOW at once) and gives up exclusive use and the lock. Only
// async-signal-safe calls: the signal handler uses it too.
void letGo(int fd, int entry, int when, bool madeExclusive);

// Installs the release on every signal whose default is to end the program.
void releaseOnEndingSignals();

}  // namespace qm730::posix
