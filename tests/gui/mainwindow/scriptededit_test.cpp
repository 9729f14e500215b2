// A table file edited by script, then opened in the window: what the script
// set is what the Config tab and the pager pages show.
#include <QTemporaryDir>

#include "gui/seams/filedialog.h"
#include "core/config/configfile.h"
#include "core/config/pagertable.h"
#include "core/config/settingkeys.h"
#include "datatabs.h"

namespace {

class ScriptedEdit : public DataTabs {
protected:
    void openInWindow(const qm730::ConfigImage& file) {
        const QString path = dir.filePath("scripted.tbl");
        ASSERT_TRUE(qm730::saveTableFile(path.toStdString(), file).ok());
        FileDialog::clearRequests();
        FileDialog::setNextFileName(path);
        form->Open1->trigger();
        FileDialog::clearRequests();
    }
    QTemporaryDir dir;
};

TEST_F(ScriptedEdit, SettingsSetByNameShowInTheConfigTab) {
    ASSERT_TRUE(active);
    qm730::ConfigImage file = qm730::defaultImage();
    const std::vector<qm730::SettingAssignment> settings{
        {"uart_baud", "19200bps"}, {"Heartbeat", "10minutes"},  {"Baud", "512 bps"},
        {"Frequency", "929.1 MHz"}, {"Channel_space", "10k"},  {"Delay_byte_3", "200"},
        {"Invert_polarity", "on"},  {"Setup_password", "1234567"}};
    ASSERT_TRUE(qm730::applySettings(file, settings).empty());
    openInWindow(file);
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
    EXPECT_EQ(image().bytes(), file.bytes()) << "showing the file changed nothing";
}

TEST_F(ScriptedEdit, ImportedPagersShowOnTheirPages) {
    ASSERT_TRUE(active);
    qm730::ConfigImage file = qm730::defaultImage();
    const auto result = qm730::importPagers(file,
                                            "Index,Address,FunBit,Type,Baud,Name,Group\n"
                                            "3,42,1 0,Tone,2400 bps,Ann Lee,12\n"
                                            "300,0500000,0  0,Numeric,1200 bps,,\n");
    ASSERT_TRUE(result.problems.empty());
    openInWindow(file);
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
    EXPECT_EQ(image().bytes(), file.bytes()) << "the imported block is what the page writes";
}

}  // namespace
