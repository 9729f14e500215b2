// The application object. An exception that escapes an event handler is shown
// to the operator and the program goes on, as with every other failure.
#pragma once

#include <QApplication>

#include <QString>

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

// What the command line asks: to start, opening the table file it names (a
// file manager's "Open with"), or to end at once with a status, once
// --help, --version or a usage error has been answered.
struct StartRequest {
    std::optional<int> exitStatus;
    std::optional<QString> tableFile;
};

// Answers --help and --version as every Qt desktop program does, on stdout,
// without opening a window or needing a display. Qt's own options
// (-platform, -style, ...) are left to the application object; one more
// argument names a table file; anything else is refused with a usage line.
// Call it before the application object exists.
StartRequest readCommandLine(int argc, char** argv);
// The same for arguments as the running application has them.
StartRequest readArguments(const QStringList& arguments);
