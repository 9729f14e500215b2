// The Config tab and the frequency controls driven through their widgets:
// what each rule writes into the image, and what Load Config view shows.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "gui/seams/filedialog.h"
#include "core/config/configfile.h"
#include "guitest.h"

namespace {

using qm730::Notice;
using qm730::NoticeButtons;
using qm730::NoticeIcon;

const Notice kFrequencyError{"Please insert a correct frequency  !", "Warning!", NoticeButtons::Ok, NoticeIcon::Stop};
const Notice kNumericError{"Please insert a numeric !", "QM730", NoticeButtons::Ok, NoticeIcon::Exclamation};

class ConfigTab : public ::testing::Test, protected MainWindowFixture {
protected:
    ConfigTab() {
        form->unlockConfigTab();
        QApplication::processEvents();
    }

    qm730::ConfigImage& image() { return form->config().image; }
    QLineEdit* delay(int tag) const { return form->arrays().edtDelay[tag]; }
    QCheckBox* status(int tag) const { return form->arrays().chkCtl[tag]; }

    void leave() { focus(form->Edit1); }
    // Clicks into the field, replaces its text by typing, and leaves it.
    void enter(QLineEdit* field, const QString& text) {
        focus(field);
        field->selectAll();
        QTest::keyClicks(field, text);
        leave();
    }
    void paste(QLineEdit* field, const QString& text) {
        field->setText(text);
        focus(field);
        leave();
    }
    static void choose(QComboBox* list, int index) {
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    std::uint32_t storedN() const { return form->config().image.read24(0x09); }
};

// The words themselves are the PLL rules' business; here they reach the labels
// and the image.
TEST_F(ConfigTab, FrequencyAndSpacingGiveThePllWords) {
    ASSERT_TRUE(active);
    enter(form->edtFreq, "9291000");
    EXPECT_EQ(form->lblPLLN->text(), "048930");
    EXPECT_EQ(storedN(), 0x048930u);

    enter(form->edtFreq, "4545000");
    choose(form->cboCSpace, 1);
    EXPECT_EQ(form->lblPLLR->text(), "050A01");
    EXPECT_EQ(image().read24(0x05), 0x050A01u);
    EXPECT_EQ(form->lblPLLN->text(), "02C614");
    EXPECT_EQ(image()[0x0C], 0x30);
    choose(form->cboCSpace, 0);
    EXPECT_EQ(form->lblPLLR->text(), "050801");
    EXPECT_TRUE(MessageBox::shown().empty());
}

TEST_F(ConfigTab, FrequencyFieldEmptiesOnEntryAndLeftEmptyShowsTheStoredValue) {
    focus(form->edtFreq);
    EXPECT_EQ(form->edtFreq->text(), "");
    leave();
    EXPECT_EQ(form->edtFreq->text(), "4545000");
    EXPECT_TRUE(MessageBox::shown().empty());
}

// 454.5125 MHz lies on the 12.5 kHz raster but not on the 10 kHz one.
TEST_F(ConfigTab, SpacingChangeLeavesNoNWordOfTheOtherSpacing) {
    enter(form->edtFreq, "4545125");
    MessageBox::clearShown();

    choose(form->cboCSpace, 1);
    QApplication::processEvents();
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown().front(), kFrequencyError);
    EXPECT_EQ(QApplication::focusWidget(), form->edtFreq);
    EXPECT_EQ(storedN(), 0x023812u);

    leave();  // leaving it empty is no way out
    EXPECT_EQ(MessageBox::shown().size(), 2u);
    EXPECT_EQ(QApplication::focusWidget(), form->edtFreq);
    EXPECT_EQ(form->edtFreq->text(), "4545125");

    form->edtFreq->selectAll();
    QTest::keyClicks(form->edtFreq, "4545000");
    leave();
    EXPECT_EQ(MessageBox::shown().size(), 2u);
    EXPECT_EQ(form->lblPLLN->text(), "02C614");
    EXPECT_EQ(storedN(), 0x02C614u);
}

TEST_F(ConfigTab, NumericFieldsTakeDigitsOnly) {
    focus(delay(1));
    delay(1)->selectAll();
    QTest::keyClicks(delay(1), "4a2");
    QTest::keyClick(delay(1), Qt::Key_Return);
    EXPECT_EQ(delay(1)->text(), "42");
    EXPECT_EQ(QApplication::focusWidget(), delay(1));
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown().front(), kNumericError);

    QTest::keyClicks(form->edtFreq, "x");
    EXPECT_EQ(MessageBox::shown().size(), 2u);
}

// Each field writes its own byte; the text is pasted, past the typed limit.
TEST_F(ConfigTab, ByteFieldsStoreTheLowEightBitsAtTheirOwnOffset) {
    const struct { QLineEdit* field; const char* text; std::size_t offset; int stored; } cases[] = {
        {delay(3), "999", 0x03, 231}, {delay(0), "256", 0x00, 0}, {form->edtPreamble, "300", 0x10, 44},
        {form->edtRangTDur, "", 0x0E, 10}};  // left empty: nothing stored
    qm730::ConfigImage expected = image();
    for (const auto& c : cases) {
        paste(c.field, c.text);
        expected[c.offset] = static_cast<std::uint8_t>(c.stored);
    }
    EXPECT_EQ(image().bytes(), expected.bytes());
    EXPECT_EQ(form->edtRangTDur->text(), "");
    EXPECT_TRUE(MessageBox::shown().empty());

    // Too large for an integer: told, nothing stored, the stored value shown again.
    paste(form->edtRangTDur, "99999999999");
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown().front().text, "'99999999999' is not a valid integer value.");
    EXPECT_EQ(image().bytes(), expected.bytes());
    EXPECT_EQ(form->edtRangTDur->text(), "10");
}

TEST_F(ConfigTab, PasswordsAreStoredOnlyAtTheirFullLength) {
    enter(form->edtFPass, "123");
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown().front().caption, "Warning!");
    EXPECT_EQ(form->edtFPass->text(), "8294");

    enter(form->edtFPass, "1234");
    enter(form->edtSPass, "7654321");
    EXPECT_EQ(qm730::readDigits(image().data() + 0x1A, 4), "1234");
    EXPECT_EQ(qm730::readDigits(image().data() + 0x1F, 7), "7654321");
    EXPECT_EQ(MessageBox::shown().size(), 1u);
}

TEST_F(ConfigTab, StatusBoxesChangeOnlyTheirOwnBits) {
    image()[0x0C] = 0xC2;  // bits 1, 6, 7 belong to no control
    status(2)->click();  // "Invert Polarity"
    EXPECT_EQ(image()[0x0C], 0xCA);

    // Leaving the group rewrites bits 0, 2, 3, 4 from the boxes and bit 5 from
    // the spacing box; the others stay.
    image()[0x0C] = 0xC2 | 0x20;
    focus(status(0));
    focus(delay(0));
    EXPECT_EQ(image()[0x0C], 0xDA);
}

TEST_F(ConfigTab, ListsStoreTheirCodes) {
    struct Case { QComboBox* list; int item; std::size_t offset; int code; };
    const Case cases[] = {
        {form->cboHeartSet, 10, 0x2A, 10}, {form->cboCBaud, 0, 0x2B, 1}, {form->cboPType, 1, 0x2E, 2},
        {form->cboPBaud, 0, 0x2D, 1},      {form->cboTAPS, 9, 0x29, 9},
    };
    for (const Case& c : cases) {
        const qm730::ConfigImage before = image();
        choose(c.list, c.item);
        qm730::ConfigImage expected = before;
        expected[c.offset] = static_cast<std::uint8_t>(c.code);
        EXPECT_EQ(image().bytes(), expected.bytes()) << c.list->objectName().toStdString();
    }
}

TEST(ConfigTabLocked, ShowsItsDesignContentsUntilUnlocked) {
    MainWindowFixture f;
    const int index = f.form->pacCapMsg->indexOf(f.form->TabSheet2);
    EXPECT_EQ(f.form->arrays().edtDelay[0]->text(), "111");
    EXPECT_FALSE(f.form->TabSheet2->isEnabled());
    f.form->unlockConfigTab();
    EXPECT_EQ(f.form->arrays().edtDelay[0]->text(), "10");
    EXPECT_EQ(f.form->pacCapMsg->currentIndex(), index);
    EXPECT_TRUE(f.form->TabSheet2->isEnabled());
    EXPECT_TRUE(f.form->TabSheet2->isVisible());
    EXPECT_FALSE(f.form->pacCapMsg->isTabVisible(index));
}

// A table file with a setting in every field, some deliberately
// inconsistent, opened through File > Open.
TEST_F(ConfigTab, OpeningAFileShowsItsSystemBlockWithoutRunningTheListRules) {
    qm730::ConfigImage file = qm730::defaultImage();
    const std::pair<std::size_t, std::uint8_t> settings[] = {
        {0x00, 1},   {0x02, 250}, {0x10, 7},   {0x0E, 200}, {0x27, 5}, {0x28, 0},
        {0x29, 9},   {0x2A, 10},  {0x2B, 3},   {0x2D, 1},
        {0x2E, 9},                 // matches no POCSAG type
        {0x0C, 0xA9},              // bits 0, 3, 5 and the foreign bit 7
    };
    for (const auto& [offset, value] : settings) file[offset] = value;
    file.write24(0x09, 0x048930);  // the R word stays 12.5k's although bit 5 says 10k
    for (std::size_t i = 0; i < 7; ++i) file[0x12 + i] = static_cast<std::uint8_t>("9291000"[i]);
    for (std::size_t i = 0; i < 4; ++i) file[0x1A + i] = static_cast<std::uint8_t>("4321"[i]);

    QTemporaryDir dir;
    const QString path = dir.filePath("site.tbl");
    ASSERT_TRUE(qm730::saveTableFile(path.toStdString(), file).ok());
    FileDialog::clearRequests();
    FileDialog::setNextFileName(path);
    form->Open1Click(form->Open1);

    const std::pair<QLineEdit*, const char*> fields[] = {
        {delay(0), "1"},        {delay(2), "250"},        {form->edtPreamble, "7"}, {form->edtRangTDur, "200"},
        {form->edtFPass, "4321"}, {form->edtSPass, "6180452"}, {form->edtFreq, "9291000"}};
    for (const auto& [field, text] : fields) EXPECT_EQ(field->text(), text) << field->objectName().toStdString();
    EXPECT_EQ(form->lblPLLR->text(), "050801");
    EXPECT_EQ(form->lblPLLN->text(), "048930");
    const std::pair<QComboBox*, const char*> lists[] = {
        {form->cboUARtBaud, "19200 bps"},   {form->cboUARtData, "7,E,1"}, {form->cboTAPS, "SCOPE"},
        {form->cboHeartSet, "10   Minutes"}, {form->cboCBaud, "2400 bps"}, {form->cboPBaud, "512  bps"}};
    for (const auto& [list, text] : lists) EXPECT_EQ(list->currentText(), text) << list->objectName().toStdString();
    EXPECT_EQ(form->cboPType->currentIndex(), -1);
    EXPECT_EQ(form->cboCSpace->currentIndex(), 1);
    const bool checks[] = {status(0)->isChecked(), status(1)->isChecked(), status(2)->isChecked(), status(3)->isChecked()};
    EXPECT_EQ(std::vector<bool>(checks, checks + 4), (std::vector<bool>{true, false, true, false}));
    // No rule rewrote anything: the image is the file, inconsistencies included.
    EXPECT_EQ(image().bytes(), file.bytes());
}

}  // namespace
