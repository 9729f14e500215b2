// qm730c answers --help and --version without a display, and refuses any
// other argument with a usage line, as it is run from a shell.
#include <gtest/gtest.h>

#include "run_ctl.h"
#include "tempdir.h"

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

    for (const char* refused : {"--bogus", "table.tbl", "--version=2"}) {
        SCOPED_TRACE(refused);
        run = qm730c(dir, refused);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("Usage: qm730c [--help] [--version]\n"), std::string::npos) << run.err;
    }
}
