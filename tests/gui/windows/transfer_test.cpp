// The transfer dialog and the main window's Transfer and Read commands, end to
// end over a pseudo-terminal against the simulated board, and the ways they
// fail: a silent board, a frame cut short, a port that cannot be opened.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProgressBar>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "guitest.h"
#include "gui/windows/form2.h"
#include "core/link/serial_port.h"
#include "transferdialog.h"
#include "core/link/transfer_line.h"
#include "core/link/transfer_protocol.h"
#include "simboard_thread.h"
#include "tempdir.h"

using namespace qm730;
using Board = qm730::test::SimBoardThread;
using namespace std::chrono_literals;

namespace {

// Whether two images agree on the bytes the download frame carries.
bool sameCarriedByFrame(const ConfigImage& a, const ConfigImage& b) {
    auto same = [&](std::size_t offset, std::size_t length) {
        return std::memcmp(a.data() + offset, b.data() + offset, length) == 0;
    };
    bool ok = same(0, 96) && same(alarmRecordOffset(0), 448);
    for (std::size_t k = 0; k < 99; ++k) ok = ok && same(capcodeSlotOffset(k), 22);
    for (std::size_t k = 99; k < 800; k += 100) ok = ok && same(capcodeSlotOffset(k), 22);
    for (std::size_t m = 0; m < 99; ++m) ok = ok && same(messageSlotOffset(m), 60);
    return ok;
}

ConfigImage boardImage() {
    ConfigImage image = defaultImage();
    writeName(image.capcodeSlot(0), "ON BOARD");
    writeName(image.capcodeSlot(799), "SLOT 800");
    writeText(image.messageSlot(42), 60, "FROM THE BOARD");
    return image;
}

class Transfer : public ::testing::Test, protected MainWindowFixture {
protected:
    void TearDown() override {
        for (const char* variable : {"QM730C_COM1", "QM730C_COM3"}) ::unsetenv(variable);
    }
    TForm2* dialog() const { return form->windows().form2; }
    QLineEdit* name1() const { return form->arrays().edtName[0]; }
    QString status() const { return dialog()->lblMsg->text(); }
    static void pointPort(const char* variable, const std::string& device) { ::setenv(variable, device.c_str(), 1); }
    void runModal(QAction* command) {
        pressOkWhenDone(dialog());
        command->trigger();
    }
};

TEST(TransferLine, SelectorItemsGiveTheLineSettings) {
    EXPECT_EQ(lineSettingsFromSelectors(4, 2), kBoardLine);
    EXPECT_EQ(lineSettingsFromSelectors(0, 0), (LineSettings{1200, 7, Parity::Even, 2}));
    EXPECT_EQ(lineSettingsFromSelectors(-1, 9), kBoardLine);  // nothing chosen: the board's line
}

TEST_F(Transfer, TransferSendsThePendingEditAndCannotBeClosedMidway) {
    ASSERT_TRUE(active);
    Board board;
    pointPort("QM730C_COM1", board.port());
    name1()->setFocus();
    QTest::keyClicks(name1(), "FROM PC");
    writeName(form->config().image.capcodeSlot(500), "FAR AWAY");

    bool runningAtClose = false, visibleAfterClose = false;
    QTimer::singleShot(100, dialog(), [&] {
        runningAtClose = dialog()->operationRunning();
        dialog()->close();
        visibleAfterClose = dialog()->isVisible();
    });
    runModal(form->Write1);

    EXPECT_EQ(status(), "  Transfer Success !");
    EXPECT_EQ(dialog()->windowTitle(), " Trandfer Data to Flash");
    EXPECT_TRUE(dialog()->Button1->isHidden());
    EXPECT_TRUE(MessageBox::shown().empty());
    EXPECT_TRUE(dialog()->memTAP_C->toPlainText().contains("++[P= OK"));
    EXPECT_TRUE(runningAtClose);
    EXPECT_TRUE(visibleAfterClose);
    ASSERT_TRUE(board.sim().waitForUploads(1, 5s));
    EXPECT_EQ(board.sim().stats().uploadsApplied, 1);
    EXPECT_EQ(readName(board.sim().image().capcodeSlot(0)), "FROM PC");
    EXPECT_EQ(readName(board.sim().image().capcodeSlot(500)), "FAR AWAY");
}

TEST_F(Transfer, APageThatCannotBeStoredStopsTheTransfer) {
    ASSERT_TRUE(active);
    form->arrays().chkGroup[0]->setChecked(true);
    form->arrays().edtGroup[0]->setText("1x");  // pasted past the key rule
    const ConfigImage before = form->config().image;
    runModal(form->Write1);
    // The group field's own leave rule complains first, then the page store.
    ASSERT_FALSE(MessageBox::shown().empty());
    EXPECT_EQ(MessageBox::shown().back().text, "'1x' is not a valid integer value.");
    EXPECT_FALSE(dialog()->isVisible());
    EXPECT_EQ(dialog()->lblMsg->text(), "Message");  // the dialog never ran
    EXPECT_EQ(form->config().image.bytes(), before.bytes());
}

TEST_F(Transfer, ReadOnTheThirdPortTakesTheBoardsImageIntoTheViews) {
    ASSERT_TRUE(active);
    Board board({}, boardImage());
    pointPort("QM730C_COM3", board.port());
    form->cboComPort->setCurrentIndex(2);
    form->cboComPortClick(form->cboComPort);
    const ConfigImage before = form->config().image;

    runModal(form->Test1);

    EXPECT_EQ(dialog()->portName(), "COM3");
    EXPECT_EQ(status(), "  Read Success !");
    EXPECT_EQ(dialog()->windowTitle(), " Download Data from Flash");
    const ConfigImage& image = form->config().image;
    EXPECT_TRUE(sameCarriedByFrame(image, boardImage()));
    EXPECT_EQ(name1()->text(), "ON BOARD");
    // What the frame does not carry stays as it was.
    EXPECT_EQ(std::memcmp(image.capcodeSlot(800), before.capcodeSlot(800), 200 * 32), 0);
}

// Records what the status label and the progress bar showed each time they
// were painted, and how many boxes had been shown by then.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(TForm2* dialog) : dialog_(dialog) {
        dialog->lblMsg->installEventFilter(this);
        dialog->PB1->installEventFilter(this);
    }
    std::vector<std::pair<std::string, std::size_t>> statusPaints;  // text, boxes shown before
    std::vector<int> rangePaints;                                    // the bar's maximum

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint) return false;
        if (watched == dialog_->lblMsg)
            statusPaints.emplace_back(dialog_->lblMsg->text().toStdString(), MessageBox::shown().size());
        if (watched == dialog_->PB1) rangePaints.push_back(dialog_->PB1->maximum());
        return false;
    }

private:
    TForm2* dialog_;
};

// Every failure ends with the result in the status label and the image as it
// was. Before the wait for the board the operator sees what is being done,
// after any box about the port: the wait processes no events, so the status
// is painted at once.
TEST_F(Transfer, FailuresShowTheirWorkAndKeepTheImage) {
    ASSERT_TRUE(active);
    TempDir dir;
    const std::string plainFile = dir.file("not-a-line");
    std::fclose(std::fopen(plainFile.c_str(), "w"));
    sim::SimOptions silent, cut;
    silent.silent = true;
    cut.stopAfter = 5000;
    const Notice openError{"Open Port Error!!", "Comm Error", NoticeButtons::Ok, NoticeIcon::None};
    const Notice settingError{"Port Setting Error!!!", "Set Error", NoticeButtons::Ok, NoticeIcon::None};
    const Notice noAnswer{"Command & Response Error!!!", "Transfermission Error", NoticeButtons::Ok,
                          NoticeIcon::None};
    // A plain file is no serial line: it is not opened at all. A line that
    // refuses the settings is a pseudo-terminal asked for 7 data bits with
    // even parity through the dialog's hidden data-format selector.
    enum class Port { Board, Missing, NotALine, RefusesSettings };
    struct Case {
        const char* name;
        sim::SimOptions options;
        Port port;
        QAction* command;
        const char* result;
        std::vector<Notice> boxes;
        const char* reason;  // on hover
    };
    const std::vector<Case> cases = {
        {"silent board, transfer", silent, Port::Board, form->Write1, "  Transfer Error !", {noAnswer},
         "the board did not answer the logon within 2 seconds"},
        {"silent board, read", silent, Port::Board, form->Test1, "  Read Error !", {},
         "the board did not answer the logon within 2 seconds"},
        {"frame cut short", cut, Port::Board, form->Test1, "  Read Error !", {},
         "the board stopped sending after 5000 of 8846 bytes of the configuration"},
        {"no port, transfer", {}, Port::Missing, form->Write1, "  Transfer Error !", {openError, noAnswer},
         "cannot open the port: No such file or directory"},
        {"no port, read", {}, Port::Missing, form->Test1, "  Read Error !", {openError},
         "cannot open the port: No such file or directory"},
        {"not a serial port, transfer", {}, Port::NotALine, form->Write1, "  Transfer Error !", {openError, noAnswer},
         "cannot open the port: not a serial port"},
        {"not a serial port, read", {}, Port::NotALine, form->Test1, "  Read Error !", {openError},
         "cannot open the port: not a serial port"},
        {"settings refused, transfer", {}, Port::RefusesSettings, form->Write1, "  Transfer Error !",
         {settingError, noAnswer},
         "cannot set up the port: the device did not take 19200 baud, 7 data bits, even parity, 2 stop bits"},
        {"settings refused, read", {}, Port::RefusesSettings, form->Test1, "  Read Error !", {settingError},
         "cannot set up the port: the device did not take 19200 baud, 7 data bits, even parity, 2 stop bits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageBox::clearShown();
        Board board(c.options, boardImage());
        pointPort("QM730C_COM1", c.port == Port::Missing    ? "/nonexistent/qm730-port"
                                 : c.port == Port::NotALine ? plainFile
                                                            : board.port());
        dialog()->cboUartData->setCurrentIndex(c.port == Port::RefusesSettings ? 0 : 2);
        const bool reading = c.command == form->Test1;
        if (reading) name1()->setText("NOT STORED");  // a read reloads the views all the same
        const ConfigImage before = form->config().image;
        PaintWatch watch(dialog());
        runModal(c.command);
        EXPECT_EQ(status(), c.result);
        EXPECT_EQ(MessageBox::shown(), c.boxes);
        EXPECT_EQ(dialog()->lblMsg->toolTip().toStdString(), c.reason);
        EXPECT_EQ(form->config().image.bytes(), before.bytes());
        if (reading) {
            EXPECT_EQ(name1()->text().toStdString(), readName(before.capcodeSlot(0)));
        }
        const std::pair<std::string, std::size_t> working{reading ? "  Downloading Now ......"
                                                                   : "  Transfering Now ......",
                                                           c.port == Port::Board ? 0u : 1u};
        EXPECT_NE(std::find(watch.statusPaints.begin(), watch.statusPaints.end(), working), watch.statusPaints.end());
        const int range = reading ? 8846 : 28522;
        EXPECT_NE(std::find(watch.rangePaints.begin(), watch.rangePaints.end(), range), watch.rangePaints.end());
    }
    dialog()->cboUartData->setCurrentIndex(2);
}

// Records, each time the dialog is shown, whether OK is hidden and what the
// status says at that moment.
class ShowingWatch : public QObject {
public:
    explicit ShowingWatch(TForm2* dialog) : dialog_(dialog) { dialog->installEventFilter(this); }
    std::vector<std::pair<bool, std::string>> showings;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            showings.emplace_back(dialog_->Button1->isHidden(), dialog_->lblMsg->text().toStdString());
        return false;
    }

private:
    TForm2* dialog_;
};

TEST_F(Transfer, OnlyTheCommandsStartAnOperationOncePerShowing) {
    ASSERT_TRUE(active);
    Board board({}, boardImage());
    pointPort("QM730C_COM1", board.port());

    // A dialog shown without the commands starts nothing.
    dialog()->show();
    QTest::qWait(700);
    EXPECT_EQ(board.sim().stats().logons, 0);
    dialog()->hide();

    // Restored from minimised, or activated again, within the same showing:
    // still one operation.
    int logonsAfterRestore = -1;
    bool okStillShown = false, okFocused = false;
    auto* poll = new QTimer(dialog());
    QObject::connect(poll, &QTimer::timeout, dialog(), [&, poll] {
        if (!dialog()->Button1->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        okFocused = dialog()->focusWidget() == dialog()->Button1;
        dialog()->showMinimized();
        dialog()->showNormal();
        QShowEvent restored;  // what the window system sends on a restore
        QApplication::sendEvent(dialog(), &restored);
        form->activateWindow();
        QTest::qWait(50);
        dialog()->activateWindow();
        QTest::qWait(700);
        logonsAfterRestore = board.sim().stats().logons;
        okStillShown = dialog()->Button1->isVisible();
        dialog()->Button1->click();
    });
    poll->start(10);
    form->Test1->trigger();
    EXPECT_EQ(status(), "  Read Success !");
    EXPECT_EQ(logonsAfterRestore, 1);
    EXPECT_TRUE(okStillShown);
    EXPECT_TRUE(okFocused);
    EXPECT_FALSE(dialog()->isVisible());

    // The next showing starts with OK hidden and the last result kept until
    // its own operation sets the status.
    ShowingWatch watch(dialog());
    runModal(form->Write1);
    ASSERT_FALSE(watch.showings.empty());
    EXPECT_EQ(watch.showings.front(), std::make_pair(true, std::string("  Read Success !")));
    EXPECT_EQ(dialog()->windowTitle(), " Trandfer Data to Flash");
    EXPECT_EQ(status(), "  Transfer Success !");
    EXPECT_EQ(board.sim().stats().logons, 2);
}

}  // namespace

namespace {

// The dialog works on what it is told when it is shown, whatever the main
// window has chosen meanwhile.
TEST_F(Transfer, TheDialogRunsTheDirectionAndPortItIsTold) {
    ASSERT_TRUE(active);
    Board board({}, boardImage());
    pointPort("QM730C_COM3", board.port());
    ASSERT_EQ(form->selectedPort(), 0);
    pressOkWhenDone(dialog());
    dialog()->execTransfer(TransferDirection::Read, "COM3");
    EXPECT_EQ(dialog()->portName(), "COM3");
    EXPECT_EQ(status(), "  Read Success !");
    EXPECT_EQ(board.sim().stats().logons, 1);
}

}  // namespace
