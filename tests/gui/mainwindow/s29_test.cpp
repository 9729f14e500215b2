// S29 mode from the main window: a firmware file opened through the file
// dialog and written into the simulated board's flash loader on a real
// pseudo-terminal, what the status bar, the progress bar and the boxes show
// meanwhile, and how the window holds the port while a write runs. The ways
// a write fails are played by a scripted loader.
#include <gtest/gtest.h>

#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <utility>

#include "gui/seams/filedialog.h"
#include "gui/windows/conn.h"
#include "gui/windows/form2.h"
#include "gui/windows/pwddlg.h"
#include "core/flash/firmwarefile.h"
#include "core/link/line_opening.h"
#include "core/link/serial_port.h"
#include "flash_board.h"
#include "simboard_thread.h"
#include "srecords.h"
#include "guitest.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;

namespace {

// 4 KiB from 0xD0000 (blocks 0 and 1, with bytes that need stuffing) and 64
// bytes at 0xE8000 (block 48): with the checksum's block 63, four blocks.
constexpr std::uint32_t kBytesInFile = 4096 + 64;
const std::vector<int> kWrittenBlocks{0, 1, 48, 63};

std::uint8_t firmwareByte(std::size_t i) { return static_cast<std::uint8_t>(i * 7 + i / 256); }

// One byte at the start of each of the first twenty blocks: the 20 bytes
// loaded make a scale of 30,020, which the write pass's twenty-one frames of
// over 2,000 bytes each overrun.
std::string writeSparseFirmwareFile(const std::string& path) {
    std::ofstream file(path, std::ios::binary);
    file << "S0030000FC\n";
    for (std::uint32_t k = 0; k < 20; ++k) file << s2Record(0xD0000 + k * 2048, {0x5A}) << "\n";
    return path;
}

std::string writeFirmwareFile(const std::string& path) {
    std::ofstream file(path, std::ios::binary);
    file << "S0030000FC\r\n";
    for (std::size_t at = 0; at < 4096; at += 32) {
        std::vector<std::uint8_t> data;
        for (std::size_t i = at; i < at + 32; ++i) data.push_back(firmwareByte(i));
        file << s2Record(static_cast<std::uint32_t>(0xD0000 + at), data) << "\r\n";
    }
    for (std::size_t at = 0; at < 64; at += 32) file << s2Record(static_cast<std::uint32_t>(0xE8000 + at), std::vector<std::uint8_t>(32, 0xA5)) << "\r\n";
    file << "S804000000FB\r\n";
    return path;
}

// Records, whenever the status text or the progress bar is painted, what the
// operator sees then: the text with the number of boxes shown so far, and
// the text with the bar's maximum.
class StatusWatch : public QObject {
public:
    explicit StatusWatch(TForm1& form) : form_(form), text_(form.StatusBar1->findChild<QLabel*>("StatusPanel2")) {
        QApplication::processEvents();  // what was pending belongs to before
        text_->installEventFilter(this);
        form.PB1->installEventFilter(this);
    }
    std::vector<std::pair<std::string, std::size_t>> texts;  // consecutive repeats left out
    std::vector<std::pair<std::string, int>> scales;
    std::map<std::string, int> barWhenFirstShown;  // the bar's position when a text first shows

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint) return false;
        const std::string text = form_.statusText().toStdString();
        if (watched == text_) {
            addOnce(texts, {text, MessageBox::shown().size()});
            barWhenFirstShown.emplace(text, form_.PB1->value());
        }
        if (watched == form_.PB1) addOnce(scales, {text, form_.PB1->maximum()});
        return false;
    }

private:
    template <typename T>
    static void addOnce(std::vector<T>& list, T entry) {
        if (list.empty() || list.back() != entry) list.push_back(std::move(entry));
    }
    TForm1& form_;
    QLabel* text_;
};

template <typename T>
bool inOrder(const std::vector<T>& seen, const std::vector<T>& wanted) {
    auto at = seen.begin();
    for (const T& entry : wanted) {
        at = std::find(at, seen.end(), entry);
        if (at == seen.end()) return false;
        ++at;
    }
    return true;
}

std::vector<std::string> texts(const std::vector<Notice>& notices) {
    std::vector<std::string> result;
    for (const Notice& notice : notices) result.push_back(notice.text);
    return result;
}

class FlashWriting : public ::testing::Test, protected MainWindowFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(active);
        FileDialog::clearRequests();
    }
    void TearDown() override { ::unsetenv("QM730C_COM1"); }

    static void pointPort(const std::string& device) { ::setenv("QM730C_COM1", device.c_str(), 1); }
    void open(const std::string& path) {
        FileDialog::setNextFileName(QString::fromStdString(path));
        form->Open2->trigger();
    }
    std::string firmwareFile() { return writeFirmwareFile(dir.file("board.s19")); }
    // Enters S29 mode and opens the test firmware.
    void ready() {
        form->setMode(OperatingMode::S29);
        QApplication::processEvents();
        open(firmwareFile());
        MessageBox::clearShown();
    }
    void expectAtRest(const std::string& port) {
        EXPECT_EQ(form->statusText(), " Ready");
        EXPECT_EQ(form->PB1->value(), 0);
        EXPECT_TRUE(form->Write2->isEnabled());
        EXPECT_TRUE(form->btnPLink->isEnabled());
        for (const QAction* menu : form->menuBar()->actions())
            if (menu->isVisible()) {
                EXPECT_TRUE(menu->isEnabled()) << menu->text().toStdString();
            }
        EXPECT_FALSE(commPort().isOpen()) << port;
    }

    TempDir dir;
};

TEST_F(FlashWriting, FirmwareOpenedAndWrittenIntoTheBoard) {
    QTimer::singleShot(0, form.get(), [this] {
        TPwdDlg* dialog = form->windows().pwdDlg;
        dialog->edtPwd->setText("Hask_Tol");
        dialog->btnOK->click();
    });
    form->S29Mode1->trigger();
    ASSERT_EQ(form->mode(), OperatingMode::S29);

    const std::string path = firmwareFile();
    open(path);
    ASSERT_EQ(FileDialog::requests().size(), 1u);
    const FileDialogRequest& request = FileDialog::requests().front();
    EXPECT_EQ(request.kind, FileDialogRequest::Kind::Open);
    EXPECT_EQ(request.filter, "All files (*.*) (*)");
    EXPECT_EQ(request.directory, form->startDirectory());
    EXPECT_EQ(form->lblFilename->text().toStdString(), path);
    EXPECT_TRUE(form->lblFilename->isVisible());
    EXPECT_TRUE(MessageBox::shown().empty()) << "a good load says nothing";
    const FlashImage& image = form->firmware().image;
    EXPECT_EQ(image.BytesLoaded, kBytesInFile);
    unsigned sum = 0;
    for (std::size_t i = 0; i + 2 < image.bytes.size(); ++i) sum += image.bytes[i];
    EXPECT_EQ(image.bytes[0x1000], 0xFF);
    EXPECT_EQ(image.bytes[0x18000], 0xA5);
    EXPECT_EQ(image.storedChecksum(), sum & 0xFFFF);

    SimBoardThread board;
    pointPort(board.port());
    StatusWatch watch(*form);
    form->Write2->trigger();

    EXPECT_EQ(texts(MessageBox::shown()), std::vector<std::string>{"Transmit Success!"}) << board.log();
    EXPECT_EQ(watch.texts, (std::vector<std::pair<std::string, std::size_t>>{
                               {" Verify ......", 0}, {" Erase ......", 0}, {" Write ......", 0}, {" Read ......", 0},
                               {" Ready", 1}}));
    const int blockScale = static_cast<int>(kBytesInFile) + 30000;
    EXPECT_TRUE(inOrder(watch.scales, std::vector<std::pair<std::string, int>>{{" Verify ......", 27},
                                                                               {" Erase ......", 27},
                                                                               {" Write ......", blockScale},
                                                                               {" Read ......", blockScale}}));
    expectAtRest(board.port());

    // The check, both erases, then each of the four blocks written and read back.
    const sim::SimStats stats = board.sim().stats();
    EXPECT_EQ(stats.flashFrames, 3 + 2 * static_cast<int>(kWrittenBlocks.size()));
    EXPECT_EQ(stats.flashRefused, 0);
    const auto flash = board.sim().flash();
    ASSERT_EQ(flash.size(), image.bytes.size());
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), image.bytes.begin())) << "the board holds the image";
}

// While a write runs the window paints and serves its events, but nothing
// else may use the port or leave the mode, and the window cannot be closed.
TEST_F(FlashWriting, AWriteHoldsThePortAndTheMode) {
    form->setMode(OperatingMode::S29);
    open(writeSparseFirmwareFile(dir.file("sparse.s19")));
    FlashBoard board({});
    pointPort(board.port());
    StatusWatch watch(*form);

    struct Seen {
        bool checked = false, menusDisabled = true, pLinkDisabled = false, writeDisabled = false;
        bool closeRefused = false, stillS29 = false, connShown = true, transferShown = true;
        int paintsAfterUpdate = 0;
    } seen;
    class PaintCount : public QObject {
    public:
        int* count = nullptr;
        const TForm1* form = nullptr;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && form->writing()) ++*count;
            return false;
        }
    } paints;
    paints.count = &seen.paintsAfterUpdate;
    paints.form = form.get();

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, form.get(), [&] {
        if (seen.checked || form->statusText() != " Erase ......") return;
        seen.checked = true;
        for (const QAction* menu : form->menuBar()->actions()) seen.menusDisabled = seen.menusDisabled && !menu->isEnabled();
        seen.pLinkDisabled = !form->btnPLink->isEnabled();
        seen.writeDisabled = !form->Write2->isEnabled();
        seen.closeRefused = !form->close() && form->isVisible();
        form->NormalMode1->trigger();
        seen.stillS29 = form->mode() == OperatingMode::S29 && form->S29Mode1->isChecked();
        // Were either dialog to open now, it would be found and sent away.
        QTimer::singleShot(100, form.get(), [&] {
            seen.connShown = form->frmConn()->isVisible();
            seen.transferShown = form->windows().form2->isVisible();
            if (seen.connShown) form->frmConn()->reject();
        });
        form->btnPLinkClick(form->btnPLink);
        form->Write1->trigger();
        form->lblFilename->installEventFilter(&paints);
        form->lblFilename->update();
    });
    poll.start(10);
    form->Write2->trigger();
    poll.stop();

    ASSERT_TRUE(seen.checked);
    EXPECT_TRUE(seen.menusDisabled);
    EXPECT_TRUE(seen.pLinkDisabled);
    EXPECT_TRUE(seen.writeDisabled);
    EXPECT_TRUE(seen.closeRefused);
    EXPECT_TRUE(seen.stillS29);
    EXPECT_FALSE(seen.connShown);
    EXPECT_FALSE(seen.transferShown);
    EXPECT_GT(seen.paintsAfterUpdate, 0) << "the window repaints during the run";
    EXPECT_EQ(watch.barWhenFirstShown[" Read ......"], 30020) << "a bar run past its scale shows full";
    EXPECT_EQ(texts(MessageBox::shown()), std::vector<std::string>{"Transmit Success!"});
    expectAtRest(board.port());
    EXPECT_EQ(board.probes(), 0);

    // Afterwards the window closes as usual.
    EXPECT_TRUE(form->close());
}

// Write asks for a file until one has been loaded: at first, after a
// cancelled dialog (even with an image still in memory) and after a file that
// was refused. Nothing goes to the board meanwhile.
TEST_F(FlashWriting, WriteAsksForAFileFirst) {
    form->setMode(OperatingMode::S29);
    FlashBoard board({});
    pointPort(board.port());
    const std::string notAFirmware = dir.file("notes.txt");
    std::ofstream(notAFirmware) << "header\nthis is no record\n";
    const Notice fileError{"Can't perform one of the following file operations: Open, Seek, Read, Close.",
                           "File Error", NoticeButtons::OkCancel, NoticeIcon::None};

    struct Step {
        const char* name;
        std::string answer;  // what the file dialog returns; empty: no dialog, or cancelled
        bool openFirst;
    };
    const std::vector<Step> steps = {
        {"nothing opened yet", "", false},
        {"dialog cancelled after a good load", "", true},
        {"a refused file", notAFirmware, true},
        {"a file that is not there", dir.file("missing.s19"), true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.openFirst) {
            open(firmwareFile());
            ASSERT_FALSE(form->lblFilename->text().isEmpty());
            MessageBox::clearShown();
            open(step.answer);
        }
        if (!step.answer.empty()) {
            ASSERT_EQ(MessageBox::shown().size(), 1u);
            const Notice& box = MessageBox::shown().front();
            EXPECT_EQ(box.caption, fileError.caption);
            EXPECT_EQ(box.buttons, fileError.buttons);
            EXPECT_EQ(box.text.substr(0, fileError.text.size()), fileError.text);
        }
        EXPECT_TRUE(form->lblFilename->text().isEmpty());
        MessageBox::clearShown();
        form->Write2->trigger();
        EXPECT_EQ(texts(MessageBox::shown()), std::vector<std::string>{"Please open file first !"});
        EXPECT_TRUE(form->Write2->isEnabled());
        MessageBox::clearShown();
    }
    EXPECT_TRUE(board.frames().empty());
    EXPECT_FALSE(commPort().isOpen());

    // The Normal mode Open keeps its own filter.
    form->setMode(OperatingMode::Normal);
    form->Open1->trigger();
    EXPECT_EQ(FileDialog::requests().back().filter, "Table File*.tbl (*.tbl)");
}

// Every failed write ends at rest, with the port let go, after telling the
// operator in the order the steps went.
TEST_F(FlashWriting, FailedWritesEndAtRest) {
    ready();
    using Texts = std::vector<std::pair<std::string, std::size_t>>;
    struct Case {
        const char* name;
        BoardScript script;
        bool portHeld;  // another user has the port
        std::vector<std::string> boxes;
        Texts statuses;
    };
    BoardScript silent, refusedErase, goneMidway;
    silent.silent = true;
    refusedErase.refuseErase = 0xE0000;
    goneMidway.hangUpOnFirstWrite = true;
    const std::vector<Case> cases = {
        {"board not found", silent, false, {"The target board is not found !"},
         {{" Verify ......", 0}, {" Error", 0}, {" Ready", 1}}},
        {"port in use", {}, true, {"Error opening comm port. Port already in use?", "The target board is not found !"},
         {{" Verify ......", 0}, {" Error", 1}, {" Ready", 2}}},
        {"erase refused", refusedErase, false, {"Transmit Error!"}, {{" Verify ......", 0}, {" Erase ......", 0}, {" Ready", 1}}},
        {"line gone during the write", goneMidway, false, {"Transmit Error!"},
         {{" Verify ......", 0}, {" Erase ......", 0}, {" Write ......", 0}, {" Ready", 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageBox::clearShown();
        FlashBoard board(c.script);
        pointPort(board.port());
        SerialPort otherUser;
        if (c.portHeld) {
            ASSERT_TRUE(openLine(otherUser, board.port()).opened);
        }
        StatusWatch watch(*form);
        form->Write2->trigger();
        EXPECT_EQ(texts(MessageBox::shown()), c.boxes);
        EXPECT_EQ(watch.texts, c.statuses);
        EXPECT_FALSE(form->StatusBar1->findChild<QLabel*>("StatusPanel2")->toolTip().isEmpty()) << "the reason, on hover";
        expectAtRest(board.port());
    }
}

// A block that reads back differently is told with the sequence byte of its
// read; the port is let go all the same, so the connection check can use it.
TEST_F(FlashWriting, AReadBackMismatchIsToldAndThePortLetGo) {
    ready();
    BoardScript corrupt;
    corrupt.corruptReadBlock = 1;
    FlashBoard board(corrupt);
    pointPort(board.port());
    form->Write2->trigger();

    std::uint8_t htag = 0;
    for (const ReceivedFrame& frame : board.frames())
        if (frame.command == 0x12 && frame.address == 0xD0800) htag = frame.htag;
    ASSERT_NE(htag, 0);
    EXPECT_EQ(texts(MessageBox::shown()), std::vector<std::string>{"Read Error! Htag = " + std::to_string(htag)});
    expectAtRest(board.port());
    EXPECT_EQ(board.frames().back().address, 0xD0800u) << "the read-back stops at the first difference";

    MessageBox::clearShown();
    form->btnPLink->click();
    EXPECT_EQ(texts(MessageBox::shown()), std::vector<std::string>{"Connection Success !"});
    EXPECT_FALSE(commPort().isOpen());
}

TEST_F(FlashWriting, ServiceControlsScaleWithTheWindow) {
    form->setMode(OperatingMode::S29);
    form->applyLayout(QSize(2 * TForm1::kDesignClientWidth, 2 * TForm1::kDesignClientHeight));
    EXPECT_EQ(form->btnPLink->geometry(), QRect(1280, 20, 130, 44));
    EXPECT_EQ(form->lblFilename->pos(), QPoint(320, 120));
    EXPECT_EQ(form->lblFilename->font().pixelSize(), 30);
    EXPECT_TRUE(form->lblFilename->font().bold());
    EXPECT_EQ(form->StatusBar1->geometry(), QRect(0, 1012, 1434, 42));
    QApplication::processEvents();
    EXPECT_EQ(form->PB1->width(), 500) << "the bar fills the first panel";
}

}  // namespace
