// The application object. An exception that escapes an event handler is shown
// to the operator and the program goes on, as with every other failure.
#pragma once

#include <QApplication>

class Application : public QApplication {
    Q_OBJECT

public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows an escaped exception's message (empty for an exception of a
    // foreign type) in a box with the stop icon.
    static void showException(const std::string& message);
};
