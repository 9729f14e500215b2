#include <gtest/gtest.h>

#include <cstring>

#include "config/pageviews.h"

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
    rows[2] = {2, 1, 2, "12345", "Ann", "7", false, false, true, true};
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

TEST_F(PageViews, LongAddressOrNameIsNotStoredAndEmptyNameClears) {
    writeName(image.capcodeSlot(0), "Old");
    CapcodeRows rows = loaded(1);
    rows[0].address = "12345678";
    rows[0].name = "";
    rows[1].name = "ElevenChars";
    ASSERT_EQ(storeCapcodePage(image, 1, rows), std::nullopt);
    EXPECT_EQ(readAddress(image.capcodeSlot(0)), "1234560");
    EXPECT_EQ(image.capcodeSlot(0)[10], 0);
    for (int i = 11; i <= 20; ++i) EXPECT_EQ(image.capcodeSlot(0)[i], 0) << i;
    EXPECT_EQ(readName(image.capcodeSlot(1)), "");
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
    rows[0] = std::string(30, 'x');
    storeMessagePage(image, 1, rows);
    rows[0] = "Hello  \r\n";
    rows[1] = "";
    rows[2] = std::string(60, 'y');
    rows[3] = std::string(61, 'z');
    storeMessagePage(image, 1, rows);

    EXPECT_EQ(std::memcmp(image.messageSlot(0), "Hello\0\0", 7), 0);
    for (int i = 5; i < 64; ++i) EXPECT_EQ(image.messageSlot(0)[i], 0) << i;
    const MessageRows back = loadMessagePage(image, 1);
    EXPECT_EQ(back[0], "Hello");
    EXPECT_EQ(back[1], "");
    EXPECT_EQ(back[2], std::string(60, 'y'));
    EXPECT_EQ(back[3], "No.4 ppg message");
    EXPECT_EQ(loadMessagePage(image, 10)[9], "\x04");
}

TEST_F(PageViews, AlarmTextIsKeptAsTypedAndBadPagerIdWarnsButTextIsStored) {
    AlarmRows rows = loadAlarmPage(image);
    EXPECT_EQ(rows[0], (AlarmRow{"101", "Contact 1"}));
    rows[0] = {"7", "Fire  "};
    rows[1] = {"", "Flood"};
    rows[2] = {"12345", ""};
    rows[3].text = std::string(60, 'a');
    const auto notice = storeAlarmPage(image, rows);
    ASSERT_TRUE(notice);
    EXPECT_EQ(*notice, (Notice{"PagerID More then 4 Characters!", "Warning!", NoticeButtons::RetryCancel,
                               NoticeIcon::Stop}));

    const AlarmRows back = loadAlarmPage(image);
    EXPECT_EQ(back[0], (AlarmRow{"7", "Fire  "}));
    EXPECT_EQ(image.alarmRecord(0)[1], 0);
    EXPECT_EQ(back[1], (AlarmRow{"102", "Flood"}));
    EXPECT_EQ(back[2], (AlarmRow{"103", ""}));
    EXPECT_EQ(back[3].text, "Contact 4");
    EXPECT_EQ(storeAlarmPage(image, back), std::nullopt);
}
