// Creates the program's windows in their start-up order: the main window
// first (it creates the connection dialog), then the transfer dialog, the
// About box and the two access-code dialogs. All are created once and live
// until the main window goes.
#pragma once

#include <QString>

#include <memory>
#include <optional>

class TForm1;

std::unique_ptr<TForm1> createWindows();
// The windows with the main window shown and, if the command line named
// one, a table file opened in it as File > Open opens one: a file that
// cannot be opened is told of, and the window keeps its defaults.
std::unique_ptr<TForm1> startWindows(const std::optional<QString>& tableFile);
