// The connection dialog behind "P-Link", shown modally from the main window
// against a flash loader on a real pseudo-terminal (the simulated board, or a
// scripted loader for the faults): the answer it waits for, answers it
// ignores, Cancel while a probe waits, and ports it cannot use.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProgressBar>

#include <cstdlib>
#include <fstream>
#include <functional>

#include "gui/windows/conn.h"
#include "core/link/line_opening.h"
#include "core/link/serial_port.h"
#include "flash_board.h"
#include "simboard_thread.h"
#include "guitest.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> texts(const std::vector<Notice>& notices) {
    std::vector<std::string> result;
    for (const Notice& notice : notices) result.push_back(notice.text);
    return result;
}

class Connection : public ::testing::Test, protected MainWindowFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(active);
        form->setMode(OperatingMode::S29);
        QApplication::processEvents();
    }
    void TearDown() override { ::unsetenv("QM730C_COM2"); }

    TfrmConn& dialog() const { return *form->frmConn(); }
    // The dialog checks the port chosen in the main window: the second here.
    void pointPort(const std::string& device) {
        ::setenv("QM730C_COM2", device.c_str(), 1);
        form->cboComPort->setCurrentIndex(1);
        emit form->cboComPort->activated(1);
    }
    // Runs the action once the condition holds, polling while the dialog is
    // modal; the poll ends with the test.
    void when(std::function<bool()> condition, std::function<void()> action) {
        auto* poll = new QTimer(form.get());
        QObject::connect(poll, &QTimer::timeout, form.get(), [poll, condition, action] {
            if (!condition()) return;
            poll->stop();
            poll->deleteLater();
            action();
        });
        poll->start(5);
    }
    // "P-Link", returning when the dialog has closed.
    void pLink() { form->btnPLink->click(); }
};

TEST_F(Connection, DialogLooksAsDesigned) {
    EXPECT_EQ(dialog().windowTitle(), "Connection");
    EXPECT_EQ(dialog().size(), QSize(380, 158));
    const Qt::WindowFlags flags = dialog().windowFlags();
    EXPECT_FALSE(flags & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint));
    EXPECT_EQ(dialog().Label1->text(), "Connection ......");
    EXPECT_EQ(dialog().Label1->font().pixelSize(), 21);
    EXPECT_TRUE(dialog().Label1->font().bold());
    EXPECT_EQ(dialog().BitBtn1->text(), "Cancel");
    EXPECT_FALSE(dialog().BitBtn1->icon().isNull());
    EXPECT_EQ(dialog().Timer1->interval(), 100);
    EXPECT_FALSE(dialog().Timer1->isActive());
}

// The first probe goes out one timer interval after the dialog shows; its
// answer is told and the dialog closes with the port. A second showing starts
// afresh on whatever board is there then.
TEST_F(Connection, AnAnswerIsToldAndClosesTheDialogAndThePort) {
    SimBoardThread board;
    pointPort(board.port());
    QElapsedTimer clock;
    clock.start();
    pLink();
    EXPECT_GE(clock.elapsed(), 100);
    EXPECT_EQ(texts(MessageBox::shown()), std::vector<std::string>{"Connection Success !"});
    EXPECT_EQ(MessageBox::shown().front().caption, "QM730C");
    EXPECT_EQ(board.sim().stats().probes, 1);
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_FALSE(dialog().Timer1->isActive());
    EXPECT_FALSE(commPort().isOpen());
    EXPECT_EQ(form->PB1->value(), 1) << "the probe's one byte";

    SimBoardThread second;
    pointPort(second.port());
    MessageBox::clearShown();
    pLink();
    EXPECT_EQ(texts(MessageBox::shown()), std::vector<std::string>{"Connection Success !"});
    EXPECT_EQ(second.sim().stats().probes, 1);
    EXPECT_EQ(board.sim().stats().probes, 1);
}

// A board that answers with something else is probed again and again, one
// byte a cycle, silently, until the operator cancels; then nothing more goes
// out. Escape cancels too, even while a probe waits for its answer.
TEST_F(Connection, OtherAnswersKeepProbingUntilCancelled) {
    BoardScript nak;
    nak.probeAnswer = 0x15;
    FlashBoard board(nak);
    pointPort(board.port());
    when([&] { return board.probes() >= 3; }, [&] { dialog().BitBtn1->click(); });
    pLink();
    EXPECT_TRUE(MessageBox::shown().empty());
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_FALSE(commPort().isOpen());
    const int probes = board.probes();
    QTest::qWait(300);
    EXPECT_EQ(board.probes(), probes) << "nothing is sent once the dialog has closed";

    BoardScript silent;
    silent.probesUnanswered = 1000;
    FlashBoard quiet(silent);
    pointPort(quiet.port());
    bool probeWaiting = false;
    when([&] { return quiet.probes() == 1; },
         [&] {
             QTimer::singleShot(200, form.get(), [&] {
                 probeWaiting = dialog().isVisible() && !dialog().Timer1->isActive();
                 QTest::keyClick(&dialog(), Qt::Key_Escape);
             });
         });
    pLink();
    EXPECT_TRUE(probeWaiting);
    EXPECT_TRUE(MessageBox::shown().empty()) << "a cancelled probe ends quietly";
    EXPECT_FALSE(commPort().isOpen());
    QTest::qWait(1200);  // past the window the cancelled probe had
    EXPECT_EQ(quiet.probes(), 1);
}

// A port that cannot be used is told once; the dialog stays, touching no
// line, until the operator cancels. A line that fails during a probe stops
// the probing the same way.
TEST_F(Connection, APortThatCannotBeUsedIsToldAndTheDialogWaits) {
    TempDir dir;
    const std::string plainFile = dir.file("not-a-line");
    std::ofstream(plainFile) << "";
    BoardScript hangUp;
    hangUp.hangUpOnProbe = true;
    enum class Port { Held, NotALine, GoesAway };
    struct Case {
        const char* name;
        Port port;
        const char* box;
        int probes;
    };
    const std::vector<Case> cases = {
        {"held by another user", Port::Held, "Error opening comm port. Port already in use?", 0},
        {"not a serial line", Port::NotALine, "Error opening comm port.", 0},
        {"line gone during the probe", Port::GoesAway, "Error opening comm port.", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageBox::clearShown();
        FlashBoard board(c.port == Port::GoesAway ? hangUp : BoardScript{});
        SerialPort otherUser;
        if (c.port == Port::Held) {
            ASSERT_TRUE(openLine(otherUser, board.port()).opened);
        }
        pointPort(c.port == Port::NotALine ? plainFile : board.port());
        bool stayed = false;
        when([] { return !MessageBox::shown().empty(); },
             [&] {
                 QTimer::singleShot(350, form.get(), [&] {
                     stayed = dialog().isVisible();
                     dialog().BitBtn1->click();
                 });
             });
        pLink();
        EXPECT_EQ(texts(MessageBox::shown()), std::vector<std::string>{c.box});
        EXPECT_TRUE(stayed);
        EXPECT_EQ(board.probes(), c.probes);
        EXPECT_FALSE(commPort().isOpen());
    }
}

}  // namespace
