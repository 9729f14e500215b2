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
#include "core/config/image.h"
#include "core/config/pageviews.h"
#include "core/config/settingkeys.h"

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

// The settings by the names and in the texts that 'qm730ctl get' and 'set'
// use. A PLL word that does not match the frequency and spacing is flagged,
// since the board would be tuned wrongly.
void appendSystem(std::string& out, const ConfigImage& image) {
    out += "[system]\n";
    for (const SettingInfo& info : settingTable()) {
        out += info.name;
        out += ": " + settingValue(image, info.setting) + settingRemark(image, info.setting) + "\n";
    }
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
        out += format("message %3u  ", static_cast<unsigned>(m + 1)) + printable(readMessage(image.messageSlot(m))) + "\n";
}

void appendAlarms(std::string& out, const ConfigImage& image) {
    out += "[alarms]\n";
    out += format("%-5s %s  %-8s  %s\n", "#", "No.", "PagerID", "Text");
    for (std::size_t j = 0; j < alarm::kRecordCount; ++j) {
        const std::uint8_t* record = image.alarmRecord(j);
        out += format("alarm %3u  %-8s  ", static_cast<unsigned>(j + 1), printable(readPagerId(record)).c_str()) +
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
