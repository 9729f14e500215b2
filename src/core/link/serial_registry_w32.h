// The open serial ports of a Windows program, recorded so that the console
// control handler, which runs on a thread of its own, can release them when
// the program is ended from the console (Ctrl+C, a closed window, logoff).
#pragma once

#include <windows.h>

namespace qm730::win32 {

// Records an open port with the settings and time-outs to put back; the
// entry, or -1 when too many are open at once (that one goes unrecorded).
int recordPort(HANDLE handle, const DCB& settings, const COMMTIMEOUTS& timeouts);
// Takes the port out of the record; false when an interrupt has released
// it already, so only its handle is left to close.
bool forgetPort(int entry, HANDLE handle);

// Installs the release on the console's end-of-program events.
void releaseOnConsoleEnd();

// A thread whose port an interrupt has released waits for the end of the
// program instead of reporting what the release did to its I/O.
void parkIfReleasedForExit();

}  // namespace qm730::win32
