// What qm730ctl needs of the system it runs on: its standard streams, its
// arguments, whether errors go to a terminal, and its files.
// One file per platform (platform_posix.cpp, platform_w32.cpp); the commands
// see only these functions.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace qm730::cli {

// Called first thing. A standard stream that the program was started
// without gets the null device, so nothing the program opens later (the
// serial port) takes its place and output meant for the terminal cannot go
// down the line. On Windows, text for a console window is written to it as
// Unicode, and standard input and output carry bytes unchanged (no CR added
// or taken away, no end at Ctrl+Z), as on POSIX. False when the streams
// cannot be made safe.
bool prepareStandardStreams();

// The arguments as UTF-8, the program's name first. On Windows they come from
// the wide command line, so names outside the console's code page survive.
std::vector<std::string> argumentsAsUtf8(int argc, char** argv);

// Standard error is a terminal (a console window): a progress bar may be drawn.
bool errorsGoToTerminal();

// Opens a file by its UTF-8 name for reading ("rb") or writing ("wb"); on
// Windows through its wide name, so any name works. Null with errno set when
// it cannot.
std::FILE* openFile(const std::string& path, const char* mode);

// Both names are one file (the same name, or links to one file).
bool sameFile(const std::string& a, const std::string& b);

}  // namespace qm730::cli
