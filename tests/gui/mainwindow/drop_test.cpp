// Files dragged onto the main window: what the cursor says (taken as a copy,
// or refused), and a drop opening the file as File > Open does: a table file
// in Normal mode, a firmware file in S29 mode. A file dragged over a field
// goes to the window, not into the field.
#include <gtest/gtest.h>

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <filesystem>
#include <fstream>

#include "core/config/configfile.h"
#include "core/flash/firmwarefile.h"
#include "guitest.h"
#include "tempdir.h"

using namespace qm730;

namespace {

class Drops : public ::testing::Test, protected MainWindowFixture {
protected:
    // Whether the widget takes the drag as it enters, and as what; a drop
    // then goes to the widget that took it.
    std::pair<bool, Qt::DropAction> drag(QWidget* target, const QList<QUrl>& urls, bool dropIt = false,
                                         Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(1, 1), actions, &data, Qt::LeftButton, Qt::NoModifier);
        enter.setDropAction(Qt::MoveAction);  // what a file manager proposes within one disk
        QApplication::sendEvent(target, &enter);
        if (dropIt) {
            QDropEvent drop(QPointF(1, 1), actions, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &drop);
            QApplication::processEvents();  // the file opens once the drop has returned
        }
        return {enter.isAccepted(), enter.dropAction()};
    }
    QUrl table(const std::string& name, std::size_t bytes, const std::string& pagerName = {}) {
        ConfigImage image = defaultImage();
        writeName(image.capcodeSlot(0), pagerName);
        std::ofstream(dir.file(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(bytes));
        return QUrl::fromLocalFile(QString::fromStdString(dir.file(name)));
    }
    QLineEdit* name1() const { return form->arrays().edtName[0]; }

    TempDir dir;
};

TEST_F(Drops, OneTableFileIsTakenAsACopyAndAnythingElseRefused) {
    ASSERT_TRUE(active);
    const QUrl tbl = table("site.tbl", 100), unnamed = table("site", kImageSize), notes = table("notes.txt", 100);
    std::filesystem::create_directory(dir.file("folder.tbl"));
    const struct {
        const char* what;
        QList<QUrl> urls;
        Qt::DropActions actions;
        bool taken;
    } cases[] = {
        {"a .tbl file of any size", {tbl}, Qt::CopyAction | Qt::MoveAction, true},
        {"a table's size without .tbl", {unnamed}, Qt::CopyAction, true},
        {"another file", {notes}, Qt::CopyAction, false},
        {"two tables", {tbl, unnamed}, Qt::CopyAction, false},
        {"a folder", {QUrl::fromLocalFile(QString::fromStdString(dir.file("folder.tbl")))}, Qt::CopyAction, false},
        {"a file elsewhere", {QUrl("https://example.invalid/site.tbl")}, Qt::CopyAction, false},
        {"a table that may only be moved", {tbl}, Qt::MoveAction, false},
    };
    for (const auto& c : cases)
        for (QWidget* target : {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(name1())}) {
            const auto [accepted, action] = drag(target, c.urls, false, c.actions);
            EXPECT_EQ(accepted, c.taken) << c.what << " on " << target->objectName().toStdString();
            EXPECT_TRUE(!accepted || action == Qt::CopyAction) << "a move would have the file manager delete it";
        }
}

TEST_F(Drops, ADroppedFileOpensAsFileOpenWouldInEachMode) {
    ASSERT_TRUE(active);
    drag(name1(), {table("site.tbl", kImageSize, "SITE 4")}, true);
    EXPECT_EQ(name1()->text(), "SITE 4") << "opened, not typed into the field";
    drag(form.get(), {table("short.tbl", 100)}, true);
    EXPECT_EQ(MessageBox::shown(),
              std::vector<Notice>({{"The file holds only 100 of 40959 bytes; the rest of the configuration was kept.",
                                    "QM730", NoticeButtons::Ok, NoticeIcon::Exclamation}}));

    form->setMode(OperatingMode::S29);
    const std::string firmware = dir.file("board.bin");
    std::ofstream(firmware) << "S00600004844521B\nS2080D000001020304E0\n";
    drag(form.get(), {QUrl::fromLocalFile(QString::fromStdString(firmware))}, true);
    EXPECT_EQ(form->lblFilename->text().toStdString(), firmware);
    EXPECT_EQ(form->firmware().image.BytesLoaded, 4u);
}

}  // namespace
