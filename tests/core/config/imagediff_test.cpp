#include <gtest/gtest.h>

#include "core/config/imagediff.h"
#include "core/config/settingkeys.h"

using namespace qm730;

using Lines = std::vector<std::string>;

TEST(ImageDiff, SameImagesHaveNoLines) {
    EXPECT_TRUE(describeDifferences(defaultImage(), defaultImage()).empty());
}

TEST(ImageDiff, DifferencesAreToldInTheDomainsWords) {
    ConfigImage a = defaultImage();
    writeName(a.capcodeSlot(29), "Ten Chars0");
    ConfigImage b = a;
    writeName(b.capcodeSlot(29), "Ten Chars1");  // its last character
    const std::vector<SettingAssignment> settings{{"Frequency", "455 MHz"}, {"Invert_polarity", "on"},
                                                  {"UART_baud", "1200 bps"}};
    ASSERT_TRUE(applySettings(b, settings).empty());
    std::uint8_t* pager = b.capcodeSlot(11);
    writeAddress(pager, "1234599");
    writeName(pager, "Bob");
    pager[capcode::kType] = 0;
    pager[capcode::kGroup] = 4;
    writeText(b.messageSlot(4), 64, "Hello\tthere");
    writeText(b.alarmRecord(2), 4, "200");

    EXPECT_EQ(describeDifferences(a, b), (Lines{
                                             "UART_baud: 9600 bps -> 1200 bps",
                                             "Invert_polarity: off -> on",
                                             "Frequency: 454500000 Hz -> 455000000 Hz",
                                             "PLL_N: 023810 -> 023860",
                                             "pager 12 Address: 1234571 -> 1234599",
                                             "pager 12 Type: Alpha -> (none: 0)",
                                             "pager 12 Name: '' -> 'Bob'",
                                             "pager 12 Group: none -> 4",
                                             "pager 30 Name: 'Ten Chars0' -> 'Ten Chars1'",
                                             "message 5: 'No.5 ppg message' -> 'Hello\\x09there'",
                                             "alarm 3 Pager ID: '103' -> '200'",
                                         }));
}

TEST(ImageDiff, BytesNoSettingShowsAreToldByPlace) {
    const ConfigImage a = defaultImage();
    ConfigImage b = a;
    b[0x0C] |= 0x40;                       // a status bit without a name
    b[0x31] = 1;                           // reserved in the system block
    b.capcodeSlot(4)[22] = 1;              // reserved bytes of a pager record
    b.capcodeSlot(4)[31] = 1;
    b.capcodeSlot(4)[30] = 1;
    b.capcodeSlot(6)[capcode::kName + 3] = 'x';  // past the name's length
    b.capcodeSlot(949)[0] = '9';           // a spare slot
    b.messageSlot(0)[63] = 'z';            // after the message's end
    b[0x9FFE] = 0xFF;                      // the reserved tail
    EXPECT_EQ(describeDifferences(a, b), (Lines{
                                             "Status_flags: 0x10 -> 0x50",
                                             "system block: byte 0x0031 differs (no setting shows it)",
                                             "pager 5: byte +22 differs (no setting shows it)",
                                             "pager 5: bytes +30..+31 differ (no setting shows them)",
                                             "pager 7: byte +14 differs (no setting shows it)",
                                             "spare capcode slot 950: byte +0 differs (no setting shows it)",
                                             "message 1: byte +63 differs (no setting shows it)",
                                             "reserved area: byte 0x9FFE differs (no setting shows it)",
                                         }));
}
