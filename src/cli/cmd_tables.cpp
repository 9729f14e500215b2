// qm730ctl pagers and messages: the pager records, the PPG messages and the
// alarm messages of a table file as CSV tables, out and back in through the
// rules of the data tabs.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>

#include "cli/command.h"
#include "cli/editing.h"
#include "cli/tablefile.h"
#include "core/config/messagetable.h"
#include "core/config/pagertable.h"

namespace qm730::cli {

namespace {

struct TableOptions {
    std::string file;
    std::string csv;
    EditOptions edit;
};

struct TableKind {
    const char* name;  // the command: "pagers"
    std::string_view header;
    std::string (*exportTable)(const ConfigImage&);
    ImportResult (*importTable)(ConfigImage&, std::string_view);
    std::string (*countChanges)(const ConfigImage&, const ConfigImage&);
};

// A file of another kind can have a problem on every one of its lines: the
// first ones are told, then how many more there are.
constexpr std::size_t kProblemsShown = 100;

bool differ(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) { return !std::equal(a, a + length, b); }

// What an import changed, counted for its summary; empty when nothing.
std::string pagerChanges(const ConfigImage& before, const ConfigImage& after) {
    std::size_t records = 0;
    for (std::size_t k = 0; k < capcode::kPagerRecords; ++k)
        records += differ(before.capcodeSlot(k), after.capcodeSlot(k), capcode::kSlotSize);
    return records == 0 ? std::string() : counted(records, "pager record", "pager records");
}

std::string messageChanges(const ConfigImage& before, const ConfigImage& after) {
    std::size_t ppg = 0, alarms = 0;
    for (std::size_t m = 0; m < message::kSlotCount; ++m)
        ppg += differ(before.messageSlot(m), after.messageSlot(m), message::kSlotSize);
    for (std::size_t j = 0; j < alarm::kRecordCount; ++j)
        alarms += differ(before.alarmRecord(j), after.alarmRecord(j), alarm::kRecordSize);
    if (ppg + alarms == 0) return {};
    if (alarms == 0) return counted(ppg, "PPG message", "PPG messages");
    if (ppg == 0) return counted(alarms, "alarm message", "alarm messages");
    return counted(ppg, "PPG message", "PPG messages") + " and " + counted(alarms, "alarm message", "alarm messages");
}

int exportTable(const TableKind& kind, const TableOptions& options) {
    ConfigImage image;
    if (const auto status = loadWholeTableFile(options.file, image)) return *status;
    return writeTextFile(options.csv, kind.exportTable(image), options.file).value_or(kExitOk);
}

int importTable(const TableKind& kind, const TableOptions& options) {
    ConfigImage before;
    if (const auto status = loadWholeTableFile(options.file, before)) return *status;
    std::string text;
    if (const auto status = readTextFile(options.csv, text)) return *status;
    // Standard input may take its time: the lock is taken once the table is
    // read, and the file read again under it, as it is now.
    TableFileLock lock;
    if (!options.edit.dryRun) {
        if (const auto status = lockTableFile(options.file, lock)) return *status;
        if (const auto status = loadWholeTableFile(options.file, before)) return *status;
    }
    ConfigImage after = before;
    const ImportResult result = kind.importTable(after, text);
    const std::string where = std::string(kind.name) + " import " + options.csv + ": ";
    const std::size_t shown = std::min(result.problems.size(), kProblemsShown);
    for (std::size_t i = 0; i < shown; ++i) printError(where + describeProblem(result.problems[i], kind.header));
    if (result.problems.size() > shown)
        printError(where + counted(result.problems.size() - shown, "more problem", "more problems") + " not shown");
    if (!result.problems.empty()) return kExitUsage;
    return finishEdit(options.file, before, after, kind.countChanges(before, after), options.edit);
}

Action addTableCommand(CLI::App& app, const TableKind& kind, const std::string& description,
                       const std::string& exportHelp, const std::string& importHelp) {
    CLI::App* command = app.add_subcommand(kind.name, description);
    command->require_subcommand(1);
    const std::string name = kind.name;
    command->footer("  qm730ctl " + name + " export FILE.tbl [OUT.csv]\n  qm730ctl " + name +
                    " import [-v|-q] [-n] FILE.tbl IN.csv\n'qm730ctl " + name + " export --help' and 'qm730ctl " +
                    name + " import --help' explain each.\n");
    auto exportOptions = std::make_shared<TableOptions>();
    auto importOptions = std::make_shared<TableOptions>();

    CLI::App* exporting = command->add_subcommand("export", "write the table of a table file as CSV");
    addFileArgument(*exporting, "FILE.tbl", exportOptions->file, "the table file to read (exactly 40,959 bytes)");
    exporting->add_option("OUT.csv", exportOptions->csv, "the CSV file to write; standard output without it or for -")
        ->type_name("");
    exporting->footer(exportHelp);

    CLI::App* importing = command->add_subcommand("import", "take a CSV table back into a table file");
    addEditOptions(*importing, importOptions->edit);
    addFileArgument(*importing, "FILE.tbl", importOptions->file, "the table file to change (exactly 40,959 bytes)");
    addFileArgument(*importing, "IN.csv", importOptions->csv, "the CSV table to read; - for standard input");
    importing->footer(importHelp);

    const TableKind* chosen = &kind;
    return [=] {
        return exporting->parsed() ? exportTable(*chosen, *exportOptions) : importTable(*chosen, *importOptions);
    };
}

const TableKind kPagers{"pagers", kPagerTableHeader, exportPagers, importPagers, pagerChanges};
const TableKind kMessages{"messages", kMessageTableHeader, exportMessages, importMessages, messageChanges};

constexpr const char* kCsvRules =
    "The CSV follows RFC 4180: UTF-8, CRLF line ends (LF or CR alone is read too),\n"
    "a field that holds a comma, a quote or a line end in double quotes with its\n"
    "quotes doubled.\n";

constexpr const char* kExportRules =
    "OUT.csv is replaced in one step, as table files are; a FIFO, a device, a\n"
    "folder, a read-only file or a link that leads nowhere is refused.\n"
    "Exit status: 0 written, 1 standard output failed, 2 usage or file error.\n";

constexpr const char* kImportRules =
    "Rows may come in any order and need not cover every record; a record without a\n"
    "row keeps what it holds. A value that reads as the record holds it is no\n"
    "change; every changed value must pass the rule of its field in the window.\n"
    "Every bad value prints one line, \"qm730ctl: COMMAND import IN.csv: line L,\n"
    "column C (Heading): RULE\", and then nothing is written. The file is written\n"
    "only when something changed, replaced in one step as 'qm730ctl new' writes\n"
    "it. Prints \"FILE.tbl: N ... changed\"; -v lists the changes. Only the first\n"
    "100 problems are told, then how many more there are. Another program\n"
    "changing the file at the same time is waited for, up to 5 seconds; after\n"
    "that the file is in use and nothing is written.\n"
    "Exit status: 0 done, 2 usage error, a bad row or a file that cannot be read\n"
    "or written or is in use.\n";

}  // namespace

Action addPagersCommand(CLI::App& app) {
    return addTableCommand(
        app, kPagers, "the pager records of a table file as a CSV table (export, import)",
        std::string("Writes the header Index,Address,FunBit,Type,Baud,Name,Group and one row per\n"
                    "pager record 1 to 899, the values as the Pager DataBase tab shows them:\n"
                    "\"1,1234560,0  0,Alpha,1200 bps,,\". A list byte that matches no item is\n"
                    "written empty, and so is the group of a pager in no group.\n") +
            kCsvRules + kExportRules,
        std::string("Takes pager records back from a CSV table with the header\n"
                    "Index,Address,FunBit,Type,Baud,Name,Group (headings in any case).\n"
                    "  Address  8 to 2097151, stored as seven digits\n"
                    "  FunBit, Type, Baud  an item as the lists show it (\"0  0\", \"Alpha\",\n"
                    "           \"1200 bps\"); blanks and case may be left out; empty leaves it\n"
                    "  Name     up to 10 letters, digits and blanks (trimmed); empty erases it\n"
                    "  Group    0 to 99; empty for none\n"
                    "Records 1 to 99 change one by one. Records 100 to 899 form the blocks\n"
                    "100-199, 200-299 .. 800-899, which the window edits through the first\n"
                    "record of each: a new address, FunBit, Type or Baud there rewrites the whole\n"
                    "block with consecutive addresses from it, its lists and no group, keeping\n"
                    "the names. The block's other rows may keep their old values or read what\n"
                    "the rewrite gives them; they cannot change on their own. Record 100 also\n"
                    "takes a new name, and a group while its block is not rewritten.\n") +
            kCsvRules + kImportRules);
}

Action addMessagesCommand(CLI::App& app) {
    return addTableCommand(
        app, kMessages, "the PPG and alarm messages of a table file as a CSV table (export, import)",
        std::string("Writes the header Kind,Index,Pager ID,Content, then one row per PPG message\n"
                    "1 to 100 (\"PPG,1,,No.1 ppg message\") and per alarm message 1 to 7 with\n"
                    "its pager ID (\"Alarm,1,101,Contact 1\").\n") +
            kCsvRules + kExportRules,
        std::string("Takes messages back from a CSV table with the header Kind,Index,Pager ID,\n"
                    "Content (headings in any case).\n"
                    "  Kind      PPG (Index 1 to 100, no pager ID) or Alarm (Index 1 to 7)\n"
                    "  Pager ID  1 to 4 digits, at most 899\n"
                    "  Content   one line, trimmed; at most 60 characters for a PPG message and\n"
                    "            59 for an alarm; empty erases it\n") +
            kCsvRules + kImportRules);
}

}  // namespace qm730::cli
