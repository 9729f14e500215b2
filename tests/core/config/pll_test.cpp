#include <gtest/gtest.h>

#include "core/config/pll.h"

using namespace qm730;

namespace {

std::string storedN(const ConfigImage& image) { return hexWord(image.read24(0x09)); }
std::string storedDigits(const ConfigImage& image) { return readDigits(image.data() + 0x12, 7); }

}  // namespace

TEST(PllWords, NWordsOfKnownFrequencies) {
    EXPECT_EQ(hexWord(*nWordOf(454500000, 12500)), "023810");
    EXPECT_EQ(hexWord(*nWordOf(454500000, 10000)), "02C614");
    EXPECT_EQ(hexWord(*nWordOf(454512500, 12500)), "023812");
    EXPECT_EQ(hexWord(*nWordOf(929100000, 12500)), "048930");
    EXPECT_EQ(hexWord(*nWordOf(0, 12500)), "000000");
    EXPECT_EQ(nWordOf(454505000, 12500), std::nullopt);
    // N = 64 * 65536 gives 0x1000000: one more than the board's 24 bits.
    EXPECT_EQ(hexWord(*nWordOf(std::uint64_t{12500} * (64 * 65536 - 1), 12500)), "FFFF7E");
    EXPECT_EQ(nWordOf(std::uint64_t{12500} * 64 * 65536, 12500), std::nullopt);
    EXPECT_EQ(hexWord(0x050A01), "050A01");
}

TEST(FrequencyRule, StoresDigitsAndNWord) {
    ConfigImage image = defaultImage();
    const FrequencyDecision decision = applyFrequency(image, "4545125", 0);
    EXPECT_FALSE(decision.notice);
    EXPECT_EQ(decision.pllNLabel, "023812");
    EXPECT_EQ(storedDigits(image), "4545125");
    EXPECT_EQ(image[0x09], 0x02);
    EXPECT_EQ(image[0x0A], 0x38);
    EXPECT_EQ(image[0x0B], 0x12);
}

TEST(FrequencyRule, EmptyFieldShowsTheStoredFrequencyAndChangesNothing) {
    ConfigImage image = defaultImage();
    applyFrequency(image, "9291000", 0);
    const ConfigImage before = image;
    const FrequencyDecision decision = applyFrequency(image, "", 0);
    EXPECT_EQ(decision.fieldText, "9291000");
    EXPECT_FALSE(decision.pllNLabel);
    EXPECT_FALSE(decision.notice);
    EXPECT_EQ(image.bytes(), before.bytes());

    // After a change of spacing the stored frequency may be off the new
    // raster: an empty field must not let the operator leave it so.
    applyFrequency(image, "4545125", 0);
    applyChannelSpace(image, 1);
    const ConfigImage stale = image;
    const FrequencyDecision offRaster = applyFrequency(image, "", 1);
    EXPECT_EQ(offRaster.fieldText, "4545125");
    EXPECT_TRUE(offRaster.notice);
    EXPECT_TRUE(offRaster.refocus);
    EXPECT_EQ(image.bytes(), stale.bytes());
}

TEST(FrequencyRule, OffRasterFrequencyKeepsTheNWordButStoresTheDigits) {
    ConfigImage image = defaultImage();
    const FrequencyDecision decision = applyFrequency(image, "4545050", 0);
    EXPECT_EQ(decision.notice, (Notice{"Please insert a correct frequency  !", "Warning!", NoticeButtons::Ok,
                                       NoticeIcon::Stop}));
    EXPECT_TRUE(decision.refocus);
    EXPECT_EQ(storedDigits(image), "4545050");
    EXPECT_EQ(storedN(image), "023810");
}

TEST(FrequencyRule, ShortEntryIsStoredAsSevenDigitsAndBadTextStoresNothing) {
    ConfigImage image = defaultImage();
    const FrequencyDecision zero = applyFrequency(image, "0", 0);
    EXPECT_EQ(zero.fieldText, "0000000");
    EXPECT_EQ(zero.pllNLabel, "000000");
    EXPECT_EQ(storedDigits(image), "0000000");

    const ConfigImage before = image;
    EXPECT_TRUE(applyFrequency(image, "45a", 0).notice);
    EXPECT_TRUE(applyFrequency(image, "12345678", 0).notice);
    EXPECT_EQ(image.bytes(), before.bytes());
}

TEST(ChannelSpaceRule, SetsBitFiveAndRWordAndRecomputesN) {
    ConfigImage image = defaultImage();
    image[0x0C] = 0xDF;
    ChannelSpaceDecision ten = applyChannelSpace(image, 1);
    EXPECT_EQ(ten.pllRLabel, "050A01");
    EXPECT_EQ(image.read24(0x05), 0x050A01u);
    EXPECT_EQ(image[0x0C], 0xFF);
    EXPECT_EQ(ten.pllNLabel, "02C614");
    EXPECT_EQ(storedN(image), "02C614");
    EXPECT_EQ(ten.frequencyText, "4545000");
    EXPECT_FALSE(ten.notice);

    const ChannelSpaceDecision back = applyChannelSpace(image, 0);
    EXPECT_EQ(back.pllRLabel, "050801");
    EXPECT_EQ(image[0x0C], 0xDF);
    EXPECT_EQ(storedN(image), "023810");
}

TEST(ChannelSpaceRule, FrequencyOffTheNewRasterIsReported) {
    ConfigImage image = defaultImage();
    applyFrequency(image, "4545125", 0);  // 454.5125 MHz: on 12.5k, not on 10k
    const ChannelSpaceDecision decision = applyChannelSpace(image, 1);
    EXPECT_EQ(decision.notice->text, "Please insert a correct frequency  !");
    EXPECT_TRUE(decision.focusFrequency);
    EXPECT_FALSE(decision.pllNLabel);
    EXPECT_EQ(decision.frequencyText, "4545125");
    EXPECT_EQ(image.read24(0x05), 0x050A01u);
    EXPECT_EQ(storedN(image), "023812");
}
