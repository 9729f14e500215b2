#include <gtest/gtest.h>

#include "core/config/configview.h"
#include "core/config/systemsettings.h"

using namespace qm730;

TEST(StatusFlags, EachCheckBoxChangesOnlyItsOwnBit) {
    ConfigImage image = defaultImage();
    storeStatusCheckBox(image, 2, true);  // "Invert Polarity"
    EXPECT_EQ(image[0x0C], 0x18);
    storeStatusCheckBox(image, 3, false);  // "LCD Back Light On"
    EXPECT_EQ(image[0x0C], 0x08);

    image[0x0C] = 0xC2;  // bits 1, 6, 7 belong to no control
    for (int tag = 0; tag < 4; ++tag) storeStatusCheckBox(image, tag, true);
    EXPECT_EQ(image[0x0C], 0xDF);
    storeStatusGroup(image, {false, false, false, false}, 1);
    EXPECT_EQ(image[0x0C], 0xE2);
    storeStatusGroup(image, {true, false, false, false}, 0);
    EXPECT_EQ(image[0x0C], 0xC3);
}

TEST(ByteFields, StoreTheLowEightBitsAndNothingWhenEmptyOrNoNumber) {
    ConfigImage image = defaultImage();
    EXPECT_FALSE(storeByteField(image, delayField(0), "255"));
    EXPECT_EQ(image[0x00], 255);
    storeByteField(image, delayField(1), "256");
    EXPECT_EQ(image[0x01], 0);
    storeByteField(image, delayField(3), "999");
    EXPECT_EQ(image[0x03], 231);
    storeByteField(image, ByteField::Preamble, "300");
    EXPECT_EQ(image[0x10], 44);

    EXPECT_FALSE(storeByteField(image, ByteField::PagerDuration, ""));
    EXPECT_EQ(image[0x0E], 10);
    const auto huge = storeByteField(image, ByteField::PagerDuration, "99999999999");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->text, "'99999999999' is not a valid integer value.");
    EXPECT_EQ(huge->caption, "QM730");
    EXPECT_TRUE(storeByteField(image, ByteField::PagerDuration, "1e3"));
    EXPECT_EQ(image[0x0E], 10);
}

TEST(Passwords, OnlyTheExactLengthIsStored) {
    ConfigImage image = defaultImage();
    EXPECT_FALSE(storePassword(image, Password::Function, "123"));
    EXPECT_FALSE(storePassword(image, Password::Function, "12345"));
    EXPECT_FALSE(storePassword(image, Password::Function, "12a4"));  // pasted past the key rule
    EXPECT_EQ(loadConfigView(image).functionPassword, "8294");
    EXPECT_TRUE(storePassword(image, Password::Function, "1234"));
    EXPECT_TRUE(storePassword(image, Password::Setup, "7654321"));
    EXPECT_EQ(image[0x1E], 0);
    const ConfigView view = loadConfigView(image);
    EXPECT_EQ(view.functionPassword, "1234");
    EXPECT_EQ(view.setupPassword, "7654321");
    EXPECT_EQ(storedPassword(image, Password::Setup), "7654321");
}

TEST(Lists, ItemsAreExactAndCodesFollowTheirBase) {
    EXPECT_EQ(listItems(SystemList::Heartbeat)[1], "1     Minutes");
    EXPECT_EQ(listItems(SystemList::Heartbeat)[10], "10   Minutes");
    EXPECT_EQ(listItems(SystemList::Baud)[0], " 512  bps");
    EXPECT_EQ(listItems(SystemList::PocsagBaud)[0], "512  bps");
    EXPECT_EQ(listItems(SystemList::Protocol)[2], "WaveWare Paging System TAP");
    EXPECT_EQ(listItems(SystemList::UartBaud).size(), 6u);

    ConfigImage image = defaultImage();
    storeListChoice(image, SystemList::Heartbeat, 0);
    EXPECT_EQ(image[0x2A], 0);
    storeListChoice(image, SystemList::Heartbeat, 10);
    EXPECT_EQ(image[0x2A], 10);
    storeListChoice(image, SystemList::Baud, 0);
    EXPECT_EQ(image[0x2B], 1);
    storeListChoice(image, SystemList::PocsagType, 1);
    EXPECT_EQ(image[0x2E], 2);
    storeListChoice(image, SystemList::UartBaud, 5);
    EXPECT_EQ(image[0x27], 5);
    EXPECT_EQ(listSelection(image, SystemList::Baud), 0);

    image[0x2D] = 0;
    image[0x29] = 10;
    EXPECT_EQ(listSelection(image, SystemList::PocsagBaud), std::nullopt);
    EXPECT_EQ(listSelection(image, SystemList::Protocol), std::nullopt);
}

TEST(NumericKeys, DigitsPassEnterIsSwallowedOthersAreRefused) {
    EXPECT_EQ(numericKeyPress('7').action, KeyAction::Pass);
    EXPECT_EQ(numericKeyPress(8).action, KeyAction::Pass);
    const KeyDecision enter = numericKeyPress(13);
    EXPECT_EQ(enter.action, KeyAction::Discard);
    EXPECT_FALSE(enter.notice);
    const KeyDecision letter = numericKeyPress('a');
    EXPECT_EQ(letter.action, KeyAction::Discard);
    EXPECT_EQ(letter.notice, (Notice{"Please insert a numeric !", "QM730", NoticeButtons::Ok, NoticeIcon::Exclamation}));
}

TEST(ConfigViewLoad, ShowsTheDefaultsOfTheSystemBlock) {
    const ConfigView view = loadConfigView(defaultImage());
    EXPECT_EQ(view.delays, (std::array<std::string, 4>{"10", "16", "10", "20"}));
    EXPECT_EQ(view.frequency, "4545000");
    EXPECT_EQ(view.list(SystemList::Baud), 1);
    EXPECT_EQ(view.statusChecks, (std::array<bool, 4>{false, false, false, true}));
    EXPECT_EQ(view.channelSpace, 0);
    EXPECT_EQ(view.pllR, "050801");
    EXPECT_EQ(view.pllN, "023810");
}
