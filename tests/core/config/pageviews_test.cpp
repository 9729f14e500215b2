#include <gtest/gtest.h>

#include <cstring>

#include "core/config/integertext.h"
#include "core/config/pageviews.h"

using namespace qm730;

namespace {

class PageViews : public ::testing::Test {
protected:
    ConfigImage image = defaultImage();

    CapcodeRows loaded(int page) {
        CapcodeRows rows;
        loadCapcodePage(image, page, rows);
        return rows;
    }
};

}  // namespace

TEST_F(PageViews, RowsRoundTripThroughTheImage) {
    CapcodeRows rows = loaded(3);
    rows[2].funcBits = 2;
    rows[2].type = 1;
    rows[2].baud = 2;
    rows[2].address = "12345";
    rows[2].name = "Ann";
    rows[2].group = "7";
    ASSERT_EQ(storeCapcodePage(image, 3, rows), std::nullopt);
    EXPECT_TRUE(rows[2].groupChecked);

    const std::uint8_t* slot = image.capcodeSlot(22);
    EXPECT_EQ(std::memcmp(slot, "0012345", 7), 0);
    EXPECT_EQ(slot[7], 2);
    EXPECT_EQ(slot[8], 3);
    EXPECT_EQ(slot[9], 2);
    EXPECT_EQ(slot[21], 7);
    const CapcodeRows back = loaded(3);
    EXPECT_EQ(back[2].address, "0012345");
    EXPECT_EQ(back[2].name, "Ann");
    EXPECT_EQ(back[2].group, "7");
    EXPECT_TRUE(back[2].groupChecked && back[2].groupEnabled);
}

TEST_F(PageViews, UnselectedListLeavesTheByteAndOddBytesLoadAsNone) {
    std::uint8_t* slot = image.capcodeSlot(5);
    slot[7] = 0;
    slot[8] = 9;
    slot[9] = 4;
    CapcodeRows rows = loaded(1);
    EXPECT_EQ(rows[5].type, std::nullopt);
    EXPECT_EQ(rows[5].baud, std::nullopt);
    EXPECT_EQ(rows[5].funcBits, std::nullopt);
    ASSERT_EQ(storeCapcodePage(image, 1, rows), std::nullopt);
    EXPECT_EQ(slot[7], 0);
    EXPECT_EQ(slot[8], 9);
    EXPECT_EQ(slot[9], 4);
}

TEST_F(PageViews, EmptyGroupMeansNoGroupAndGroupTakesLowEightBits) {
    CapcodeRows rows = loaded(1);
    rows[0].group = "";
    rows[0].groupChecked = true;
    rows[1].group = "300";
    ASSERT_EQ(storeCapcodePage(image, 1, rows), std::nullopt);
    EXPECT_EQ(image.capcodeSlot(0)[21], 100);
    EXPECT_FALSE(rows[0].groupChecked);
    EXPECT_EQ(image.capcodeSlot(1)[21], 44);
}

TEST_F(PageViews, TextThatIsNoNumberStoresNothingAtAll) {
    CapcodeRows rows = loaded(1);
    rows[0].name = "Changed";
    rows[9].group = "12a";
    const ConfigImage before = image;
    const auto notice = storeCapcodePage(image, 1, rows);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->text, "'12a' is not a valid integer value.");
    EXPECT_EQ(notice->caption, "QM730");
    EXPECT_EQ(image.bytes(), before.bytes());

    CapcodeRows blocks = loaded(11);
    blocks[3].address = "4x";
    EXPECT_TRUE(storeCapcodePage(image, 11, blocks));
    EXPECT_EQ(image.bytes(), before.bytes());
}

TEST_F(PageViews, AnAddressIsWrittenOnlyAsOneToSevenDigits) {
    CapcodeRows rows = loaded(1);
    const char* refused[] = {"12a", "9x", "+15", "-3", "", " 123", "12345678"};
    for (int r = 0; r < 7; ++r) rows[r].address = refused[r];
    rows[7].address = "42";
    rows[8].address = "2097151";
    ASSERT_EQ(storeCapcodePage(image, 1, rows), std::nullopt);
    for (int r = 0; r < 7; ++r) {
        const std::string stored = std::to_string(1234560 + r);
        EXPECT_EQ(readAddress(image.capcodeSlot(r)), stored) << refused[r];
        EXPECT_EQ(rows[r].address, stored) << refused[r] << ": the row shows the stored address again";
    }
    EXPECT_EQ(std::memcmp(image.capcodeSlot(7), "0000042", 7), 0);
    EXPECT_EQ(std::memcmp(image.capcodeSlot(8), "2097151", 7), 0);
}

TEST_F(PageViews, ANameIsWrittenOverTheOldOneAndAnEmptiedNameSetsLengthZero) {
    std::memcpy(image.capcodeSlot(0) + 10, "\x08" "Longname", 9);
    std::memcpy(image.capcodeSlot(1) + 10, "\x03" "Old", 4);
    CapcodeRows rows = loaded(1);
    rows[0].name = "Bob";
    rows[1].name = "";
    rows[2].name = "ElevenChars";
    rows[3].name = "TenCharsAb";
    ASSERT_EQ(storeCapcodePage(image, 1, rows), std::nullopt);
    EXPECT_EQ(std::memcmp(image.capcodeSlot(0) + 10, "\x03" "Bobgname", 9), 0);
    EXPECT_EQ(image.capcodeSlot(1)[10], 0);
    EXPECT_EQ(readName(image.capcodeSlot(1)), "");
    EXPECT_EQ(readName(image.capcodeSlot(2)), "") << "a name of more than ten is not stored";
    EXPECT_EQ(readName(image.capcodeSlot(3)), "TenCharsAb");
    EXPECT_EQ(image.capcodeSlot(3)[21], capcode::kNoGroup) << "the group byte after the name";
}

// Bytes a board or an older file may hold that no load shows as they are.
void putOddBytes(ConfigImage& image) {
    std::memcpy(image.messageSlot(3), "\0ld text", 8);
    std::memcpy(image.messageSlot(4), "Long  \r\n", 9);
    std::memcpy(image.alarmRecord(2), "12\0X\0Hidden", 12);
    std::memcpy(image.alarmRecord(3), "\0\0\0\0", 4);  // no pager ID at all
    std::memcpy(image.capcodeSlot(5) + 10, "\x03" "AnnXYZ", 7);
    std::memcpy(image.capcodeSlot(6) + 10, "\x00" "Ghost", 6);
    for (std::uint8_t i = 0; i < 7; ++i) image.capcodeSlot(7)[i] = i + 1;
    image.capcodeSlot(8)[1] = 0x3A;
}

TEST_F(PageViews, StoringShownRowsUntouchedChangesNoByte) {
    putOddBytes(image);
    const ImageBytes before = image.bytes();
    CapcodeRows capcodes = loaded(1);
    MessageRows messages = loadMessagePage(image, 1);
    MessageRows lastMessages = loadMessagePage(image, 10);
    AlarmRows alarms = loadAlarmPage(image);
    EXPECT_EQ(lastMessages[9].text, "\x04");
    EXPECT_EQ(capcodes[8].address, "11034568");

    for (int round = 0; round < 2; ++round) {  // the second as after a save on the same page
        ASSERT_EQ(storeCapcodePage(image, 1, capcodes), std::nullopt);
        storeMessagePage(image, 1, messages);
        storeMessagePage(image, 10, lastMessages);
        EXPECT_TRUE(storeAlarmPage(image, alarms)) << "record 4 has no pager ID: still warned about";
        EXPECT_EQ(image.bytes(), before) << "round " << round;
    }
    EXPECT_EQ(capcodes[8].address, "11034568");
}

TEST_F(PageViews, OnlyAFieldThatShowedTextIsErasedByEmptyingIt) {
    putOddBytes(image);
    MessageRows messages = loadMessagePage(image, 1);
    AlarmRows alarms = loadAlarmPage(image);
    messages[0].text = "";
    messages[1].text = " \r\n";  // nothing left after trimming
    messages[3].text = "";        // showed nothing: the hidden bytes stay
    alarms[0].text = "";
    alarms[2].text = "";
    storeMessagePage(image, 1, messages);
    storeAlarmPage(image, alarms);

    const std::uint8_t zeros[64] = {};
    EXPECT_EQ(std::memcmp(image.messageSlot(0), zeros, 64), 0);
    EXPECT_EQ(std::memcmp(image.messageSlot(1), zeros, 64), 0);
    EXPECT_EQ(std::memcmp(image.messageSlot(3), "\0ld text", 8), 0);
    EXPECT_EQ(std::memcmp(image.alarmRecord(0) + 4, zeros, 60), 0);
    EXPECT_EQ(std::memcmp(image.alarmRecord(2) + 4, "\0Hidden", 7), 0);

    // A text put back as it was after a store is an edit like any other.
    messages[2].text = "Changed";
    storeMessagePage(image, 1, messages);
    messages[2].text = "No.3 ppg message";
    storeMessagePage(image, 1, messages);
    EXPECT_EQ(readMessage(image.messageSlot(2)), "No.3 ppg message");
}

TEST_F(PageViews, BlockPageRegeneratesEveryBlockOfAHundred) {
    CapcodeRows rows = loaded(11);
    EXPECT_EQ(rows[0].address, "0000100");
    EXPECT_EQ(rows[8].address, "0000000");  // slot 899, never written
    EXPECT_EQ(rows[8].type, std::nullopt);
    EXPECT_FALSE(rows[0].nameEnabled);
    EXPECT_FALSE(rows[0].groupBoxEnabled);
    EXPECT_EQ(rows[0].name, "");  // names keep whatever the rows held

    image.capcodeSlot(450)[21] = 5;
    writeName(image.capcodeSlot(450), "Kept");
    rows[3].type = 1;  // row labelled 400: "Numeric"
    rows[7].address = "2099999";
    ASSERT_EQ(storeCapcodePage(image, 11, rows), std::nullopt);

    for (std::size_t s = 399; s <= 498; ++s) {
        EXPECT_EQ(image.capcodeSlot(s)[7], 2) << s;
        char expected[8];
        std::snprintf(expected, sizeof expected, "%07zu", 400 + (s - 399));
        EXPECT_EQ(readAddress(image.capcodeSlot(s)), expected);
    }
    EXPECT_EQ(image.capcodeSlot(450)[21], 100);
    EXPECT_EQ(readName(image.capcodeSlot(450)), "Kept");
    EXPECT_EQ(image.capcodeSlot(498 + 1)[7], 1);  // next block keeps its own type
    EXPECT_EQ(readAddress(image.capcodeSlot(799)), "2099999");
    EXPECT_EQ(readAddress(image.capcodeSlot(898)), "2100098");
    EXPECT_EQ(image.capcodeSlot(899)[7], 0);  // outside the eight blocks
}

TEST_F(PageViews, MessagesAreTrimmedAtTheEndAndZeroFilled) {
    MessageRows rows = loadMessagePage(image, 1);
    rows[0].text = std::string(30, 'x');
    storeMessagePage(image, 1, rows);
    rows[0].text = "Hello  \r\n";
    rows[2].text = std::string(60, 'y');
    rows[3].text = std::string(61, 'z');
    storeMessagePage(image, 1, rows);

    EXPECT_EQ(std::memcmp(image.messageSlot(0), "Hello\0\0", 7), 0);
    for (int i = 5; i < 64; ++i) EXPECT_EQ(image.messageSlot(0)[i], 0) << i;
    const MessageRows back = loadMessagePage(image, 1);
    EXPECT_EQ(back[0].text, "Hello");
    EXPECT_EQ(back[2].text, std::string(60, 'y'));
    EXPECT_EQ(back[3].text, "No.4 ppg message");
}

TEST_F(PageViews, AlarmTextIsKeptAsTypedAndBadPagerIdWarnsButTextIsStored) {
    AlarmRows rows = loadAlarmPage(image);
    EXPECT_EQ(rows[0].pagerId, "101");
    EXPECT_EQ(rows[0].text, "Contact 1");
    rows[0].pagerId = "7";
    rows[0].text = "Fire  ";
    rows[1].pagerId = "";
    rows[1].text = "Flood";
    rows[2].pagerId = "12345";
    rows[3].text = std::string(60, 'a');
    const auto notice = storeAlarmPage(image, rows);
    ASSERT_TRUE(notice);
    EXPECT_EQ(*notice, (Notice{"PagerID More then 4 Characters!", "Warning!", NoticeButtons::RetryCancel,
                               NoticeIcon::Stop}));
    EXPECT_EQ(rows[1].pagerId, "") << "the warned-about ID stays on show";

    const AlarmRows back = loadAlarmPage(image);
    EXPECT_EQ(back[0].pagerId, "7");
    EXPECT_EQ(back[0].text, "Fire  ");
    EXPECT_EQ(std::memcmp(image.alarmRecord(0), "7\0\0\0", 4), 0);
    EXPECT_EQ(back[1].pagerId, "102");
    EXPECT_EQ(back[1].text, "Flood");
    EXPECT_EQ(back[2].pagerId, "103");
    EXPECT_EQ(back[3].text, "Contact 4");
}

TEST_F(PageViews, APagerIdThatIsNotDigitsKeepsTheStoredOne) {
    AlarmRows rows = loadAlarmPage(image);
    const char* refused[] = {"1a", "+5", "-1", "1 2"};
    for (int j = 0; j < 4; ++j) rows[j].pagerId = refused[j];
    rows[4].pagerId = "0999";
    EXPECT_EQ(storeAlarmPage(image, rows), std::nullopt);
    for (int j = 0; j < 4; ++j) {
        const std::string stored = "10" + std::to_string(j + 1);
        EXPECT_EQ(readPagerId(image.alarmRecord(j)), stored) << refused[j];
        EXPECT_EQ(rows[j].pagerId, stored) << refused[j] << ": the row shows the stored ID again";
    }
    EXPECT_EQ(readPagerId(image.alarmRecord(4)), "0999");
}

TEST(NotANumberNotice, QuotesTheTypedTextReadably) {
    EXPECT_EQ(notAnIntegerNotice("4x").text, "'4x' is not a valid integer value.");
    EXPECT_EQ(notAnIntegerNotice("1\xE9\xFF").text, "'1\xC3\xA9\xC3\xBF' is not a valid integer value.")
        << "Latin-1 letters as UTF-8";
    EXPECT_EQ(notAnIntegerNotice("2\x01\x7F\x85").text, "'2\\x01\\x7F\\x85' is not a valid integer value.")
        << "control characters spelt out";
}
