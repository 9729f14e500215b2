// qm730ctl dump: prints a table file's whole configuration, one setting or
// record per line, in a fixed order that scripts can grep.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/command.h"
#include "cli/options.h"
#include "cli/tablefile.h"
#include "core/config/configview.h"
#include "core/config/image.h"
#include "core/config/pageviews.h"
#include "core/config/pll.h"
#include "core/config/systemsettings.h"

namespace qm730::cli {
namespace {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char buffer[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return buffer;
}

// Keeps every record on one line: control characters, bytes 0x7F and up and
// the backslash itself are written as escapes.
std::string printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (byte < 0x20 || byte >= 0x7F)
            out += format("\\x%02X", byte);
        else
            out += c;
    }
    return out;
}

// The item text a stored position selects, or "(none: BYTE)".
std::string itemText(std::span<const std::string_view> items, int position, int storedByte) {
    if (position < 0 || position >= static_cast<int>(items.size())) return format("(none: %d)", storedByte);
    return std::string(items[static_cast<std::size_t>(position)]);
}

const char* onOff(bool on) { return on ? "on" : "off"; }

void appendSetting(std::string& out, const char* name, const std::string& value) {
    out += name;
    out += ": ";
    out += value;
    out += '\n';
}

void appendSystem(std::string& out, const ConfigImage& image) {
    const ConfigView view = loadConfigView(image);
    out += "[system]\n";
    for (std::size_t i = 0; i < view.delays.size(); ++i)
        appendSetting(out, format("Delay_byte_%d", static_cast<int>(i + 1)).c_str(), view.delays[i]);
    appendSetting(out, "Preamble_length", view.preamble);
    appendSetting(out, "Pager_duration", view.pagerDuration);
    appendSetting(out, "Function_password", view.functionPassword);
    appendSetting(out, "Setup_password", view.setupPassword);

    struct { SystemList list; const char* name; } const lists[] = {
        {SystemList::UartBaud, "UART_baud"}, {SystemList::UartData, "UART_data"},
        {SystemList::Protocol, "Protocol_select"}, {SystemList::Heartbeat, "Heartbeat"},
        {SystemList::Baud, "Baud"}, {SystemList::PocsagBaud, "POCSAG_baud"},
        {SystemList::PocsagType, "POCSAG_type"}};
    for (const auto& [list, name] : lists) {
        const int stored = image[listOffset(list)];
        appendSetting(out, name, itemText(listItems(list), stored - listCodeBase(list), stored));
    }

    const std::uint8_t flags = image[sys::kStatusFlags];
    appendSetting(out, "Status_flags", format("0x%02X", flags));
    appendSetting(out, "Key_beep_off", onOff(flags & status::kKeyBeepOff));
    appendSetting(out, "Disable_frequency_set", onOff(flags & status::kDisableFrequencySet));
    appendSetting(out, "Invert_polarity", onOff(flags & status::kInvertPolarity));
    appendSetting(out, "LCD_back_light_on", onOff(flags & status::kLcdBackLightOn));

    // Digit bytes are read by their low four bits, as the board does.
    std::uint64_t hundreds = 0;
    for (std::size_t i = 0; i < sys::kFreqDigitCount; ++i) hundreds = hundreds * 10 + (image[sys::kFreqDigits + i] & 0x0F);
    const std::uint64_t frequencyHz = hundreds * kFrequencyUnitHz;
    appendSetting(out, "Frequency", format("%llu Hz", static_cast<unsigned long long>(frequencyHz)));
    appendSetting(out, "Channel_space", std::string(channelSpaceItems()[static_cast<std::size_t>(view.channelSpace)]));

    // The words are shown as stored; a word that does not match the frequency
    // and spacing is flagged, since the board would be tuned wrongly.
    const std::uint32_t expectedR = rWordOf(view.channelSpace);
    std::string r = view.pllR;
    if (image.read24(sys::kPllR) != expectedR) r += " (spacing gives " + hexWord(expectedR) + ")";
    appendSetting(out, "PLL_R", r);
    std::string n = view.pllN;
    const auto expectedN = nWordOf(frequencyHz, channelStepHz(view.channelSpace));
    if (!expectedN)
        n += " (frequency is off the channel raster)";
    else if (*expectedN != image.read24(sys::kPllN))
        n += " (frequency gives " + hexWord(*expectedN) + ")";
    appendSetting(out, "PLL_N", n);
}

constexpr const char* kPagerLine = "%-5s %3s  %-7s  %-9s  %-9s  %-9s  %-5s  %s\n";

void appendPagers(std::string& out, const ConfigImage& image) {
    out += "[pagers]\n";
    out += format(kPagerLine, "#", "No.", "Address", "Type", "Baud", "FunBit", "Group", "Name");
    for (std::size_t k = 0; k < capcode::kPagerRecords; ++k) {
        const std::uint8_t* slot = image.capcodeSlot(k);
        const int type = slot[capcode::kType];
        const int baud = slot[capcode::kBaud];
        const int funcBits = slot[capcode::kFuncBits];
        const int group = slot[capcode::kGroup];
        const std::string name = readName(slot);
        out += format(kPagerLine, "pager", std::to_string(k + 1).c_str(), readAddress(slot).c_str(),
                      itemText(pagerTypeItems(), type - 1, type).c_str(),
                      itemText(pagerBaudItems(), baud - 1, baud).c_str(),
                      itemText(funcBitItems(), funcBits, funcBits).c_str(),
                      group == capcode::kNoGroup ? "-" : std::to_string(group).c_str(),
                      name.empty() ? "-" : printable(name).c_str());
    }
}

void appendMessages(std::string& out, const ConfigImage& image) {
    out += "[messages]\n";
    for (std::size_t m = 0; m < message::kSlotCount; ++m)
        out += format("message %3d  ", static_cast<int>(m + 1)) + printable(readMessage(image.messageSlot(m))) + "\n";
}

void appendAlarms(std::string& out, const ConfigImage& image) {
    out += "[alarms]\n";
    out += format("%-5s %s  %-8s  %s\n", "#", "No.", "PagerID", "Text");
    for (std::size_t j = 0; j < alarm::kRecordCount; ++j) {
        const std::uint8_t* record = image.alarmRecord(j);
        out += format("alarm %3d  %-8s  ", static_cast<int>(j + 1), printable(readPagerId(record)).c_str()) +
               printable(readAlarmText(record)) + "\n";
    }
}

int dump(const std::string& path) {
    ConfigImage image;
    if (const auto status = loadWholeTableFile(path, image)) return *status;
    std::string out;
    appendSystem(out, image);
    appendPagers(out, image);
    appendMessages(out, image);
    appendAlarms(out, image);
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        printError(std::string("cannot write the dump: ") + std::strerror(errno));
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

Action addDumpCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("dump", "print every setting and record of a table file");
    auto file = std::make_shared<std::string>();
    addFileArgument(*command, "FILE.tbl", *file, "the table file to print (exactly 40,959 bytes)");
    command->footer(
        "Prints the [system] settings as 'Name: value' lines (list settings by their\n"
        "item text, the frequency in Hz, the PLL words in hex), then one line per\n"
        "record in aligned columns: 'pager' (899 records), 'message' (100) and\n"
        "'alarm' (7). A byte that matches no list item prints as '(none: BYTE)'; an\n"
        "empty name or a pager without group prints '-'; unprintable bytes print as\n"
        "\\xNN.\n"
        "Exit status: 0 printed, 1 the output could not be written, 2 usage error or\n"
        "a file that cannot be read.\n");
    return [file] { return dump(*file); };
}

}  // namespace qm730::cli
