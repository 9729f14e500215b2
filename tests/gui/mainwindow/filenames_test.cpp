// Table and firmware files whose names hold characters of no Windows code
// page (Greek and Chinese together): the window saves, opens and shows them
// under their own names, on Windows as on Linux.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include "gui/seams/filedialog.h"
#include "core/config/configfile.h"
#include "core/flash/firmwarefile.h"
#include "datatabs.h"
#include "tempdir.h"

namespace {

class FileNames : public DataTabs {
protected:
    void SetUp() override {
        ASSERT_TRUE(active);
        FileDialog::clearRequests();
    }
    void TearDown() override { FileDialog::clearRequests(); }

    // The folder as Qt names it: std::string paths are in the ANSI code page
    // on Windows and could not even name these files.
    QString inFolder(const QString& name) const { return QString::fromStdU16String(dir.path().u16string()) + "/" + name; }
    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void choose(const QString& path) { FileDialog::setNextFileName(path); }

    TempDir dir;
};

TEST_F(FileNames, ATableFileKeepsItsNameThroughSaveAndOpen) {
    const QString path = inFolder(QStringLiteral("Ωμέγα 表.tbl"));
    rows().edtAddr[0]->setText("0000777");
    choose(path);
    form->Save1->trigger();
    EXPECT_TRUE(MessageBox::shown().empty());
    const qm730::ImageBytes saved = image().bytes();
    EXPECT_EQ(contents(path), QByteArray(reinterpret_cast<const char*>(saved.data()), static_cast<qsizetype>(saved.size())));
    EXPECT_EQ(QDir(inFolder({})).entryList(QDir::Files), QStringList{QStringLiteral("Ωμέγα 表.tbl")})
        << "no file under a mangled name";

    image().bytes().fill(0x55);
    choose(path);
    form->Open1->trigger();
    EXPECT_TRUE(MessageBox::shown().empty());
    EXPECT_EQ(image().bytes(), saved);
    EXPECT_EQ(rows().edtAddr[0]->text(), "0000777");
}

TEST_F(FileNames, AFirmwareFileIsLoadedAndShownByItsName) {
    const QString path = inFolder(QStringLiteral("Ωμέγα 表.s19"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("S00F000068656C6C6F202020202000003C\r\nS2140D0000000102030405060708090A0B0C0D0E0F66\r\n");
    file.close();
    form->setMode(OperatingMode::S29);
    QApplication::processEvents();
    choose(path);
    form->Open2->trigger();
    EXPECT_TRUE(MessageBox::shown().empty());
    EXPECT_EQ(form->firmware().image.BytesLoaded, 16u);
    EXPECT_EQ(QFileInfo(form->lblFilename->text()).fileName(), QStringLiteral("Ωμέγα 表.s19"));
}

}  // namespace
