// Page views through the widgets: what a store writes, what a load shows,
// page 11's blocks, and the six paging commands with their captions,
// selectors, row labels and the spare rows of page 11.

#include <cstring>

#include "core/config/integertext.h"
#include "datatabs.h"

namespace {

using namespace qm730;

// The bytes that differ between two images, "offset: old -> new", at most a few.
std::string changedBytes(const ImageBytes& before, const ImageBytes& after) {
    std::string changes;
    int listed = 0;
    for (std::size_t i = 0; i < before.size() && listed < 8; ++i) {
        if (before[i] == after[i]) continue;
        char line[40];
        std::snprintf(line, sizeof line, "0x%04zX: %02X -> %02X; ", i, before[i], after[i]);
        changes += line;
        ++listed;
    }
    return changes;
}

class Pages : public DataTabs {
protected:
    QString capcodeCaption() const { return form->pacCapMsg->tabText(form->pacCapMsg->indexOf(form->TabSheet1)); }
    QString messageCaption() const { return form->pacCapMsg->tabText(form->pacCapMsg->indexOf(form->TabSheet3)); }

    // The operator picks the last entry of a selector with the keyboard.
    static void chooseLast(QComboBox* list) {
        list->setFocus();
        QTest::keyClick(list, Qt::Key_End);
        QApplication::processEvents();
    }
};

TEST_F(Pages, AStoredRowReachesItsSlotAndComesBack) {
    const ControlArrays& a = rows();
    a.edtAddr[2]->setText("1234");
    a.cboFunc[2]->setCurrentIndex(3);
    a.cboType[2]->setCurrentIndex(1);
    a.cboBaud[2]->setCurrentIndex(2);
    a.edtName[2]->setText("Bob");
    a.edtGroup[2]->setText("263");  // only the low eight bits fit
    form->NextC1->trigger();

    EXPECT_EQ(storedAddress(2), "0001234");
    EXPECT_EQ(slotByte(2, capcode::kFuncBits), 3);
    EXPECT_EQ(slotByte(2, capcode::kType), 2);
    EXPECT_EQ(slotByte(2, capcode::kBaud), 3);
    EXPECT_EQ(readName(image().capcodeSlot(2)), "Bob");
    EXPECT_EQ(slotByte(2, capcode::kGroup), 7);
    EXPECT_EQ(slotByte(4, capcode::kGroup), capcode::kNoGroup);
    EXPECT_EQ(a.edtAddr[0]->text(), "1234570") << "page 2 shows records 11 to 20";

    form->BeforeC1->trigger();
    EXPECT_EQ(a.edtAddr[2]->text(), "0001234");
    EXPECT_EQ(a.cboFunc[2]->currentText(), "1  1");
    EXPECT_EQ(a.cboType[2]->currentText(), "Numeric");
    EXPECT_EQ(a.cboBaud[2]->currentText(), "2400 bps");
    EXPECT_EQ(a.edtName[2]->text(), "Bob");
    EXPECT_EQ(a.edtGroup[2]->text(), "7");
    EXPECT_TRUE(a.edtGroup[2]->isEnabled() && a.chkGroup[2]->isChecked());
    EXPECT_TRUE(MessageBox::shown().empty());
}

TEST_F(Pages, AGroupThatIsNoNumberStoresNothingAndKeepsThePage) {
    const ControlArrays& a = rows();
    a.edtAddr[0]->setText("0000042");
    a.edtGroup[1]->setText("1x");
    const ImageBytes before = image().bytes();
    form->NextC1->trigger();
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown()[0], notANumberBox("1x"));
    EXPECT_EQ(image().bytes(), before);
    EXPECT_EQ(form->capcodePage(), 1);
    EXPECT_EQ(a.edtAddr[0]->text(), "0000042") << "the edits stay on screen";

    chooseLast(form->cboCapNo);
    EXPECT_EQ(form->capcodePage(), 1);
    EXPECT_EQ(form->cboCapNo->currentIndex(), 0) << "the selector still names the shown page";
}

TEST_F(Pages, PageElevenRegeneratesTheBlocksBehindItsRows) {
    const ControlArrays& a = rows();
    chooseLast(form->cboCapNo);
    ASSERT_EQ(form->capcodePage(), 11);
    EXPECT_EQ(capcodeCaption(), "DataBase100 -- 899");
    EXPECT_EQ(a.labIndex[0]->text(), "100");
    EXPECT_EQ(a.labIndex[7]->text(), "800");
    EXPECT_EQ(a.labIndex[8]->text(), "9") << "the spare rows keep their labels";
    for (int r : {8, 9}) {
        EXPECT_FALSE(a.labIndex[r]->isEnabled());
        EXPECT_FALSE(a.edtAddr[r]->isEnabled());
        EXPECT_FALSE(a.cboType[r]->isEnabled());
    }
    EXPECT_FALSE(a.edtName[0]->isEnabled());
    EXPECT_FALSE(a.chkGroup[0]->isEnabled());

    // Row "400" stands for records 400..499, slots 399..498.
    a.cboType[3]->setCurrentIndex(1);
    a.edtAddr[3]->setText("2099999");
    image().capcodeSlot(498)[capcode::kGroup] = 5;
    form->NextC1->trigger();
    EXPECT_EQ(form->capcodePage(), 1);
    for (std::size_t k : {399u, 498u}) {
        EXPECT_EQ(slotByte(k, capcode::kType), 2) << k;
        EXPECT_EQ(slotByte(k, capcode::kGroup), capcode::kNoGroup) << k;
    }
    EXPECT_EQ(storedAddress(498), "2100098");
    EXPECT_EQ(slotByte(499, capcode::kType), 1) << "the next block keeps its own row's type";
    EXPECT_TRUE(a.labIndex[8]->isEnabled() && a.edtAddr[9]->isEnabled() && a.edtName[0]->isEnabled());
    EXPECT_EQ(capcodeCaption(), "Pager DataBase1");
}

TEST_F(Pages, CapcodeCommandsFromMenuToolBarAndSelector) {
    const ControlArrays& a = rows();
    EXPECT_EQ(capcodeCaption(), "Pager DataBase") << "plain until the first paging command";
    form->BeforeC1->trigger();
    EXPECT_EQ(form->capcodePage(), 1) << "no wrap below page 1";
    EXPECT_EQ(capcodeCaption(), "Pager DataBase1");

    showTab(form->TabSheet3);
    toolButton(1)->click();  // "CapCode Next Page"
    EXPECT_EQ(form->capcodePage(), 2);
    EXPECT_EQ(form->pacCapMsg->currentWidget(), form->TabSheet1);
    EXPECT_EQ(form->cboCapNo->currentIndex(), 1);
    EXPECT_EQ(a.labIndex[9]->text(), "20");

    toolButton(0)->click();  // "CapCode Before Page"
    EXPECT_EQ(form->capcodePage(), 1);
    form->cboCapNo->setCurrentIndex(9);  // page 10 chosen
    emit form->cboCapNo->activated(9);
    form->NextC1->trigger();
    EXPECT_EQ(capcodeCaption(), "DataBase100 -- 799");
    EXPECT_EQ(form->cboCapNo->currentIndex(), 10);
}

TEST_F(Pages, MessageCommandsWrapBothWays) {
    const ControlArrays& a = rows();
    a.memMsg[0]->setPlainText("Gate open  \n\n");
    toolButton(6)->click();  // "Message Before Page": before 1 comes 10
    EXPECT_EQ(readMessage(image().messageSlot(0)), "Gate open") << "trailing blanks and line ends are cut";
    EXPECT_EQ(form->messagePage(), 10);
    EXPECT_EQ(messageCaption(), "PPG Message10");
    EXPECT_EQ(form->cboMesNo->currentIndex(), 9);
    EXPECT_EQ(a.labMIndex[9]->text(), "100");
    EXPECT_EQ(form->pacCapMsg->currentWidget(), form->TabSheet3);

    form->NextM1->trigger();
    EXPECT_EQ(form->messagePage(), 1);
    toolButton(7)->click();
    EXPECT_EQ(form->messagePage(), 2);
    form->BeforeM1->trigger();
    EXPECT_EQ(form->messagePage(), 1);
    a.memMsg[3]->setPlainText("Chosen away");
    chooseLast(form->cboMesNo);
    EXPECT_EQ(form->messagePage(), 10);
    EXPECT_EQ(readMessage(image().messageSlot(3)), "Chosen away") << "the selector stores the page it leaves";
}

TEST_F(Pages, ShowingLeavingAndSavingPagesChangesNoByteNobodyEdited) {
    ASSERT_TRUE(active);
    ConfigImage& im = image();
    // Contents a board or an older file may hold, next to message slot 99's
    // single byte 4.
    std::memcpy(im.messageSlot(3), "\0ld text", 8);             // hidden behind a zero byte
    std::memcpy(im.messageSlot(4), "One\r\nTwo\xA0three", 15);  // the memo shows "\n" and a blank
    std::memcpy(im.alarmRecord(2), "12\0X\0Hidden", 12);        // stray ID byte, hidden text
    std::memcpy(im.capcodeSlot(5) + capcode::kNameLength, "\x03" "AnnXYZ", 7);
    std::memcpy(im.capcodeSlot(16) + capcode::kNameLength, "\x00" "Ghost", 6);
    for (std::uint8_t i = 0; i < 7; ++i) im.capcodeSlot(27)[i] = i + 1;  // raw digit values
    im.capcodeSlot(38)[1] = 0x3A;  // reads as two digits: an eight-digit address
    form->loadCapcodePage(1);
    form->loadMessagePage(1);
    form->loadAlarmPage();
    const ImageBytes before = im.bytes();

    form->BeforeM1->trigger();  // page 10 ends with slot 99
    form->Save1->trigger();     // the dialog is cancelled; the pages are stored all the same
    toolButton(7)->click();
    for (int i = 0; i < 9; ++i) form->NextC1->trigger();
    for (int i = 0; i < 9; ++i) toolButton(0)->click();
    showTab(form->TabSheet4);
    focus(rows().memAMsg[0]);
    form->moveFocusToSink();
    form->Save1->trigger();

    EXPECT_EQ(form->capcodePage(), 1);
    EXPECT_EQ(changedBytes(before, im.bytes()), "");
    EXPECT_EQ(rows().memMsg[4]->toPlainText(), "One\nTwo three");
    EXPECT_TRUE(MessageBox::shown().empty());
}

TEST_F(Pages, EditedTextsAreWrittenAndAnEmptiedFieldErasesItsSlot) {
    ASSERT_TRUE(active);
    const ControlArrays& a = rows();
    std::memcpy(image().capcodeSlot(2) + capcode::kNameLength, "\x08" "Longname\0\0", 11);
    std::memcpy(image().capcodeSlot(3) + capcode::kNameLength, "\x03" "Kim", 4);
    form->loadCapcodePage(1);

    a.edtName[2]->setText("Bob");
    a.edtName[3]->clear();
    a.memMsg[1]->clear();
    a.memMsg[2]->setPlainText("Short");
    a.memAMsg[1]->clear();
    form->NextC1->trigger();
    form->NextM1->trigger();
    form->Save1->trigger();

    EXPECT_EQ(std::memcmp(image().capcodeSlot(2) + capcode::kNameLength, "\x03" "Bobgname\0\0", 11), 0)
        << "the bytes after the new name keep what they held";
    EXPECT_EQ(slotByte(3, capcode::kNameLength), 0);
    EXPECT_EQ(readName(image().capcodeSlot(3)), "");
    const std::uint8_t zeros[64] = {};
    EXPECT_EQ(std::memcmp(image().messageSlot(1), zeros, 64), 0) << "an emptied message clears its slot";
    EXPECT_EQ(std::memcmp(image().messageSlot(2), "Short\0", 6), 0);
    EXPECT_EQ(std::memcmp(image().messageSlot(2) + 5, zeros, 59), 0);
    EXPECT_EQ(readPagerId(image().alarmRecord(1)), "102");
    EXPECT_EQ(std::memcmp(image().alarmRecord(1) + 4, zeros, 60), 0) << "an emptied alarm text clears it";

    form->BeforeC1->trigger();
    EXPECT_EQ(a.edtName[2]->text(), "Bob");
    EXPECT_EQ(a.edtName[3]->text(), "");
}

TEST_F(Pages, AnAddressOrPagerIdThatIsNoNumberNeverReachesTheImage) {
    ASSERT_TRUE(active);
    const ControlArrays& a = rows();
    a.edtAddr[0]->setText("12a");  // typed, but no field was left
    toolButton(1)->click();        // "CapCode Next Page"
    EXPECT_EQ(storedAddress(0), "1234560");
    EXPECT_EQ(form->capcodePage(), 2);
    a.edtAddr[1]->setText("+15");
    a.edtAddr[2]->setText("");
    form->BeforeC1->trigger();
    EXPECT_EQ(storedAddress(11), "1234571");
    EXPECT_EQ(storedAddress(12), "1234572");
    EXPECT_EQ(a.edtAddr[0]->text(), "1234560");

    focus(a.edtAddr[3]);
    a.edtAddr[3]->setText("9x");
    focus(a.edtAddr[4]);
    ASSERT_EQ(MessageBox::shown(), std::vector<Notice>{plainNotice("Please Input Decimal!")});
    ASSERT_EQ(QApplication::focusWidget(), a.edtAddr[3]);
    a.edtPagerID[0]->setText("1a");
    a.edtAddr[5]->setText("0000042");
    form->Save1->trigger();
    EXPECT_EQ(storedAddress(3), "1234563");
    EXPECT_EQ(a.edtAddr[3]->text(), "1234563") << "the row shows the stored address again";
    EXPECT_EQ(storedAddress(5), "0000042") << "the rest of the page is stored";
    EXPECT_EQ(readPagerId(image().alarmRecord(0)), "101");
    EXPECT_EQ(a.edtPagerID[0]->text(), "101");
}

TEST_F(Pages, AQuotedTextShowsItsLatinOneCharacters) {
    rows().edtGroup[1]->setText(QString::fromUtf8("1\u00e9"));
    form->NextC1->trigger();
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    // The box shows the notice's text as UTF-8; an invalid sequence would
    // come back as the replacement mark.
    EXPECT_EQ(QString::fromStdString(MessageBox::shown()[0].text).toUtf8().toStdString(),
              "'1\xC3\xA9' is not a valid integer value.");
}

TEST_F(Pages, LeavingTheAlarmTabStoresItsPage) {
    ASSERT_TRUE(active);
    const ControlArrays& a = rows();
    showTab(form->TabSheet4);
    focus(a.memAMsg[1]);
    a.memAMsg[1]->setPlainText("Door  ");
    a.edtPagerID[2]->setText("12");
    a.edtPagerID[3]->clear();
    const std::string oldId = readPagerId(image().alarmRecord(3));
    a.memAMsg[3]->setPlainText("Fire");
    form->moveFocusToSink();

    EXPECT_EQ(readAlarmText(image().alarmRecord(1)), "Door") << "the field's own rule trimmed it first";
    EXPECT_EQ(readPagerId(image().alarmRecord(2)), "12");
    EXPECT_EQ(readPagerId(image().alarmRecord(3)), oldId) << "an empty pager ID is not stored";
    EXPECT_EQ(readAlarmText(image().alarmRecord(3)), "Fire") << "the row's text is stored all the same";
    ASSERT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(MessageBox::shown()[0], warningBox("PagerID More then 4 Characters!"));

    MessageBox::clearShown();
    a.memAMsg[0]->setPlainText("Not stored");
    showTab(form->TabSheet1);
    focus(a.edtAddr[0]);
    focus(a.edtAddr[1]);  // the focus was never in the alarm tab
    EXPECT_EQ(readAlarmText(image().alarmRecord(0)), "Contact 1");
}

}  // namespace
