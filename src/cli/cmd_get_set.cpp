// qm730ctl set and get: the system settings of a table file by name, read
// as the Config tab shows them and changed through its rules.
#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <vector>

#include "cli/command.h"
#include "cli/editing.h"
#include "cli/tablefile.h"
#include "core/config/imagediff.h"
#include "core/config/pll.h"
#include "core/config/settingkeys.h"
#include "core/config/systemsettings.h"

namespace qm730::cli {

namespace {

struct SetOptions {
    std::string file;
    std::vector<std::string> assignments;
    EditOptions edit;
};

struct GetOptions {
    std::string file;
    std::vector<std::string> names;
    bool valuesOnly = false;
};

// A list's items in quotes, wrapped under the head of their line.
std::string itemLines(const std::string& head, std::span<const std::string_view> items) {
    constexpr std::size_t kWidth = 79;
    const std::string indent(head.size(), ' ');
    std::string out, line = head;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string piece = "\"" + std::string(items[i]) + "\"" + (i + 1 < items.size() ? "," : "");
        if (line.size() > indent.size()) {
            if (line.size() + 1 + piece.size() > kWidth) {
                out += line + "\n";
                line = indent;
            } else {
                line += " ";
            }
        }
        line += piece;
    }
    return out + line + "\n";
}

std::string setHelp() {
    std::string help =
        "Changes system settings of FILE.tbl, each given as NAME=VALUE, through the\n"
        "rules of the Config tab and the frequency controls. All are applied or none:\n"
        "a refused value prints \"qm730ctl: set FILE.tbl: NAME: RULE\" and nothing is\n"
        "written. Names are those 'qm730ctl get' and 'dump' print, in any case.\n"
        "\n"
        "  Delay_byte_1..4, Preamble_length, Pager_duration   0 to 255\n"
        "  Function_password   exactly 4 digits;  Setup_password   exactly 7 digits\n"
        "  Key_beep_off, Disable_frequency_set, Invert_polarity, LCD_back_light_on\n"
        "                      on or off (also 1/0, yes/no, true/false)\n";
    const std::pair<const char*, SystemList> lists[] = {
        {"UART_baud", SystemList::UartBaud},   {"UART_data", SystemList::UartData},
        {"Protocol_select", SystemList::Protocol}, {"Heartbeat", SystemList::Heartbeat},
        {"Baud", SystemList::Baud},            {"POCSAG_baud", SystemList::PocsagBaud},
        {"POCSAG_type", SystemList::PocsagType}};
    for (const auto& [name, list] : lists) {
        std::string head = "  " + std::string(name);
        head.resize(22, ' ');
        help += itemLines(head, listItems(list));
    }
    help +=
        "  Frequency           in hertz on the channel raster: 454500000, 454500000 Hz,\n"
        "                      454500 kHz or 454.5 MHz (a whole multiple of 100 Hz)\n"
        "  Channel_space       \"12.5k\" or \"10k\"\n"
        "\n"
        "A list value is an item as the Config tab shows it; blanks and case may be\n"
        "left out: UART_baud=9600bps. Frequency and Channel_space recompute the PLL\n"
        "words as the window does; Channel_space is applied first, so both can change\n"
        "together. Status_flags, PLL_R and PLL_N follow from the others. The file is\n"
        "written only when something changed, replaced in one step as 'qm730ctl new'\n"
        "writes it. Prints \"FILE.tbl: N settings changed\"; -v lists the changes.\n"
        "Another program changing the file at the same time is waited for, up to 5\n"
        "seconds; after that the file is in use and nothing is written.\n"
        "Exit status: 0 done, 2 usage error, a refused value or a file that cannot be\n"
        "read or written or is in use.\n";
    return help;
}

int set(const SetOptions& options, const CLI::App& command) {
    std::vector<SettingAssignment> assignments;
    for (const std::string& text : options.assignments) {
        const auto assignment = parseAssignment(text);
        if (!assignment) return usageError(command, "'" + text + "' is not NAME=VALUE");
        assignments.push_back(*assignment);
    }
    TableFileLock lock;
    if (!options.edit.dryRun)
        if (const auto status = lockTableFile(options.file, lock)) return *status;
    ConfigImage before;
    if (const auto status = loadWholeTableFile(options.file, before)) return *status;
    ConfigImage after = before;
    const std::vector<SettingRefusal> refusals = applySettings(after, assignments);
    for (const SettingRefusal& refusal : refusals)
        printError("set " + options.file + ": " + refusal.name + ": " + refusal.reason);
    if (!refusals.empty()) return kExitUsage;
    const std::size_t changed = describeDifferences(before, after).size();
    return finishEdit(options.file, before, after, changed ? counted(changed, "setting", "settings") : std::string(),
                      options.edit);
}

int get(const GetOptions& options) {
    std::vector<const SettingInfo*> chosen;
    bool unknown = false;
    for (const std::string& name : options.names) {
        const SettingInfo* info = findSetting(name);
        if (!info) {
            printError("get: no such setting '" + name + "' ('qm730ctl get FILE.tbl' lists them)");
            unknown = true;
        }
        chosen.push_back(info);
    }
    if (unknown) return kExitUsage;
    if (chosen.empty())
        for (const SettingInfo& info : settingTable()) chosen.push_back(&info);

    ConfigImage image;
    if (const auto status = loadWholeTableFile(options.file, image)) return *status;
    for (const SettingInfo* info : chosen) {
        const std::string value = settingValue(image, info->setting);
        if (options.valuesOnly)
            std::cout << value << "\n";
        else
            std::cout << info->name << ": " << value << settingRemark(image, info->setting) << "\n";
    }
    return kExitOk;
}

}  // namespace

Action addSetCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("set", "change system settings of a table file by name");
    auto options = std::make_shared<SetOptions>();
    addEditOptions(*command, options->edit);
    addFileArgument(*command, "FILE.tbl", options->file, "the table file to change (exactly 40,959 bytes)");
    command->add_option("NAME=VALUE", options->assignments, "a setting and its new value, e.g. UART_baud=9600bps")
        ->required()
        ->type_name("");
    command->footer(setHelp());
    return [options, command] { return set(*options, *command); };
}

Action addGetCommand(CLI::App& app) {
    CLI::App* command = app.add_subcommand("get", "print system settings of a table file by name");
    auto options = std::make_shared<GetOptions>();
    command->add_flag("-n,--values", options->valuesOnly, "print the values alone, one per line");
    addFileArgument(*command, "FILE.tbl", options->file, "the table file to read (exactly 40,959 bytes)");
    command->add_option("NAME", options->names, "a setting, in any case; all of them when none is named")
        ->type_name("");
    command->footer(
        "Prints 'Name: value' lines as the [system] part of 'qm730ctl dump' does, in\n"
        "the order the names are given: list settings by their item text, the\n"
        "frequency in Hz, the PLL words in hex with a remark where they do not match\n"
        "the frequency and spacing. Every value printed is one 'qm730ctl set' takes.\n"
        "Exit status: 0 printed, 1 the output could not be written, 2 usage error, an\n"
        "unknown name or a file that cannot be read.\n");
    return [options] { return get(*options); };
}

}  // namespace qm730::cli
