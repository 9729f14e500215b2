#include <gtest/gtest.h>

#include "core/config/paging.h"

using namespace qm730;

TEST(Paging, CapcodeCommandsWrapForwardOnlyAndMessageCommandsBothWays) {
    EXPECT_EQ(nextCapcodePage(10), 11);
    EXPECT_EQ(nextCapcodePage(11), 1);
    EXPECT_EQ(previousCapcodePage(11), 10);
    EXPECT_EQ(previousCapcodePage(1), 1);
    EXPECT_EQ(nextMessagePage(9), 10);
    EXPECT_EQ(nextMessagePage(10), 1);
    EXPECT_EQ(previousMessagePage(1), 10);
}

TEST(Paging, TabCaptionsNameThePageAndHowBlockPageWasReached) {
    EXPECT_EQ(capcodeTabCaption(1, CapcodePageVia::NextCommand), "Pager DataBase1");
    EXPECT_EQ(capcodeTabCaption(10, CapcodePageVia::Selector), "Pager DataBase10");
    EXPECT_EQ(capcodeTabCaption(11, CapcodePageVia::NextCommand), "DataBase100 -- 799");
    EXPECT_EQ(capcodeTabCaption(11, CapcodePageVia::Selector), "DataBase100 -- 899");
    EXPECT_EQ(messageTabCaption(7), "PPG Message7");
    EXPECT_EQ(capcodeSelectorItems()[7], "CapCode# 71 -- 80");
    EXPECT_EQ(messageSelectorItems()[9], "Message#  91  --  99");
}

TEST(Paging, RowsMapToSlotsAndLabels) {
    EXPECT_EQ(capcodeSlotOfRow(1, 0), 0u);
    EXPECT_EQ(capcodeSlotOfRow(10, 9), 99u);
    EXPECT_EQ(capcodeSlotOfRow(11, 0), 99u);
    EXPECT_EQ(capcodeSlotOfRow(11, 3), 399u);
    EXPECT_EQ(capcodeSlotOfRow(11, 9), 999u);
    EXPECT_EQ(messageSlotOfRow(10, 9), 99u);
    EXPECT_EQ(capcodeTableIndex(11, 0), 100);

    EXPECT_EQ(capcodeRowLabel(3, 4), "25");
    EXPECT_EQ(capcodeRowLabel(11, 7), "800");
    EXPECT_EQ(capcodeRowLabel(11, 8), std::nullopt);
    EXPECT_EQ(messageRowLabel(10, 9), "100");
    EXPECT_TRUE(capcodeRowEnabled(10, 9));
    EXPECT_TRUE(capcodeRowEnabled(11, 7));
    EXPECT_FALSE(capcodeRowEnabled(11, 8));
}
