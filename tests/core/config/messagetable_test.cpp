// The messages as a CSV table: what an export lists, what an import stores
// and what it refuses.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/config/messagetable.h"
#include "core/config/pageviews.h"
#include "images.h"
#include "import_places.h"

using namespace qm730;

namespace {

const std::string kMessageHeader = "Kind,Index,Pager ID,Content\r\n";

}  // namespace

TEST(MessageTable, ExportThenImportChangesNothingWhateverTheImageHolds) {
    for (const ConfigImage& original : {defaultImage(), scrambledImage(730)}) {
        ConfigImage image = original;
        const ImportResult messages = importMessages(image, exportMessages(image));
        EXPECT_TRUE(messages.problems.empty()) << describeProblem(messages.problems.front(), kMessageTableHeader);
        EXPECT_EQ(messages.rows, 107u);
        EXPECT_EQ(image.bytes(), original.bytes());
    }
}

TEST(MessageTable, ExportListsPpgMessagesThenAlarmsWithTheirPagerIds) {
    const std::string table = exportMessages(defaultImage());
    EXPECT_TRUE(table.starts_with(kMessageHeader + "PPG,1,,No.1 ppg message\r\nPPG,2,,No.2 ppg message\r\n"));
    EXPECT_NE(table.find("\r\nPPG,99,,No.99 ppg message\r\nPPG,100,,\"\x04\"\r\nAlarm,1,101,Contact 1\r\n"),
              std::string::npos);
    EXPECT_TRUE(table.ends_with("\r\nAlarm,7,107,Contact 7\r\n"));
}

TEST(MessageTable, ChangedTextsFollowTheFieldRules) {
    ConfigImage image = defaultImage();
    const std::string sixty(60, 'm');
    const std::string fiftyNine(59, 'a');
    const ImportResult result = importMessages(image, kMessageHeader +
                                                          "PPG,1,,\"  Hello, world \"\n"
                                                          "ppg,2,,\n"
                                                          "PPG,3,," + sixty + "\n"
                                                          "Alarm,1,899,\"" + fiftyNine + "\"\n"
                                                          "alarm,2,0,\n"
                                                          "Alarm,3,103,Contact 3\n"
                                                          "PPG,100,,The last\n"
                                                          "Alarm,7,7,The last alarm\n");
    ASSERT_TRUE(result.problems.empty()) << describeProblem(result.problems.front(), kMessageTableHeader);
    EXPECT_EQ(readMessage(image.messageSlot(99)), "The last");
    EXPECT_EQ(readPagerId(image.alarmRecord(6)), "7");
    EXPECT_EQ(readAlarmText(image.alarmRecord(6)), "The last alarm");
    EXPECT_EQ(readMessage(image.messageSlot(0)), "Hello, world");
    EXPECT_EQ(image.messageSlot(0)[12], 0);
    EXPECT_TRUE(std::all_of(image.messageSlot(1), image.messageSlot(1) + 64, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(readMessage(image.messageSlot(2)), sixty);
    EXPECT_EQ(readPagerId(image.alarmRecord(0)), "899");
    EXPECT_EQ(readAlarmText(image.alarmRecord(0)), fiftyNine);
    EXPECT_EQ(readPagerId(image.alarmRecord(1)), "0");
    EXPECT_EQ(image.alarmRecord(1)[1], 0);
    EXPECT_EQ(readAlarmText(image.alarmRecord(1)), "");
    EXPECT_EQ(readMessage(image.messageSlot(3)), "No.4 ppg message");
}

TEST(MessageTable, BadRowsAreEachNamedAndNothingIsStored) {
    ConfigImage image = defaultImage();
    const ConfigImage before = image;
    const ImportResult result = importMessages(image, kMessageHeader +
                                                          "PPG,1,,Changed\n"
                                                          "PPG,2,," + std::string(61, 'x') + "\n"
                                                          "PPG,3,5,Has an ID\n"
                                                          "PPG,4,,\"two\nlines\"\n"
                                                          "PPG,101,,Too far\n"
                                                          "Alarm,1,900,Text\n"
                                                          "Alarm,2,12a,Text\n"
                                                          "Alarm,3,,Text\n"
                                                          "Alarm,4,104," + std::string(60, 'y') + "\n"
                                                          "Alarm,8,108,Text\n"
                                                          "Page,1,,Text\n"
                                                          "PPG,1,,Again\n"
                                                          "PPG,5,,5 \xE2\x82\xAC\n");
    EXPECT_EQ(places(result), (Places{{3, 4}, {4, 3}, {5, 4}, {7, 2}, {8, 3}, {9, 3}, {10, 3}, {11, 4}, {12, 2},
                                      {13, 1}, {14, 2}, {15, 4}}));
    EXPECT_EQ(image.bytes(), before.bytes());
    EXPECT_EQ(describeProblem(result.problems[0], kMessageTableHeader),
              "line 3, column 4 (Content): '" + std::string(61, 'x') +
                  "' has 61 characters; a PPG message holds at most 60");
    EXPECT_EQ(describeProblem(result.problems[2], kMessageTableHeader),
              "line 5, column 4 (Content): 'two\\x0Alines' holds the control character '\\x0A'; a PPG message is one "
              "line of text");
    EXPECT_EQ(describeProblem(result.problems[4], kMessageTableHeader),
              "line 8, column 3 (Pager ID): '900' is not a pager ID: 1 to 4 digits, a number from 0 to 899");
    EXPECT_EQ(describeProblem(result.problems[11], kMessageTableHeader),
              "line 15, column 4 (Content): holds '\xE2\x82\xAC', which is no single-byte character the board can "
              "store");
}
