// A table file edited with qm730ctl, then opened in the window: what the
// script set is what the Config tab and the pager pages show.
#include <fstream>

#include "gui/seams/filedialog.h"
#include "core/config/configfile.h"
#include "datatabs.h"
#include "run_ctl.h"
#include "tempdir.h"

namespace {

using qm730::test::CtlRun;

class ScriptedEdit : public DataTabs {
protected:
    ScriptedEdit() { EXPECT_EQ(ctl("new " + path).status, 0); }

    CtlRun ctl(const std::string& arguments) { return qm730::test::runQm730ctl(dir.path().string(), arguments); }
    qm730::ConfigImage file() const {
        qm730::ConfigImage image;
        EXPECT_TRUE(qm730::loadTableFile(path, image).ok());
        return image;
    }
    void openInWindow() {
        FileDialog::clearRequests();
        FileDialog::setNextFileName(QString::fromStdString(path));
        form->Open1->trigger();
        FileDialog::clearRequests();
    }

    TempDir dir;
    const std::string path = dir.file("scripted.tbl");
};

TEST_F(ScriptedEdit, SettingsSetByNameShowInTheConfigTab) {
    ASSERT_TRUE(active);
    const CtlRun set = ctl("set -q " + path +
                           " uart_baud=19200bps Heartbeat=10minutes 'Baud=512 bps' 'Frequency=929.1 MHz'"
                           " Channel_space=10k Delay_byte_3=200 Invert_polarity=on Setup_password=1234567");
    ASSERT_EQ(set.status, 0) << set.err;
    openInWindow();
    form->unlockConfigTab();
    QApplication::processEvents();

    EXPECT_EQ(form->cboUARtBaud->currentText(), "19200 bps");
    EXPECT_EQ(form->cboHeartSet->currentText(), "10   Minutes");
    EXPECT_EQ(form->cboCBaud->currentText(), " 512  bps");
    EXPECT_EQ(form->edtFreq->text(), "9291000");
    EXPECT_EQ(form->cboCSpace->currentText(), "10k");
    EXPECT_EQ(form->lblPLLR->text(), "050A01");
    EXPECT_EQ(form->lblPLLN->text(), "05AB5C");  // 92,910 at 10 kHz: B = 1451, A = 46
    EXPECT_EQ(form->arrays().edtDelay[2]->text(), "200");
    EXPECT_TRUE(form->arrays().chkCtl[2]->isChecked());
    EXPECT_EQ(form->edtSPass->text(), "1234567");
    EXPECT_EQ(image().bytes(), file().bytes()) << "showing the file changed nothing";
}

TEST_F(ScriptedEdit, ImportedPagersShowOnTheirPages) {
    ASSERT_TRUE(active);
    std::ofstream(dir.file("p.csv")) << "Index,Address,FunBit,Type,Baud,Name,Group\n"
                                        "3,42,1 0,Tone,2400 bps,Ann Lee,12\n"
                                        "300,0500000,0  0,Numeric,1200 bps,,\n";
    const CtlRun import = ctl("pagers import -q " + path + " " + dir.file("p.csv"));
    ASSERT_EQ(import.status, 0) << import.err;
    openInWindow();
    const ControlArrays& a = rows();
    EXPECT_EQ(a.edtAddr[2]->text(), "0000042");
    EXPECT_EQ(a.cboFunc[2]->currentText(), "1  0");
    EXPECT_EQ(a.cboType[2]->currentText(), "Tone");
    EXPECT_EQ(a.cboBaud[2]->currentText(), "2400 bps");
    EXPECT_EQ(a.edtName[2]->text(), "Ann Lee");
    EXPECT_EQ(a.edtGroup[2]->text(), "12");
    EXPECT_TRUE(a.chkGroup[2]->isChecked());

    form->cboCapNo->setCurrentIndex(10);
    emit form->cboCapNo->activated(10);
    QApplication::processEvents();
    EXPECT_EQ(a.edtAddr[2]->text(), "0500000");
    EXPECT_EQ(a.cboType[2]->currentText(), "Numeric");
    form->NextC1->trigger();  // leaving the page rewrites every block from its row
    EXPECT_EQ(image().bytes(), file().bytes()) << "the imported block is what the page writes";
}

}  // namespace
