// Creates the program's windows in their start-up order: the main window
// first (it creates the connection dialog), then the transfer dialog, the
// About box and the two access-code dialogs. All are created once and live
// until the main window goes.
#pragma once

#include <memory>

class TForm1;

std::unique_ptr<TForm1> createWindows();
