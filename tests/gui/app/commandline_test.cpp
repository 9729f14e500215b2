// qm730c answers --help and --version without a display, refuses what it
// does not know with a usage line, as it is run from a shell, and opens the
// table file it is given (a file manager's "Open with") in the real window,
// as File > Open does.
#include <gtest/gtest.h>

#include <fstream>

#include "core/config/configfile.h"
#include "gui/app/application.h"
#include "guitest.h"
#include "run_ctl.h"
#include "tempdir.h"

using namespace qm730;
using namespace qm730::test;

namespace {

// Runs qm730c where no display can be reached: a window would fail at once.
CtlRun qm730c(const TempDir& dir, const std::string& arguments) {
    const std::string out = dir.file("out"), err = dir.file("err");
    const std::string line = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb timeout -s KILL 20 " QM730C_PATH " " +
                             arguments + " >" + out + " 2>" + err;
    const int raw = std::system(line.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, fileText(out), fileText(err), {}};
}

}  // namespace

TEST(GuiCommandLine, HelpAndVersionNeedNoDisplayAndAnythingElseIsRefused) {
    TempDir dir;
    CtlRun run = qm730c(dir, "--version");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "qm730c 1.0\n");

    run = qm730c(dir, "--help");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("--version"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("-platform"), std::string::npos) << "Qt's own options are not the program's";

    EXPECT_NE(run.out.find("[FILE.tbl]"), std::string::npos) << run.out;

    for (const char* refused : {"--bogus", "a.tbl b.tbl", "--version=2", "''"}) {
        SCOPED_TRACE(refused);
        run = qm730c(dir, refused);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("Usage: qm730c [--help] [--version] [FILE.tbl]\n"), std::string::npos) << run.err;
    }
}

// Qt's own options are left to Qt; the one other argument is the file.
TEST(GuiCommandLine, TheArgumentBesideQtsOptionsIsTheTableFile) {
    const StartRequest request =
        readArguments({"qm730c", "-platform", "offscreen", "-style", "fusion", "-reverse", "/data/site 4.tbl"});
    EXPECT_FALSE(request.exitStatus);
    EXPECT_EQ(request.tableFile, QString("/data/site 4.tbl"));
    EXPECT_FALSE(readArguments({"qm730c", "-platform", "offscreen"}).tableFile);
    EXPECT_EQ(readArguments({"qm730c", "--", "-dashed.tbl"}).tableFile, QString("-dashed.tbl"));
}

// The window starts with the file opened as File > Open opens it; a file
// that cannot be opened is told of and the window keeps its defaults.
TEST(GuiCommandLine, TheNamedFileOpensInTheShownWindow) {
    TempDir dir;
    const Notice openError{"Open Error!", "QM730", NoticeButtons::Ok, NoticeIcon::Exclamation};
    const struct {
        std::size_t bytes;  // of a table naming pager 1 "SITE 4"; 0: no file
        const char* pager1;
        std::vector<Notice> boxes;
    } cases[] = {{kImageSize, "SITE 4", {}}, {0, "", {openError}}};
    for (const auto& c : cases) {
        const std::string path = dir.file(std::to_string(c.bytes) + ".tbl");
        ConfigImage image = defaultImage();
        writeName(image.capcodeSlot(0), "SITE 4");
        if (c.bytes) std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), c.bytes);
        QSettings().clear();
        MessageBox::clearShown();
        const std::unique_ptr<TForm1> form = startWindows(QString::fromStdString(path));
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(MessageBox::shown(), c.boxes);
        EXPECT_EQ(form->arrays().edtName[0]->text(), c.pager1);
    }
}
