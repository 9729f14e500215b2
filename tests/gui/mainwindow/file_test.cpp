// Open and Save through the real menu actions: the dialogs asked, the pages
// stored before a save and reloaded after an open, files of the wrong size,
// and the failures the operator is told about.

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <thread>

#include "savefaults.h"
#include "tempdir.h"
#include "gui/seams/filedialog.h"
#include "core/config/configfile.h"
#include "core/config/tablefilelock.h"
#include "datatabs.h"

namespace {

using namespace qm730;

const Notice kOpenError{"Open Error!", "QM730", NoticeButtons::Ok, NoticeIcon::Exclamation};
const Notice kSaveError{"Save Error!", "QM730", NoticeButtons::Ok, NoticeIcon::Exclamation};

class Files : public DataTabs {
protected:
    void SetUp() override {
        ASSERT_TRUE(active);
        FileDialog::clearRequests();
    }
    void TearDown() override { FileDialog::clearRequests(); }

    void save(const std::string& path) {
        FileDialog::setNextFileName(QString::fromStdString(path));
        form->Save1->trigger();
    }
    void open(const std::string& path) {
        FileDialog::setNextFileName(QString::fromStdString(path));
        form->Open1->trigger();
    }

    static std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    TempDir dir;
};

TEST_F(Files, SaveCommitsTheFieldAndStoresAllPagesThenOpenGivesItBack) {
    const ControlArrays& a = rows();
    focus(a.edtAddr[1]);
    a.edtAddr[1]->setText("42");
    a.memMsg[3]->setPlainText("Lunch");
    FileDialog::setNextFileName({});  // the operator cancels
    form->Save1->trigger();
    EXPECT_EQ(a.edtAddr[1]->text(), "0000042") << "the address left for the focus sink";
    EXPECT_EQ(QApplication::focusWidget(), form->Edit1);
    EXPECT_EQ(storedAddress(1), "0000042") << "stored even though the dialog was cancelled";
    EXPECT_EQ(readMessage(image().messageSlot(3)), "Lunch");

    const ImageBytes saved = image().bytes();
    const std::string path = dir.file("start");  // no extension is added
    save(path);
    const FileDialogRequest& request = FileDialog::requests().back();
    EXPECT_EQ(request.kind, FileDialogRequest::Kind::Save);
    EXPECT_EQ(request.directory, form->startDirectory());
    EXPECT_EQ(request.filter, "Table File*.tbl (*.tbl)");
    EXPECT_EQ(contents(path), std::string(saved.begin(), saved.end()));

    image().bytes().fill(0x55);
    open(path);
    EXPECT_EQ(image().bytes(), saved);
    EXPECT_EQ(FileDialog::requests().back().kind, FileDialogRequest::Kind::Open);
    EXPECT_EQ(a.edtAddr[1]->text(), "0000042");
    EXPECT_TRUE(MessageBox::shown().empty());
}

TEST_F(Files, OpenReloadsTheShownPagesEvenWhenCancelled) {
    const ControlArrays& a = rows();
    form->NextM1->trigger();
    a.edtAddr[0]->setText("999");
    a.memMsg[0]->setPlainText("unsaved");
    a.edtPagerID[0]->setText("5");
    FileDialog::setNextFileName({});
    form->Open1->trigger();
    EXPECT_EQ(a.edtAddr[0]->text(), "1234560");
    EXPECT_EQ(a.memMsg[0]->toPlainText(), "No.11 ppg message") << "message page 2 stays shown";
    EXPECT_EQ(a.edtPagerID[0]->text(), "101");
    EXPECT_EQ(form->messagePage(), 2);
}

TEST_F(Files, ShortAndLongFilesAreTakenAndReported) {
    const ImageBytes before = image().bytes();
    const std::string shortFile = dir.file("short.tbl");
    write(shortFile, std::string(100, '\x07'));
    open(shortFile);
    EXPECT_TRUE(std::all_of(image().data(), image().data() + 100, [](std::uint8_t b) { return b == 7; }));
    EXPECT_TRUE(std::equal(before.begin() + 100, before.end(), image().bytes().begin() + 100));
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown()[0].text, "The file holds only 100 of 40959 bytes; the rest of the configuration was kept.");
    EXPECT_EQ(rows().edtAddr[0]->text(), "7777560") << "the first slot's first four digits were in the file";

    MessageBox::clearShown();
    std::string longer(before.begin(), before.end());
    longer += "trailing bytes";
    const std::string longFile = dir.file("long.tbl");
    write(longFile, longer);
    open(longFile);
    EXPECT_EQ(image().bytes(), before);
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown()[0].caption, "QM730");
    EXPECT_EQ(MessageBox::shown()[0].icon, NoticeIcon::Exclamation);
}

TEST_F(Files, AFileThatCannotBeReadChangesNothing) {
    const ImageBytes before = image().bytes();
    rows().edtAddr[0]->setText("0000099");
    // A device is no table file even though it gives bytes without end.
    for (const std::string& path : {dir.file("missing.tbl"), dir.path().string(), std::string("/dev/zero")}) {
        MessageBox::clearShown();
        open(path);
        EXPECT_EQ(MessageBox::shown(), std::vector<Notice>{kOpenError}) << path;
    }
    EXPECT_EQ(image().bytes(), before);
    EXPECT_EQ(rows().edtAddr[0]->text(), "0000099") << "the views are not reloaded";
}

TEST_F(Files, ASaveThatCannotBeWrittenSaysSoAndKeepsTheOldFile) {
    save("/dev/null/x.tbl");
    EXPECT_EQ(MessageBox::shown(), std::vector<Notice>{kSaveError});

    // A folder of the target's name cannot be replaced by the file.
    const std::string target = dir.file("taken.tbl");
    std::filesystem::create_directory(target);
    std::ofstream(target + "/inside") << "kept";
    MessageBox::clearShown();
    save(target);
    EXPECT_EQ(MessageBox::shown(), std::vector<Notice>{kSaveError});
    EXPECT_EQ(contents(target + "/inside"), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary file is left";

    // A FIFO of the chosen name is left as it is, not replaced by a file.
    const std::string fifo = dir.file("fifo.tbl");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    MessageBox::clearShown();
    save(fifo);
    EXPECT_EQ(MessageBox::shown(), std::vector<Notice>{kSaveError});
    EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);

    // A full disk: the file saved before stays as it was.
    const std::string previous = dir.file("previous.tbl");
    MessageBox::clearShown();
    save(previous);
    const std::string before = contents(previous);
    rows().edtAddr[0]->setText("0000777");
    savefault::failCall(savefault::Call::Write, 1, ENOSPC);
    save(previous);
    savefault::clear();
    EXPECT_EQ(MessageBox::shown(), std::vector<Notice>{kSaveError});
    EXPECT_EQ(contents(previous), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3) << "no temporary file is left";
}

// Another program changing the file (qm730ctl set) finishes first.
TEST_F(Files, SaveTakesItsTurnWithOtherProgramsChangingTheFile) {
    const std::string path = dir.file("shared.tbl");
    ASSERT_TRUE(saveTableFile(path, defaultImage()).ok());
    rows().edtAddr[0]->setText("0000777");
    TableFileLock other;
    ASSERT_TRUE(other.acquire(path).ok());
    std::thread finisher([&] {
        QTest::qSleep(400);
        other.release();
    });
    QElapsedTimer clock;
    clock.start();
    save(path);
    finisher.join();
    EXPECT_GE(clock.elapsed(), 400);
    EXPECT_EQ(contents(path).substr(capcode::kTable, 7), "0000777");
}

}  // namespace
