// Files dragged onto the main window: what the cursor says (the drag-enter
// is accepted as a copy, or refused), and a drop opening the file as File >
// Open does, in Normal mode a table file and in S29 mode a firmware file.
// A file dragged over a field goes to the window, not into the field.
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

QMimeData* dragOf(const QList<QUrl>& urls) {
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

class Drops : public ::testing::Test, protected MainWindowFixture {
protected:
    // Whether the widget takes the drag, and with which action.
    std::pair<bool, Qt::DropAction> enter(QWidget* target, const QList<QUrl>& urls,
                                          Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
        const std::unique_ptr<QMimeData> data(dragOf(urls));
        QDragEnterEvent event(QPoint(1, 1), actions, data.get(), Qt::LeftButton, Qt::NoModifier);
        event.setDropAction(Qt::MoveAction);  // what a file manager proposes within one disk
        QApplication::sendEvent(target, &event);
        return {event.isAccepted(), event.dropAction()};
    }
    // A drop reaches the widget that took the drag as it entered.
    void drop(QWidget* target, const QString& path) {
        const std::unique_ptr<QMimeData> data(dragOf({QUrl::fromLocalFile(path)}));
        QDragEnterEvent entered(QPoint(1, 1), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &entered);
        QDropEvent event(QPointF(1, 1), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
        QApplication::processEvents();  // the file opens once the drop has returned
    }
    QString file(const std::string& name, std::size_t bytes, const std::string& pagerName = {}) {
        ConfigImage image = defaultImage();
        writeName(image.capcodeSlot(0), pagerName);
        std::ofstream(dir.file(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(bytes));
        return QString::fromStdString(dir.file(name));
    }
    QLineEdit* name1() const { return form->arrays().edtName[0]; }

    TempDir dir;
};

TEST_F(Drops, OneTableFileIsTakenAsACopyAndAnythingElseRefused) {
    ASSERT_TRUE(active);
    const QString table = file("site.tbl", 100);
    const QString unnamedTable = file("site", kImageSize);  // saved as typed, without .tbl
    const QString notes = file("notes.txt", 100);
    std::filesystem::create_directory(dir.file("folder.tbl"));
    const QString folder = QString::fromStdString(dir.file("folder.tbl"));

    struct Case {
        const char* what;
        QList<QUrl> urls;
        Qt::DropActions actions;
        bool taken;
    };
    const Case cases[] = {
        {"a .tbl file of any size", {QUrl::fromLocalFile(table)}, Qt::CopyAction | Qt::MoveAction, true},
        {"a table's size without .tbl", {QUrl::fromLocalFile(unnamedTable)}, Qt::CopyAction, true},
        {"another file", {QUrl::fromLocalFile(notes)}, Qt::CopyAction, false},
        {"two tables", {QUrl::fromLocalFile(table), QUrl::fromLocalFile(unnamedTable)}, Qt::CopyAction, false},
        {"a folder", {QUrl::fromLocalFile(folder)}, Qt::CopyAction, false},
        {"a file elsewhere", {QUrl("https://example.invalid/site.tbl")}, Qt::CopyAction, false},
        {"a table that may only be moved", {QUrl::fromLocalFile(table)}, Qt::MoveAction, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (QWidget* target : {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(name1())}) {
            const auto [accepted, action] = enter(target, c.urls, c.actions);
            EXPECT_EQ(accepted, c.taken) << target->objectName().toStdString();
            if (c.taken) {
                EXPECT_EQ(action, Qt::CopyAction) << "never a move: the file manager would delete the file";
            }
        }
    }
}

// Dropped on the name field, the table opens; the path is not typed into it.
TEST_F(Drops, ATableDroppedOpensAsFileOpenWould) {
    ASSERT_TRUE(active);
    drop(name1(), file("site.tbl", kImageSize, "SITE 4"));
    EXPECT_EQ(name1()->text(), "SITE 4");
    EXPECT_TRUE(MessageBox::shown().empty());

    drop(form.get(), file("short.tbl", 100));
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown().back(),
              (Notice{"The file holds only 100 of 40959 bytes; the rest of the configuration was kept.", "QM730",
                      NoticeButtons::Ok, NoticeIcon::Exclamation}));

}

TEST_F(Drops, S29ModeLoadsAFirmwareFileOfAnyName) {
    ASSERT_TRUE(active);
    form->setMode(OperatingMode::S29);
    const std::string firmware = dir.file("board.bin");
    std::ofstream(firmware) << "S00600004844521B\nS2080D000001020304E0\n";
    ASSERT_TRUE(enter(form.get(), {QUrl::fromLocalFile(QString::fromStdString(firmware))}).first);
    drop(form.get(), QString::fromStdString(firmware));
    EXPECT_EQ(form->lblFilename->text().toStdString(), firmware);
    EXPECT_EQ(form->firmware().image.BytesLoaded, 4u);

    const std::string broken = dir.file("broken.s28");
    std::ofstream(broken) << "S0030000FC\nS2XX\n";
    drop(form.get(), QString::fromStdString(broken));
    EXPECT_TRUE(form->lblFilename->text().isEmpty()) << "a refused file leaves nothing loaded";
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown().back().caption, "File Error");
}

}  // namespace
