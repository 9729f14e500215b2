// The application object. An exception that escapes an event handler is shown
// to the operator and the program goes on, as with every other failure.
#pragma once

#include <QApplication>

#include <optional>

class Application : public QApplication {
    Q_OBJECT

public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows an escaped exception's message (empty for an exception of a
    // foreign type) in a box with the stop icon.
    static void showException(const std::string& message);
};

// The program reads no command line, but answers --help and --version as
// every Qt desktop program does, on stdout, without opening a window or
// needing a display. Qt's own options (-platform, -style, ...) are left to
// the application object; any other argument is refused with a usage line.
// Returns the exit status when the command line has been answered, nothing
// when the program is to start. Call it before the application object exists.
std::optional<int> answerCommandLine(int argc, char** argv);
