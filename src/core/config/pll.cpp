#include "core/config/pll.h"

#include <cstdio>

namespace qm730 {

namespace {

constexpr std::uint32_t kLargestWord = 0xFFFFFF;
constexpr std::uint64_t kNSplit = 64;

bool isDigits(std::string_view text) {
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return !text.empty();
}

std::uint64_t frequencyHzOf(std::string_view digits) {
    std::uint64_t value = 0;
    for (char c : digits) value = value * 10 + static_cast<std::uint64_t>(c - '0');
    return value * kFrequencyUnitHz;
}

// A digit byte above 9 reads as two digits; such a frequency is no
// frequency at all and gets the same complaint as one off the raster.
std::optional<std::uint32_t> nWordOfDigits(const std::string& digits, int channelSpaceIndex) {
    if (digits.size() != sys::kFreqDigitCount) return std::nullopt;
    return nWordOf(frequencyHzOf(digits), channelStepHz(channelSpaceIndex));
}

std::string storedFrequencyText(const ConfigImage& image) {
    return readDigits(image.data() + sys::kFreqDigits, sys::kFreqDigitCount);
}

}  // namespace

const std::array<std::string_view, 2>& channelSpaceItems() {
    static constexpr std::array<std::string_view, 2> items{"12.5k", "10k"};
    return items;
}

std::uint32_t channelStepHz(int channelSpaceIndex) { return channelSpaceIndex == 0 ? kStep12k5Hz : kStep10kHz; }
std::uint32_t rWordOf(int channelSpaceIndex) { return channelSpaceIndex == 0 ? kRWord12k5 : kRWord10k; }

int storedChannelSpace(const ConfigImage& image) {
    return (image[sys::kStatusFlags] & status::kChannelSpace10k) ? 1 : 0;
}

std::optional<std::uint32_t> nWordOf(std::uint64_t frequencyHz, std::uint32_t stepHz) {
    if (stepHz == 0 || frequencyHz % stepHz != 0) return std::nullopt;
    const std::uint64_t n = frequencyHz / stepHz;
    const std::uint64_t word = (n / kNSplit) * 256 + (n % kNSplit) * 2;
    if (word > kLargestWord) return std::nullopt;
    return static_cast<std::uint32_t>(word);
}

std::string hexWord(std::uint32_t word) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(word & kLargestWord));
    return text;
}

Notice frequencyErrorNotice() { return errorNotice("Please insert a correct frequency  !"); }

namespace {

// An emptied field shows the stored frequency again rather than a default
// the board was never given. Nothing is stored; but where the stored
// frequency is off the raster of the chosen spacing (the spacing was changed
// under it) the operator is kept in the field until a valid one is entered.
FrequencyDecision restoreStoredFrequency(const ConfigImage& image, int channelSpaceIndex) {
    FrequencyDecision decision;
    const std::string stored = storedFrequencyText(image);
    decision.fieldText = stored;
    if (!nWordOfDigits(stored, channelSpaceIndex)) {
        decision.notice = frequencyErrorNotice();
        decision.refocus = true;
    }
    return decision;
}

}  // namespace

FrequencyDecision applyFrequency(ConfigImage& image, std::string_view text, int channelSpaceIndex) {
    FrequencyDecision decision;
    if (text.empty()) return restoreStoredFrequency(image, channelSpaceIndex);
    if (!isDigits(text) || text.size() > sys::kFreqDigitCount) {
        decision.notice = frequencyErrorNotice();
        decision.refocus = true;
        return decision;
    }
    const std::string digits = std::string(sys::kFreqDigitCount - text.size(), '0') + std::string(text);
    for (std::size_t i = 0; i < digits.size(); ++i) image[sys::kFreqDigits + i] = static_cast<std::uint8_t>(digits[i]);
    if (digits != text) decision.fieldText = digits;

    const std::optional<std::uint32_t> word = nWordOfDigits(digits, channelSpaceIndex);
    if (!word) {
        decision.notice = frequencyErrorNotice();
        decision.refocus = true;
        return decision;
    }
    image.write24(sys::kPllN, *word);
    decision.pllNLabel = hexWord(*word);
    return decision;
}

ChannelSpaceDecision applyChannelSpace(ConfigImage& image, int channelSpaceIndex) {
    ChannelSpaceDecision decision;
    std::uint8_t& flags = image[sys::kStatusFlags];
    flags = channelSpaceIndex == 0 ? static_cast<std::uint8_t>(flags & ~status::kChannelSpace10k)
                                   : static_cast<std::uint8_t>(flags | status::kChannelSpace10k);
    const std::uint32_t r = rWordOf(channelSpaceIndex);
    image.write24(sys::kPllR, r);
    decision.pllRLabel = hexWord(r);

    decision.frequencyText = storedFrequencyText(image);
    const std::optional<std::uint32_t> word = nWordOfDigits(decision.frequencyText, channelSpaceIndex);
    if (!word) {
        decision.notice = frequencyErrorNotice();
        decision.focusFrequency = true;
        return decision;
    }
    image.write24(sys::kPllN, *word);
    decision.pllNLabel = hexWord(*word);
    return decision;
}

}  // namespace qm730
