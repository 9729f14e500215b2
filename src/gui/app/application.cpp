#include "gui/app/application.h"

#include <exception>

#include "gui/seams/messagebox.h"

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        showException(error.what());
    } catch (...) {
        showException({});
    }
    return false;
}

void Application::showException(const std::string& message) {
    MessageBox::show(activeWindow(),
                     {message, qm730::kApplicationTitle, qm730::NoticeButtons::Ok, qm730::NoticeIcon::Stop});
}
