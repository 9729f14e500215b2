// The windows' host of an operation on the line: its pauses and the line's
// waits keep every window served, a write that waits for room included; the
// bar follows the operation on each new scale.
#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>

#include <functional>
#include <vector>

#include "core/link/line_opening.h"
#include "core/link/serial_port.h"
#include "gui/seams/windowhost.h"
#include "sim/pseudo_terminal.h"

using namespace std::chrono_literals;

namespace {

struct Widgets {
    QLabel status;
    QProgressBar bar;
    QPlainTextEdit log;
    QAction write{"Write"};
    HostWidgets all() { return {&status, &bar, nullptr, &log, &write}; }
};

}  // namespace

TEST(WindowHost, DelayRunsTheEventsAndLastsItsTime) {
    Widgets widgets;
    WindowHost host(widgets.all());
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
    QElapsedTimer clock;
    clock.start();
    host.delay(60ms);
    EXPECT_GE(clock.elapsed(), 60);
    EXPECT_GE(ticks, 3);  // the windows stay alive meanwhile
}

// A wait for input and a write that finds no room both block on the device
// in slices and serve the windows between them, until the operation's time
// is up.
TEST(WindowHost, TheLinesWaitsServeTheWindows) {
    const std::vector<std::uint8_t> lots(1 << 20, 'x');  // more than a pseudo-terminal holds
    const std::vector<std::pair<const char*, std::function<void(qm730::SerialPort&)>>> waits = {
        {"wait for input", [](qm730::SerialPort& port) { EXPECT_FALSE(port.waitReadable(300ms)); }},
        {"write", [&](qm730::SerialPort& port) {
             port.setWriteDeadline(std::chrono::steady_clock::now() + 300ms);
             EXPECT_THROW(port.write(lots.data(), lots.size()), qm730::SerialError);
         }},
    };
    for (const auto& [name, wait] : waits) {
        SCOPED_TRACE(name);
        qm730::sim::PseudoTerminal line;  // nobody reads or writes the far side
        qm730::SerialPort port;
        ASSERT_TRUE(qm730::openLine(port, line.slavePath()).opened);
        Widgets widgets;
        WindowHost host(widgets.all());
        const qm730::HostedWaits served(port, host);
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        wait(port);
        EXPECT_GE(ticks, 5);
    }
}

TEST(WindowHost, TheBarKeepsThePositionOnEachNewScale) {
    Widgets widgets;
    WindowHost host(widgets.all());
    host.setProgressRange(0, 100);
    host.setProgress(60);
    EXPECT_EQ(widgets.bar.value(), 60);
    host.setProgressRange(0, 27);
    EXPECT_EQ(widgets.bar.value(), 27) << "past the maximum: a full bar";
    host.setProgress(-3);
    EXPECT_EQ(widgets.bar.value(), 0);
    host.setProgressRange(0, -1);
    EXPECT_EQ(widgets.bar.maximum(), 0);

    host.setStatus(" Write ......");
    EXPECT_EQ(widgets.status.text(), " Write ......");
    host.logLine("+++ID= OK");
    EXPECT_EQ(widgets.log.toPlainText(), "+++ID= OK");
    host.enableWrite(false);
    EXPECT_FALSE(widgets.write.isEnabled());

    WindowHost bare({&widgets.status, &widgets.bar});  // no log, no Write command
    EXPECT_NO_THROW(bare.logLine("+++ID= OK"));
    EXPECT_NO_THROW(bare.enableWrite(true));
}
