// What the commands that talk to the board share on the terminal: a progress
// bar on stderr (only when stderr is a terminal), the step lines of
// --verbose beside it, and the success line on stdout.
#pragma once

#include <string>
#include <string_view>

#include "cli/options.h"

namespace qm730::cli {

class Console {
public:
    // withBar false: steps only, never a bar.
    explicit Console(Verbosity verbosity, bool withBar = true);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // The bar: "writing [#########           ] 45%". Positions beyond the
    // maximum show a full bar. A new label fills the bar of the last one.
    void setLabel(const std::string& label);
    void setRange(int minimum, int maximum);
    void setPosition(int position);
    // Fills the bar, when one is drawn, and ends its line.
    void completeBar();
    // Ends the bar's line, so the next line starts on a line of its own.
    void endBar();
    // Wipes the bar, so the line that tells why a run failed takes its place.
    void clearBar();

    // A step of the exchange, with --verbose only.
    void step(const std::string& text);

private:
    void draw(int percent);

    Verbosity verbosity_;
    bool drawBar_;
    bool barShown_ = false;
    std::size_t barLength_ = 0;
    std::string label_;
    int minimum_ = 0;
    int maximum_ = 100;
    int shownPercent_ = -1;
};

// The one line of a success on stdout, unless --quiet.
void printSuccess(Verbosity verbosity, const std::string& text);

// A message as the terminal may be given it: names and values typed by
// anyone can hold control characters (an escape sequence would act on the
// terminal, a line end forge a line), so those, and bytes that are no UTF-8,
// are shown as \xNN; everything else stays as it is.
std::string terminalText(std::string_view text);

}  // namespace qm730::cli
