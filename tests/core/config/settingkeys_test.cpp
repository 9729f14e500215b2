#include <gtest/gtest.h>

#include <initializer_list>

#include "core/config/settingkeys.h"

using namespace qm730;

namespace {

std::vector<SettingAssignment> assignments(std::initializer_list<const char*> texts) {
    std::vector<SettingAssignment> out;
    for (const char* text : texts) out.push_back(*parseAssignment(text));
    return out;
}

std::vector<SettingRefusal> set(ConfigImage& image, std::initializer_list<const char*> texts) {
    return applySettings(image, assignments(texts));
}

std::string get(const ConfigImage& image, const char* name) { return settingValue(image, findSetting(name)->setting); }

}  // namespace

TEST(SettingValues, ReadAsTheGuiShowsThem) {
    ConfigImage image = defaultImage();
    EXPECT_EQ(get(image, "Delay_byte_2"), "16");
    EXPECT_EQ(get(image, "Function_password"), "8294");
    EXPECT_EQ(get(image, "UART_baud"), "9600 bps");
    EXPECT_EQ(get(image, "Protocol_select"), "Programming");
    EXPECT_EQ(get(image, "Heartbeat"), "Disable");
    EXPECT_EQ(get(image, "POCSAG_type"), "Text");
    EXPECT_EQ(get(image, "Status_flags"), "0x10");
    EXPECT_EQ(get(image, "LCD_back_light_on"), "on");
    EXPECT_EQ(get(image, "Key_beep_off"), "off");
    EXPECT_EQ(get(image, "Frequency"), "454500000 Hz");
    EXPECT_EQ(get(image, "Channel_space"), "12.5k");
    EXPECT_EQ(get(image, "PLL_N"), "023810");
    EXPECT_EQ(settingRemark(image, Setting::PllN), "");

    image[0x27] = 9;
    image[0x2B] = 0;
    EXPECT_EQ(get(image, "uart_baud"), "(none: 9)");
    EXPECT_EQ(get(image, "BAUD"), "(none: 0)");
    image[0x0B] = 0x12;
    EXPECT_EQ(settingRemark(image, Setting::PllN), " (frequency gives 023810)");
    image[0x0C] |= 0x20;
    EXPECT_EQ(settingRemark(image, Setting::PllR), " (spacing gives 050A01)");
    EXPECT_EQ(findSetting("no_such_thing"), nullptr);
}

TEST(SettingValues, ListsTakeTheItemTextExactlyOrWithoutBlanksAndCase) {
    ConfigImage image = defaultImage();
    EXPECT_TRUE(set(image, {"UART_baud=19200 bps", "heartbeat=10Minutes", "Baud= 512  bps", "pocsag_type=NUMERIC",
                            "Protocol_select=wavewarepagingsystemtap"})
                    .empty());
    EXPECT_EQ(image[0x27], 5);
    EXPECT_EQ(image[0x2A], 10);
    EXPECT_EQ(image[0x2B], 1);
    EXPECT_EQ(image[0x2E], 2);
    EXPECT_EQ(image[0x29], 2);
    EXPECT_TRUE(set(image, {"uart_baud=9600bps", "POCSAG_baud=512bps"}).empty());
    EXPECT_EQ(image[0x27], 3);
    EXPECT_EQ(image[0x2D], 1);

    const auto refused = set(image, {"UART_data=8N2"});
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].name, "UART_data");
    EXPECT_EQ(refused[0].reason, "'8N2' is not one of: 7,E,1, 8,N,1");
    EXPECT_EQ(set(image, {"Heartbeat="}).size(), 1u);
    EXPECT_EQ(set(image, {"Heartbeat=5"}).size(), 1u);  // a number is not an item
}

TEST(SettingValues, NumbersPasswordsAndFlagsFollowTheFieldRules) {
    ConfigImage image = defaultImage();
    image[0x0C] = 0xD2;  // bits 1, 6 and 7 belong to no setting
    EXPECT_TRUE(set(image, {"Delay_byte_1=255", "Delay_byte_4=0010", "Preamble_length=200", "Pager_duration=0",
                            "Function_password=0123", "Setup_password=7654321", "Key_beep_off=on",
                            "LCD_back_light_on=OFF", "Invert_polarity=yes"})
                    .empty());
    EXPECT_EQ(image[0x00], 255);
    EXPECT_EQ(image[0x03], 10);
    EXPECT_EQ(image[0x10], 200);
    EXPECT_EQ(image[0x0E], 0);
    EXPECT_EQ(get(image, "Function_password"), "0123");
    EXPECT_EQ(get(image, "Setup_password"), "7654321");
    EXPECT_EQ(image[0x0C], 0xC0 | 0x02 | 0x01 | 0x08);

    for (const char* bad : {"Delay_byte_2=256", "Delay_byte_2=-1", "Delay_byte_2=", "Delay_byte_2=1e3",
                            "Delay_byte_2= 5", "Function_password=123", "Function_password=12a4",
                            "Setup_password=12345678", "Key_beep_off=maybe"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(set(image, {bad}).size(), 1u);
    }
    EXPECT_EQ(image[0x01], 16);
    EXPECT_EQ(set(image, {"Delay_byte_2=256"})[0].reason, "'256' is not a whole number from 0 to 255");
    EXPECT_EQ(set(image, {"Function_password=123"})[0].reason, "'123' is not 4 digits");
}

TEST(SettingValues, FrequencyAndSpacingRecomputeThePllWords) {
    ConfigImage image = defaultImage();
    EXPECT_TRUE(set(image, {"Frequency=454512500"}).empty());
    EXPECT_EQ(get(image, "PLL_N"), "023812");
    EXPECT_TRUE(set(image, {"frequency=929.1 MHz"}).empty());
    EXPECT_EQ(get(image, "PLL_N"), "048930");
    EXPECT_EQ(get(image, "Frequency"), "929100000 Hz");
    EXPECT_TRUE(set(image, {"Frequency=0 Hz"}).empty());
    EXPECT_EQ(get(image, "PLL_N"), "000000");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data() + 0x12), 7), "0000000");

    // The spacing comes first whatever the order, so the frequency is
    // checked against the new raster.
    EXPECT_TRUE(set(image, {"Frequency=454500kHz", "Channel_space=10k"}).empty());
    EXPECT_EQ(get(image, "PLL_R"), "050A01");
    EXPECT_EQ(get(image, "PLL_N"), "02C614");
    EXPECT_EQ(image[0x0C], 0x30);
    EXPECT_TRUE(set(image, {"Channel_space=12.5K"}).empty());
    EXPECT_EQ(get(image, "PLL_R"), "050801");
    EXPECT_EQ(get(image, "PLL_N"), "023810");
    EXPECT_EQ(image[0x0C], 0x10);
}

TEST(SettingValues, OffRasterFrequenciesAndSpacingsAreRefusedWhole) {
    ConfigImage image = defaultImage();
    ASSERT_TRUE(set(image, {"Frequency=454512500 Hz"}).empty());
    const ConfigImage before = image;

    auto refused = set(image, {"Channel_space=10k"});  // 454,512,500 Hz is off the 10 kHz raster
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].reason,
              "the frequency 454512500 Hz is not a whole multiple of the 10 kHz channel spacing; give a Frequency "
              "with it");
    refused = set(image, {"Frequency=454505000"});
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].reason, "454505000 Hz is not a whole multiple of the 12.5 kHz channel spacing");
    for (const char* bad : {"Frequency=454500050", "Frequency=454.5", "Frequency=1000000000",
                            "Frequency=454.5 GHz", "Frequency=454,5 MHz", "Frequency=", "Frequency=Hz",
                            "Frequency=454500000 Hz "}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(set(image, {bad}).size(), 1u);
    }
    // A fraction of a hertz is refused, not cut off to the hertz below.
    for (const char* fraction : {"Frequency=454500000.5", "Frequency=454.50000050 MHz"}) {
        SCOPED_TRACE(fraction);
        refused = set(image, {fraction});
        ASSERT_EQ(refused.size(), 1u);
        EXPECT_EQ(refused[0].reason, "454500000.5 Hz is not a whole multiple of 100 Hz");
    }
    EXPECT_EQ(image.bytes(), before.bytes());  // not even the digits were stored
}

TEST(SettingValues, AllOrNothingWithEveryRefusalNamed) {
    ConfigImage image = defaultImage();
    const ConfigImage before = image;
    const auto refused =
        set(image, {"Delay_byte_1=5", "Colour=red", "PLL_N=000000", "Status_flags=0x00", "Delay_byte_1=6",
                    "UART_baud=1200 bps", "Setup_password=1"});
    ASSERT_EQ(refused.size(), 5u);
    EXPECT_EQ(refused[0].name, "Colour");
    EXPECT_EQ(refused[0].reason, "no such setting");
    EXPECT_EQ(refused[1].name, "Delay_byte_1");
    EXPECT_EQ(refused[1].reason, "is given more than once");
    EXPECT_EQ(refused[2].name, "PLL_N");
    EXPECT_EQ(refused[2].reason, "is computed from Frequency and Channel_space");
    EXPECT_EQ(refused[3].name, "Status_flags");
    EXPECT_EQ(refused[4].name, "Setup_password");
    EXPECT_EQ(image.bytes(), before.bytes());

    EXPECT_FALSE(parseAssignment("Delay_byte_1"));
    EXPECT_FALSE(parseAssignment("=5"));
    EXPECT_EQ(parseAssignment("Baud=a=b")->value, "a=b");
}

TEST(SettingValues, EveryValueThatGetPrintsSetsItBack) {
    ConfigImage image = defaultImage();
    ASSERT_TRUE(set(image, {"Channel_space=10k", "Frequency=455 MHz", "Heartbeat=3     Minutes", "Baud=2400 bps"})
                    .empty());
    std::vector<SettingAssignment> all;
    for (const SettingInfo& info : settingTable())
        if (info.settable) all.push_back({std::string(info.name), settingValue(image, info.setting)});
    ConfigImage copy = defaultImage();
    ASSERT_TRUE(applySettings(copy, all).empty());
    EXPECT_EQ(std::vector<std::uint8_t>(copy.data(), copy.data() + 0x60),
              std::vector<std::uint8_t>(image.data(), image.data() + 0x60));
}
