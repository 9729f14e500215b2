#include "gui/app/application.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <exception>

#include "gui/seams/messagebox.h"
#include "version.h"

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

namespace {

// Options of QGuiApplication and QApplication that take a value; they reach
// the application object untouched.
constexpr const char* kQtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                           "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
                                           "display", "geometry", "style", "stylesheet"};
constexpr const char* kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

}  // namespace

std::optional<int> answerCommandLine(int argc, char** argv) {
    if (argc < 2) return std::nullopt;
    // A core application is enough to answer: no display is opened. It is
    // gone again before the real application object is made.
    int coreArgc = argc;
    QCoreApplication core(coreArgc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qm730c"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QM730_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prepares the configuration of a QM730C paging encoder, keeps it in table files and "
                       "sends it to and reads it from the board over a serial line."));
    // Qt's options are written with one dash: -platform offscreen.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    for (const char* name : kQtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kQtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    const auto refuse = [](const QString& complaint) {
        std::fprintf(stderr, "qm730c: %s\nUsage: qm730c [--help] [--version]\n", qPrintable(complaint));
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments())) return refuse(parser.errorText());
    // --help-all would add Qt's own options; the hidden ones above are those.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) parser.showHelp(0);
    if (parser.isSet(version)) parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    return std::nullopt;
}
