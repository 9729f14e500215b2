#include "gui/app/application.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <exception>

#include "gui/seams/messagebox.h"
#include "version.h"

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    // Where QSettings keeps what the program remembers between runs (the
    // chosen port): ~/.config/QM730C/qm730c.conf, the registry on Windows.
    setOrganizationName(QStringLiteral("QM730C"));
    setApplicationName(QStringLiteral("qm730c"));
}

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

StartRequest readCommandLine(int argc, char** argv) {
    if (argc < 2) return {};
    // A core application is enough to answer: no display is opened. It is
    // gone again before the real application object is made.
    int coreArgc = argc;
    QCoreApplication core(coreArgc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qm730c"));
    return readArguments(QCoreApplication::arguments());
}

StartRequest readArguments(const QStringList& arguments) {
    QCoreApplication::setApplicationVersion(QStringLiteral(QM730_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prepares the configuration of a QM730C paging encoder, keeps it in table files and "
                       "sends it to and reads it from the board over a serial line."));
    // Qt's options are written with one dash: -platform offscreen.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE.tbl"),
                                 QStringLiteral("A table file to open at start, as File > Open opens one."),
                                 QStringLiteral("[FILE.tbl]"));
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
        std::fprintf(stderr, "qm730c: %s\nUsage: qm730c [--help] [--version] [FILE.tbl]\n", qPrintable(complaint));
        return StartRequest{2, {}};
    };
    if (!parser.parse(arguments)) return refuse(parser.errorText());
    // --help-all would add Qt's own options; the hidden ones above are those.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) parser.showHelp(0);
    if (parser.isSet(version)) parser.showVersion();
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) return refuse(QStringLiteral("unexpected argument '%1'").arg(files.at(1)));
    if (files.isEmpty()) return {};
    if (files.constFirst().isEmpty()) return refuse(QStringLiteral("the file name is empty"));
    return {std::nullopt, files.constFirst()};
}
