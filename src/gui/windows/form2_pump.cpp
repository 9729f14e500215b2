#include "gui/windows/form2_pump.h"

#include <QEventLoop>
#include <QTimer>

#include <thread>

void Form2Pump::DelayMs(int milliseconds) {
    const Clock::time_point until = now() + std::chrono::milliseconds(milliseconds);
    // A timer may fire a little early, and a loop ends at once when the
    // application is quitting: go round until the time is really up.
    for (Clock::duration left = until - now(); left > Clock::duration::zero(); left = until - now()) {
        QEventLoop loop;
        QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(left), Qt::PreciseTimer, &loop,
                           &QEventLoop::quit);
        // A loop that refuses to run (the application is quitting) would
        // return at once; sleep out the rest instead of spinning.
        if (loop.exec() != 0) std::this_thread::sleep_for(left);
    }
}
