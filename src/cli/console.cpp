#include "cli/console.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/platform.h"
#include "core/config/csv.h"

namespace qm730::cli {

namespace {
constexpr int kBarWidth = 40;
}

Console::Console(Verbosity verbosity, bool withBar)
    : verbosity_(verbosity), drawBar_(withBar && !verbosity.quiet && errorsGoToTerminal()) {}

Console::~Console() { endBar(); }

void Console::setLabel(const std::string& label) {
    if (label == label_) return;
    // A new step begins only when the one before has ended well.
    completeBar();
    label_ = label;
    shownPercent_ = -1;
}

void Console::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    shownPercent_ = -1;
}

void Console::setPosition(int position) {
    if (!drawBar_ || maximum_ <= minimum_) return;
    const long long done = std::clamp<long long>(position - minimum_, 0, maximum_ - minimum_);
    draw(static_cast<int>(100 * done / (maximum_ - minimum_)));
}

void Console::draw(int percent) {
    if (percent == shownPercent_) return;
    shownPercent_ = percent;
    const int filled = kBarWidth * percent / 100;
    const std::string bar = label_ + " [" + std::string(filled, '#') + std::string(kBarWidth - filled, ' ') + "] " +
                            std::to_string(percent) + "%";
    std::cerr << '\r' << bar << std::flush;
    barShown_ = true;
    barLength_ = std::max(barLength_, bar.size());
}

void Console::completeBar() {
    if (barShown_) draw(100);
    endBar();
}

void Console::endBar() {
    if (barShown_) std::cerr << "\n" << std::flush;
    barShown_ = false;
    barLength_ = 0;
    shownPercent_ = -1;
}

void Console::clearBar() {
    if (barShown_) std::cerr << '\r' << std::string(barLength_, ' ') << '\r' << std::flush;
    barShown_ = false;
    barLength_ = 0;
    shownPercent_ = -1;
}

void Console::step(const std::string& text) {
    if (!verbosity_.verbose) return;
    endBar();
    std::cerr << terminalText(text) << "\n" << std::flush;
}

void printSuccess(Verbosity verbosity, const std::string& text) {
    if (!verbosity.quiet) std::cout << terminalText(text) << std::endl;
}

std::string terminalText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        const std::optional<char32_t> character = decodeUtf8(text, pos);
        // C0 and C1 controls and DEL; a byte that starts no character
        const bool control = !character || *character < 0x20 || (*character >= 0x7F && *character < 0xA0);
        if (!control) {
            shown.append(text.substr(start, pos - start));
            continue;
        }
        if (!character) ++pos;
        for (std::size_t i = start; i < pos; ++i) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[i]));
            shown += escaped;
        }
    }
    return shown;
}

}  // namespace qm730::cli
