// The transfer dialog and the main window's Transfer and Read commands, end to
// end over a pseudo-terminal against the simulated board, and the ways they
// fail: a silent board, a frame cut short, a port that cannot be opened.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "guitest.h"
#include "link/form2.h"
#include "link/form2_pump.h"
#include "link/serial_port.h"
#include "link/serial_transfer_port.h"
#include "link/transfer_line.h"
#include "link/transfer_protocol.h"
#include "sim/pseudo_terminal.h"
#include "sim/sim_board.h"

using namespace qm730;
using namespace std::chrono_literals;

namespace {

// A simulated board serving a fresh pseudo-terminal on its own thread.
class Board {
public:
    explicit Board(sim::SimOptions options = {}, const ConfigImage& image = defaultImage())
        : board_(std::move(options), image, log_), thread_([this] { board_.serve(line_.master()); }) {}
    ~Board() {
        board_.stop();
        thread_.join();
    }
    std::string port() const { return line_.slavePath(); }
    sim::SimBoard& sim() { return board_; }

private:
    sim::PseudoTerminal line_;
    std::ostringstream log_;
    sim::SimBoard board_;
    std::thread thread_;
};

bool sameBytes(const ConfigImage& a, const ConfigImage& b, std::size_t offset, std::size_t length) {
    return std::memcmp(a.data() + offset, b.data() + offset, length) == 0;
}

// What the upload stream carries: system block, 22 bytes of capcode slots
// 0..998, the alarms, 60 bytes of every message slot.
bool sameCarriedByUpload(const ConfigImage& a, const ConfigImage& b) {
    bool same = sameBytes(a, b, 0, 96) && sameBytes(a, b, alarmRecordOffset(0), 448);
    for (std::size_t k = 0; k < 999; ++k) same = same && sameBytes(a, b, capcodeSlotOffset(k), 22);
    for (std::size_t m = 0; m < 100; ++m) same = same && sameBytes(a, b, messageSlotOffset(m), 60);
    return same;
}

// What the download frame carries: system block, capcode slots 0..98 and
// 99, 199, .. 799, the alarms, message slots 0..98.
bool sameCarriedByFrame(const ConfigImage& a, const ConfigImage& b) {
    bool same = sameBytes(a, b, 0, 96) && sameBytes(a, b, alarmRecordOffset(0), 448);
    for (std::size_t k = 0; k < 99; ++k) same = same && sameBytes(a, b, capcodeSlotOffset(k), 22);
    for (std::size_t k = 99; k < 800; k += 100) same = same && sameBytes(a, b, capcodeSlotOffset(k), 22);
    for (std::size_t m = 0; m < 99; ++m) same = same && sameBytes(a, b, messageSlotOffset(m), 60);
    return same;
}

// A default image with changes in places no page on show covers.
ConfigImage boardImage() {
    ConfigImage image = defaultImage();
    std::memcpy(image.data() + sys::kFreqDigits, "4391250", sys::kFreqDigitCount);
    writeAddress(image.capcodeSlot(40), "7654321");
    writeName(image.capcodeSlot(799), "ON BOARD");
    writeText(image.messageSlot(42), 60, "FROM THE BOARD");
    writeText(image.alarmRecord(3) + alarm::kText, alarm::kTextField, "BOARD ALARM");
    return image;
}

// Presses OK as soon as the operation has ended, so a modal showing returns.
void pressOkWhenDone(TForm2* dialog) {
    auto* timer = new QTimer(dialog);
    QObject::connect(timer, &QTimer::timeout, dialog, [dialog, timer] {
        if (!dialog->Button1->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        dialog->Button1->click();
    });
    timer->start(10);
}

QStringList memoLines(const QPlainTextEdit* memo) { return memo->toPlainText().split('\n'); }

class Transfer : public ::testing::Test, protected MainWindowFixture {
protected:
    void TearDown() override {
        for (int n = 1; n <= 5; ++n) ::unsetenv(("QM730C_COM" + std::to_string(n)).c_str());
    }
    TForm2* dialog() const { return form->windows().form2; }
    void pointPort(int number, const std::string& device) {
        ::setenv(("QM730C_COM" + std::to_string(number)).c_str(), device.c_str(), 1);
    }
    // Shows the dialog without a modal loop and waits for the operation.
    bool runShown(TransferDirection direction, int limitMs = 6000) {
        form->config().direction = direction;
        dialog()->show();
        return QTest::qWaitFor([this] { return dialog()->Button1->isVisible(); }, limitMs);
    }
    QString status() const { return dialog()->lblMsg->text(); }
};

TEST_F(Transfer, DialogHasItsDesignLook) {
    ASSERT_TRUE(active);
    TForm2* d = dialog();
    EXPECT_EQ(d->windowTitle(), "Transfer Data to Flash");
    EXPECT_EQ(d->size(), QSize(398, 247));
    EXPECT_EQ(d->lblMsg->text(), "Message");
    EXPECT_EQ(d->lblMsg->geometry(), QRect(38, 31, 313, 24));
    EXPECT_EQ(d->lblMsg->font().pixelSize(), 21);
    EXPECT_TRUE(d->lblMsg->font().bold());
    EXPECT_EQ(d->PB1->geometry(), QRect(38, 80, 313, 20));
    EXPECT_EQ(d->PB1->maximum(), 100);
    EXPECT_EQ(d->Button1->text(), "OK");
    EXPECT_EQ(d->Button1->geometry(), QRect(161, 125, 56, 19));
    EXPECT_TRUE(d->Button1->isHidden());
    EXPECT_EQ(d->cboBaudRate->itemText(d->cboBaudRate->currentIndex()), "19200 bps");
    EXPECT_EQ(d->cboUartData->itemText(d->cboUartData->currentIndex()), "8,N,2");
    EXPECT_EQ(d->memTAP_C->toPlainText(), "memTAP_C");
    for (QWidget* hidden : std::initializer_list<QWidget*>{d->cboBaudRate, d->cboUartData, d->memTAP_C, d->Label1,
                                                            d->Label2}) {
        EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();
        EXPECT_FALSE(hidden->isEnabled()) << hidden->objectName().toStdString();
    }
}

TEST(TransferLine, SelectorItemsGiveTheLineSettings) {
    EXPECT_EQ(lineSettingsFromSelectors(4, 2), kBoardLine);
    EXPECT_EQ(lineSettingsFromSelectors(0, 0), (LineSettings{1200, 7, Parity::Even, 1}));
    EXPECT_EQ(lineSettingsFromSelectors(3, 1), (LineSettings{9600, 8, Parity::None, 1}));
    EXPECT_EQ(lineSettingsFromSelectors(-1, 9), kBoardLine);  // nothing chosen: the board's line
}

TEST(Form2Pump, DelayRunsTheEventsAndLastsItsTime) {
    Form2Pump pump;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
    QElapsedTimer clock;
    clock.start();
    pump.DelayMs(60);
    EXPECT_GE(clock.elapsed(), 60);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_GE(ticks, 3);  // the window stays alive meanwhile
}

TEST_F(Transfer, TransferSendsTheImageAndCannotBeClosedMidway) {
    ASSERT_TRUE(active);
    Board board;
    pointPort(1, board.port());
    ConfigImage& image = form->config().image;
    std::memcpy(image.data() + sys::kFreqDigits, "4391250", sys::kFreqDigitCount);
    writeName(image.capcodeSlot(500), "FROM PC");
    writeText(image.messageSlot(77), 60, "SENT BY THE PROGRAM");

    bool runningAtClose = false, visibleAfterClose = false;
    QTimer::singleShot(100, dialog(), [&] {
        runningAtClose = dialog()->operationRunning();
        dialog()->close();
        visibleAfterClose = dialog()->isVisible();
    });
    pressOkWhenDone(dialog());
    form->Write1->trigger();

    EXPECT_EQ(status(), "  Transfer Success !");
    EXPECT_EQ(dialog()->windowTitle(), " Trandfer Data to Flash");
    EXPECT_FALSE(dialog()->isVisible());
    EXPECT_TRUE(dialog()->Button1->isHidden());
    EXPECT_TRUE(MessageBox::shown().empty());
    EXPECT_EQ(dialog()->PB1->maximum(), 28522);
    EXPECT_TRUE(memoLines(dialog()->memTAP_C).contains("++[P= OK"));
    EXPECT_TRUE(runningAtClose);
    EXPECT_TRUE(visibleAfterClose);

    ASSERT_TRUE(board.sim().waitForUploads(1, 5s));
    EXPECT_EQ(board.sim().stats().uploadsApplied, 1);
    EXPECT_EQ(board.sim().stats().malformedBlocks, 0);
    EXPECT_TRUE(sameCarriedByUpload(board.sim().image(), image));
    EXPECT_EQ(readName(board.sim().image().capcodeSlot(500)), "FROM PC");
}

TEST_F(Transfer, ReadOnTheThirdPortTakesTheBoardsImage) {
    ASSERT_TRUE(active);
    const ConfigImage onBoard = boardImage();
    Board board({}, onBoard);
    pointPort(3, board.port());
    form->cboComPort->setCurrentIndex(2);
    form->cboComPortClick(form->cboComPort);
    const ConfigImage before = form->config().image;

    pressOkWhenDone(dialog());
    form->Test1->trigger();

    EXPECT_EQ(dialog()->portName(), "COM3");
    EXPECT_EQ(status(), "  Read Success !");
    EXPECT_EQ(dialog()->windowTitle(), " Download Data from Flash");
    EXPECT_EQ(board.sim().stats().framesSent, 1);
    const ConfigImage& image = form->config().image;
    EXPECT_TRUE(sameCarriedByFrame(image, onBoard));
    EXPECT_EQ(readAddress(image.capcodeSlot(40)), "7654321");
    // What the frame does not carry stays as it was.
    EXPECT_TRUE(sameBytes(image, before, capcodeSlotOffset(800), 200 * 32));
    EXPECT_TRUE(sameBytes(image, before, messageSlotOffset(99), 64));
}

TEST_F(Transfer, BoardFailuresEndInBoundedTimeAndKeepTheImage) {
    ASSERT_TRUE(active);
    sim::SimOptions silent, cut;
    silent.silent = true;
    cut.stopAfter = 5000;
    struct Case {
        const char* name;
        sim::SimOptions options;
        TransferDirection direction;
        const char* result;
        std::vector<Notice> boxes;
    };
    const std::vector<Case> cases = {
        {"silent board, transfer", silent, TransferDirection::Send, TForm2::kSendError, {commandResponseErrorNotice()}},
        {"silent board, read", silent, TransferDirection::Read, TForm2::kReadError, {}},
        {"frame cut short", cut, TransferDirection::Read, TForm2::kReadError, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageBox::clearShown();
        Board board(c.options, boardImage());
        pointPort(1, board.port());
        const ConfigImage before = form->config().image;
        QElapsedTimer clock;
        clock.start();
        pressOkWhenDone(dialog());
        (c.direction == TransferDirection::Send ? form->Write1 : form->Test1)->trigger();
        EXPECT_LT(clock.elapsed(), 3500);
        EXPECT_EQ(status(), c.result);
        EXPECT_EQ(MessageBox::shown(), c.boxes);
        EXPECT_FALSE(dialog()->lblMsg->toolTip().isEmpty());  // the reason, on hover
        EXPECT_EQ(form->config().image.bytes(), before.bytes());
    }
}

TEST_F(Transfer, PortThatCannotBeOpenedIsReportedAndTheOperationFails) {
    ASSERT_TRUE(active);
    pointPort(1, "/nonexistent/qm730-port");
    MessageBox::clearShown();
    ASSERT_TRUE(runShown(TransferDirection::Send));
    EXPECT_EQ(status(), "  Transfer Error !");
    EXPECT_EQ(MessageBox::shown(), (std::vector<Notice>{openPortErrorNotice(), commandResponseErrorNotice()}));
    dialog()->Button1->click();

    // A port another program holds counts as one that cannot be opened.
    Board board;
    pointPort(1, board.port());
    SerialPort holder;
    holder.open(board.port());
    MessageBox::clearShown();
    ASSERT_TRUE(runShown(TransferDirection::Read));
    EXPECT_EQ(status(), "  Read Error !");
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown()[0].text, "Open Port Error!!");
    EXPECT_EQ(MessageBox::shown()[0].caption, "Comm Error");
    EXPECT_EQ(board.sim().stats().logons, 0);
    dialog()->Button1->click();
}

TEST_F(Transfer, EachShowingRunsOnceAndStartsWithOkHidden) {
    ASSERT_TRUE(active);
    Board board({}, boardImage());
    pointPort(1, board.port());
    ASSERT_TRUE(runShown(TransferDirection::Read));
    EXPECT_EQ(status(), "  Read Success !");

    // Activating the dialog again within the same showing starts nothing.
    form->activateWindow();
    QTest::qWait(50);
    dialog()->activateWindow();
    QTest::qWait(600);
    EXPECT_EQ(board.sim().stats().logons, 1);

    dialog()->Button1->click();
    EXPECT_FALSE(dialog()->isVisible());
    EXPECT_TRUE(dialog()->Button1->isHidden());

    form->config().direction = TransferDirection::Send;
    dialog()->show();
    EXPECT_TRUE(dialog()->Button1->isHidden());
    EXPECT_EQ(status(), "  Read Success !");  // kept until the next operation sets it
    ASSERT_TRUE(QTest::qWaitFor([this] { return dialog()->Button1->isVisible(); }, 6000));
    EXPECT_EQ(dialog()->windowTitle(), " Trandfer Data to Flash");
    EXPECT_EQ(status(), "  Transfer Success !");
    EXPECT_EQ(board.sim().stats().logons, 2);
    dialog()->Button1->click();
}

}  // namespace
