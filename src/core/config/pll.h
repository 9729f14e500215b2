// The synthesizer words of the board's PLL: the R word fixed by the channel
// spacing, the N word derived from the frequency, and the rules of the
// frequency field and the channel-space box that write them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/config/editdecision.h"
#include "core/config/image.h"

namespace qm730 {

inline constexpr std::uint32_t kRWord12k5 = 0x050801;
inline constexpr std::uint32_t kRWord10k = 0x050A01;
inline constexpr std::uint32_t kStep12k5Hz = 12500;
inline constexpr std::uint32_t kStep10kHz = 10000;
// The frequency field holds hundreds of hertz (the label "00Hz" follows it).
inline constexpr std::uint64_t kFrequencyUnitHz = 100;

// `cboCSpace`: item 0 "12.5k", item 1 "10k".
const std::array<std::string_view, 2>& channelSpaceItems();
std::uint32_t channelStepHz(int channelSpaceIndex);
std::uint32_t rWordOf(int channelSpaceIndex);
// The channel spacing stored in bit 5 of the status flags (0 or 1).
int storedChannelSpace(const ConfigImage& image);

// N = f / step split as B = N div 64, A = N mod 64, giving the word
// B*256 + A*2. std::nullopt when f is no whole multiple of the step or the
// word would not fit 24 bits.
std::optional<std::uint32_t> nWordOf(std::uint64_t frequencyHz, std::uint32_t stepHz);

// Six upper-case hexadecimal digits, as lblPLLR and lblPLLN show a word.
std::string hexWord(std::uint32_t word);

// "Please insert a correct frequency  !", caption "Warning!", OK, stop icon.
Notice frequencyErrorNotice();

struct FrequencyDecision : LeaveDecision {
    std::optional<std::string> pllNLabel;  // new text of lblPLLN when the N word changed
};

// Leaving `edtFreq`. An empty field gets the stored frequency back and
// nothing is stored; if that frequency is off the raster of the chosen
// spacing, the frequency error is returned and the focus goes back. Otherwise the entry (one to seven digits, zero-padded on the left
// to seven so a reload shows what was entered) is stored as the frequency
// digits and, when the frequency is a whole multiple of the channel step, the
// N word is stored; if not, the frequency error is returned and the focus goes
// back, the digits stay stored and the N word keeps its value. A text that is
// not one to seven digits stores nothing and brings the frequency error.
FrequencyDecision applyFrequency(ConfigImage& image, std::string_view text, int channelSpaceIndex);

struct ChannelSpaceDecision {
    std::string pllRLabel;
    std::optional<std::string> pllNLabel;  // set when the N word was recomputed
    std::string frequencyText;             // the stored frequency, for edtFreq
    std::optional<Notice> notice;          // the frequency error, if any
    bool focusFrequency = false;           // put the focus into edtFreq
};

// Choosing in `cboCSpace`: bit 5 and the R word follow the choice, and the N
// word is recomputed from the stored frequency with the new step, so the
// board never gets an N word meant for the other spacing. Where the stored
// frequency is no multiple of the new step, the N word stays and the
// frequency error is returned with the request to focus the frequency field.
ChannelSpaceDecision applyChannelSpace(ConfigImage& image, int channelSpaceIndex);

}  // namespace qm730
