#include "gui/app/application.h"
#include "gui/app/programlink.h"
#include "gui/app/startup.h"
#include "gui/mainwindow/unit1.h"
#include "core/link/serial_port.h"

int main(int argc, char** argv) {
    // --help and --version are answered before any window or display.
    const StartRequest request = readCommandLine(argc, argv);
    if (request.exitStatus) return *request.exitStatus;
    // The one serial-port object exists before the first window and goes
    // after the last (a function-local static, destroyed at exit).
    commPort();
    linkState();
    // Killed mid-transfer (Ctrl-C in its terminal, a logout), the program
    // still hands the port back usable: settings restored, lock released.
    qm730::SerialPort::releasePortsOnInterrupt();

    Application app(argc, argv);
    const std::unique_ptr<TForm1> form1 = startWindows(request.tableFile);
    return app.exec();
}
