#include "core/config/configview.h"

#include "core/config/pll.h"

namespace qm730 {

namespace {

std::string digitsAt(const ConfigImage& image, std::size_t offset, std::size_t count) {
    return readDigits(image.data() + offset, count);
}

}  // namespace

ConfigView loadConfigView(const ConfigImage& image) {
    ConfigView view;
    for (std::size_t i = 0; i < sys::kDelayCount; ++i) view.delays[i] = std::to_string(image[sys::kDelay + i]);
    view.preamble = std::to_string(image[sys::kPreamble]);
    view.pagerDuration = std::to_string(image[sys::kPagerDuration]);
    view.functionPassword = digitsAt(image, sys::kFuncPassword, sys::kFuncPasswordLength);
    view.setupPassword = digitsAt(image, sys::kSetupPassword, sys::kSetupPasswordLength);
    view.frequency = digitsAt(image, sys::kFreqDigits, sys::kFreqDigitCount);
    for (SystemList list : kSystemLists) view.lists[static_cast<std::size_t>(list)] = listSelection(image, list);
    for (int tag = 0; tag < kStatusCheckBoxCount; ++tag)
        view.statusChecks[tag] = (image[sys::kStatusFlags] & statusBitOfTag(tag)) != 0;
    view.channelSpace = storedChannelSpace(image);
    view.pllR = hexWord(image.read24(sys::kPllR));
    view.pllN = hexWord(image.read24(sys::kPllN));
    return view;
}

}  // namespace qm730
