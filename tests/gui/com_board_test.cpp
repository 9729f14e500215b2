// The window's four operations on a Windows serial port, against the
// simulated board that scripts/test_windows.sh links behind it through
// Wine: Transfer, Read, the firmware Write and P-Link, each checked in what
// the board holds afterwards. The script names the port
// (QM730_TEST_BOARD_PORT, "COM1" to "COM5") and the files in which the board
// keeps its configuration and its flash (QM730_TEST_BOARD_TABLE,
// QM730_TEST_BOARD_FLASH); without them the tests skip.
#include <gtest/gtest.h>

#include <QFile>

#include "gui/seams/filedialog.h"
#include "core/config/configfile.h"
#include "core/flash/firmwarefile.h"
#include "guitest.h"
#include "tempdir.h"
#include "transferdialog.h"

using namespace qm730;

namespace {

QString setting(const char* name) { return qEnvironmentVariable(name); }

// The board's file once it holds the bytes (it writes them as it takes them
// in), or as it is after ten seconds.
QByteArray boardFileOnceItHolds(const QString& path, const QByteArray& wanted) {
    QByteArray bytes;
    for (int waited = 0; waited < 10000; waited += 50) {
        QFile file(path);
        bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if (bytes == wanted) break;
        QTest::qWait(50);
    }
    return bytes;
}

template <typename Bytes>
QByteArray asBytes(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

class BoardOnComPort : public ::testing::Test, protected MainWindowFixture {
protected:
    void SetUp() override {
        if (port.isEmpty()) GTEST_SKIP() << "no board: scripts/test_windows.sh names one";
        ASSERT_TRUE(active);
        // "COM 1" .. "COM 5" in the window stand for the Windows ports COM1 .. COM5.
        const int index = port.mid(3).toInt() - 1;
        ASSERT_TRUE(index >= 0 && index < form->cboComPort->count()) << port.toStdString();
        form->cboComPort->setCurrentIndex(index);
        emit form->cboComPort->activated(index);
        ASSERT_EQ(form->cboComPort->currentText(), "COM " + port.mid(3));
        FileDialog::clearRequests();
    }
    void runTransferDialog(QAction* command) {
        pressOkWhenDone(form->windows().form2);
        command->trigger();
    }
    QString status() const { return form->windows().form2->lblMsg->text(); }
    static std::vector<std::string> texts(const std::vector<Notice>& notices) {
        std::vector<std::string> result;
        for (const Notice& notice : notices) result.push_back(notice.text);
        return result;
    }

    const QString port = setting("QM730_TEST_BOARD_PORT");
    TempDir dir;
};

TEST_F(BoardOnComPort, TransferSendsTheTableAndReadBringsItBack) {
    QLineEdit* name = form->arrays().edtName[0];
    name->setFocus();
    QTest::keyClicks(name, "OVER COM");
    runTransferDialog(form->Write1);
    EXPECT_EQ(status(), "  Transfer Success !");
    EXPECT_TRUE(MessageBox::shown().empty());
    const QByteArray sent = asBytes(form->config().image.bytes());
    EXPECT_EQ(boardFileOnceItHolds(setting("QM730_TEST_BOARD_TABLE"), sent), sent) << "the board holds the table";

    name->setText("CHANGED");
    runTransferDialog(form->Test1);
    EXPECT_EQ(status(), "  Read Success !");
    EXPECT_EQ(name->text(), "OVER COM");
}

TEST_F(BoardOnComPort, FirmwareIsWrittenIntoTheFlashAndTheLoaderAnswers) {
    const std::string firmware = dir.file("demo.s19");
    QFile file(QString::fromStdString(firmware));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("S00F000068656C6C6F202020202000003C\r\nS2140D0000000102030405060708090A0B0C0D0E0F66\r\n");
    file.close();
    form->setMode(OperatingMode::S29);
    QApplication::processEvents();
    FileDialog::setNextFileName(QString::fromStdString(firmware));
    form->Open2->trigger();
    ASSERT_TRUE(MessageBox::shown().empty());

    form->Write2->trigger();
    EXPECT_EQ(texts(MessageBox::shown()), std::vector<std::string>{"Transmit Success!"});
    const QByteArray written = asBytes(form->firmware().image.bytes);
    EXPECT_EQ(boardFileOnceItHolds(setting("QM730_TEST_BOARD_FLASH"), written), written) << "the board holds the image";

    MessageBox::clearShown();
    form->btnPLink->click();
    EXPECT_EQ(texts(MessageBox::shown()), std::vector<std::string>{"Connection Success !"});
}

}  // namespace
