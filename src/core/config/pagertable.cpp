#include "core/config/pagertable.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "core/config/csv.h"
#include "core/config/editrules.h"
#include "core/config/integertext.h"
#include "core/config/pageviews.h"
#include "core/config/paging.h"
#include "core/config/settingkeys.h"
#include "core/config/texttrim.h"

namespace qm730 {

namespace {

enum PagerColumn { kIndex, kAddress, kFunBit, kType, kBaud, kName, kGroup, kPagerColumns };
enum MessageColumn { kKind, kMessageIndex, kPagerId, kContent, kMessageColumns };

using Texts = std::array<std::string, kPagerColumns>;

template <std::size_t N>
std::string itemText(const std::array<std::string_view, N>& items, int position) {
    if (position < 0 || position >= static_cast<int>(N)) return {};
    return std::string(items[static_cast<std::size_t>(position)]);
}

// A record's row with the name as the image holds it (single-byte text).
Texts storedTexts(const ConfigImage& image, std::size_t record) {
    const std::uint8_t* slot = image.capcodeSlot(record - 1);
    const int group = slot[capcode::kGroup];
    return {std::to_string(record),
            readAddress(slot),
            itemText(funcBitItems(), slot[capcode::kFuncBits]),
            itemText(pagerTypeItems(), slot[capcode::kType] - 1),
            itemText(pagerBaudItems(), slot[capcode::kBaud] - 1),
            readName(slot),
            group == capcode::kNoGroup ? std::string() : std::to_string(group)};
}

std::string sevenDigits(std::int64_t value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%07lld", static_cast<long long>(value));
    return digits;
}

// A value as a problem quotes it: UTF-8, control characters as \xNN.
std::string shown(std::string_view latin1) {
    std::string out = "'";
    for (char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += latin1ToUtf8(std::string_view(&c, 1));
        }
    }
    return out + "'";
}

// --- Reading a table ----------------------------------------------------------

struct Row {
    std::size_t line = 0;
    std::vector<std::string> fields;  // single-byte text, as the image holds it
    std::vector<std::size_t> fieldLines;
};

class Problems {
public:
    explicit Problems(std::vector<TableProblem>& list) : list_(list) {}
    void add(const Row& row, int column, std::string reason) {
        list_.push_back({row.fieldLines[static_cast<std::size_t>(column)], static_cast<std::size_t>(column) + 1,
                         std::move(reason)});
    }
    void add(std::size_t line, std::size_t column, std::string reason) {
        list_.push_back({line, column, std::move(reason)});
    }
    bool any() const { return !list_.empty(); }
    // In the order of the table, the easier to work through.
    void sort() {
        std::stable_sort(list_.begin(), list_.end(), [](const TableProblem& a, const TableProblem& b) {
            return a.line != b.line ? a.line < b.line : a.column < b.column;
        });
    }

private:
    std::vector<TableProblem>& list_;
};

std::vector<std::string_view> headingsOf(std::string_view header) {
    std::vector<std::string_view> headings;
    for (std::size_t start = 0;;) {
        const std::size_t comma = header.find(',', start);
        headings.push_back(header.substr(start, comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return headings;
}

bool headingMatches(std::string_view given, std::string_view heading) {
    const std::string_view items[] = {heading};
    return matchItem(items, given).has_value();
}

// Checks the header and converts every well-formed row; each problem on the
// way is recorded.
std::vector<Row> readTable(std::string_view csv, std::string_view header, Problems& problems) {
    const std::vector<std::string_view> headings = headingsOf(header);
    CsvTable table = parseCsv(csv);
    for (const CsvProblem& p : table.problems) problems.add(p.line, p.column, p.reason);
    std::vector<Row> rows;
    if (table.records.empty()) {
        problems.add(1, 0, "the table is empty; its first line must be the header " + std::string(header));
        return rows;
    }
    const CsvRecord& first = table.records.front();
    bool headerOk = first.fields.size() == headings.size();
    for (std::size_t i = 0; headerOk && i < headings.size(); ++i)
        headerOk = headingMatches(first.fields[i].text, headings[i]);
    if (!headerOk) {
        problems.add(first.line, 0, "the first line must be the header " + std::string(header));
        return rows;
    }
    for (std::size_t r = 1; r < table.records.size(); ++r) {
        const CsvRecord& record = table.records[r];
        if (record.fields.size() != headings.size()) {
            const std::size_t column = std::min(record.fields.size(), headings.size()) + 1;
            problems.add(record.line, column,
                         "the row has " + std::to_string(record.fields.size()) + " columns where the header has " +
                             std::to_string(headings.size()));
            continue;
        }
        Row row;
        row.line = record.line;
        bool ok = true;
        for (std::size_t c = 0; c < record.fields.size(); ++c) {
            std::string text, offending;
            row.fieldLines.push_back(record.fields[c].line);
            if (!utf8ToLatin1(record.fields[c].text, text, offending)) {
                problems.add(record.fields[c].line, c + 1,
                             "holds '" + offending + "', which is no single-byte character the board can store");
                ok = false;
            }
            row.fields.push_back(std::move(text));
        }
        if (ok) rows.push_back(std::move(row));
    }
    return rows;
}

// A record number of the given range; the reason when it is none.
std::optional<std::size_t> recordNumber(std::string_view text, std::size_t largest, std::string& reason) {
    const std::optional<std::int32_t> value = isDecimalDigits(text) ? parseInteger(text) : std::nullopt;
    if (!value || *value < 1 || static_cast<std::size_t>(*value) > largest) {
        reason = shown(text) + " is not a number from 1 to " + std::to_string(largest);
        return std::nullopt;
    }
    return static_cast<std::size_t>(*value);
}

// Whether every character passes the key rule of the column, as if typed.
bool typedCharactersPass(DataColumn column, std::string_view text, char& refused) {
    for (char c : text) {
        if (isBlankOrControl(c) && c != ' ') {
            refused = c;
            return false;
        }
        if (dataKeyPress(column, 0, 0, c).action != KeyAction::Pass) {
            refused = c;
            return false;
        }
    }
    return true;
}

// --- Decoding the changed values ------------------------------------------------
// Each returns std::nullopt when the value is no change, or the new value;
// a refused value leaves its reason.

struct Refusal {
    std::string reason;
};

template <typename T>
using Decoded = std::optional<T>;

Decoded<std::string> decodeAddress(const std::string& text, const std::string& stored, std::optional<Refusal>& bad) {
    if (text == stored) return std::nullopt;
    if (text.empty()) {
        bad = Refusal{"an address is needed: a number from 8 to 2097151"};
        return std::nullopt;
    }
    const AddressLeave leave = addressLeave(text, 0);
    if (leave.notice) {
        bad = Refusal{parseInteger(text).value_or(-1) < 0 ? shown(text) + " is not a decimal number"
                                                         : shown(text) + " is not a number from 8 to 2097151"};
        return std::nullopt;
    }
    if (*leave.fieldText == stored) return std::nullopt;
    return *leave.fieldText;
}

template <std::size_t N>
Decoded<int> decodeList(const std::string& text, const std::string& stored, const std::array<std::string_view, N>& items,
                        std::optional<Refusal>& bad) {
    if (text.empty() || text == stored) return std::nullopt;  // no selection leaves the byte as it is
    const std::optional<int> item = matchItem(items, text);
    if (!item) {
        bad = Refusal{shown(text) + " is not one of: " + itemList(items)};
        return std::nullopt;
    }
    if (items[static_cast<std::size_t>(*item)] == stored) return std::nullopt;
    return item;
}

Decoded<std::string> decodeName(const std::string& text, const std::string& stored, std::optional<Refusal>& bad) {
    if (text == stored) return std::nullopt;
    const std::string name = *nameLeave(text).fieldText;  // trimmed as leaving the field does
    char refused = 0;
    if (!typedCharactersPass(DataColumn::Name, name, refused)) {
        bad = Refusal{shown(text) + " holds " + shown(std::string(1, refused)) +
                      "; a name takes letters, digits and blanks only"};
    } else if (name.size() > capcode::kNameMax) {
        bad = Refusal{shown(text) + " has " + std::to_string(name.size()) + " characters; a name holds at most 10"};
    } else if (name != stored) {
        return name;
    }
    return std::nullopt;
}

// The new group as the table shows it ("" for none).
Decoded<std::string> decodeGroup(const std::string& text, const std::string& stored, std::optional<Refusal>& bad) {
    if (text == stored) return std::nullopt;
    if (text.empty()) return std::string();
    char refused = 0;
    if (!typedCharactersPass(DataColumn::Group, text, refused) || text.size() > 3 || groupLeave(text, true).notice) {
        bad = Refusal{shown(text) + " is not a group: a number from 0 to 99, or empty for none"};
        return std::nullopt;
    }
    const std::string group = std::to_string(*parseInteger(text));
    if (group == stored) return std::nullopt;
    return group;
}

// A PPG message or alarm text: trimmed as leaving its field does, at most
// `limit` characters and no control characters inside.
Decoded<std::string> decodeText(const std::string& text, const std::string& stored, std::size_t limit,
                                const char* what, std::optional<Refusal>& bad) {
    if (text == stored) return std::nullopt;
    const std::string trimmed = trimBoth(text);
    for (char c : trimmed) {
        if (isBlankOrControl(c) && c != ' ') {
            bad = Refusal{shown(text) + " holds the control character " + shown(std::string(1, c)) + "; " + what +
                          " is one line of text"};
            return std::nullopt;
        }
    }
    if (trimmed.size() > limit) {
        bad = Refusal{shown(text) + " has " + std::to_string(trimmed.size()) + " characters; " + what +
                      " holds at most " + std::to_string(limit)};
        return std::nullopt;
    }
    if (trimmed == stored) return std::nullopt;
    return trimmed;
}

Decoded<std::string> decodePagerId(const std::string& text, const std::string& stored, std::optional<Refusal>& bad) {
    if (text == stored) return std::nullopt;
    char refused = 0;
    if (text.empty() || text.size() > alarm::kPagerIdLength ||
        !typedCharactersPass(DataColumn::PagerId, text, refused) || pagerIdLeave(text).notice) {
        bad = Refusal{shown(text) + " is not a pager ID: 1 to 4 digits, a number from 0 to 899"};
        return std::nullopt;
    }
    return text;
}

// --- Pager records ----------------------------------------------------------------

struct PagerWish {
    std::optional<std::string> address;
    std::optional<int> funcBits, type, baud;
    std::optional<std::string> name, group;

    bool touchesBlock() const { return address || funcBits || type || baud; }
};

// Decodes one column of a row, recording a refusal against it.
template <typename T, typename Decode>
std::optional<T> decodeColumn(Problems& problems, const Row& row, int column, Decode decode) {
    std::optional<Refusal> bad;
    std::optional<T> value = decode(bad);
    if (bad) problems.add(row, column, std::move(bad->reason));
    return value;
}

PagerWish decodePagerRow(Problems& problems, const Row& row, const Texts& stored) {
    const auto& f = row.fields;
    PagerWish wish;
    wish.address = decodeColumn<std::string>(problems, row, kAddress,
                                             [&](auto& bad) { return decodeAddress(f[kAddress], stored[kAddress], bad); });
    wish.funcBits = decodeColumn<int>(problems, row, kFunBit,
                                      [&](auto& bad) { return decodeList(f[kFunBit], stored[kFunBit], funcBitItems(), bad); });
    wish.type = decodeColumn<int>(problems, row, kType,
                                  [&](auto& bad) { return decodeList(f[kType], stored[kType], pagerTypeItems(), bad); });
    wish.baud = decodeColumn<int>(problems, row, kBaud,
                                  [&](auto& bad) { return decodeList(f[kBaud], stored[kBaud], pagerBaudItems(), bad); });
    wish.name = decodeColumn<std::string>(problems, row, kName,
                                          [&](auto& bad) { return decodeName(f[kName], stored[kName], bad); });
    wish.group = decodeColumn<std::string>(problems, row, kGroup,
                                           [&](auto& bad) { return decodeGroup(f[kGroup], stored[kGroup], bad); });
    return wish;
}

void applyToRow(const PagerWish& wish, CapcodeRow& row, bool lists) {
    if (lists) {
        if (wish.address) row.address = *wish.address;
        if (wish.funcBits) row.funcBits = wish.funcBits;
        if (wish.type) row.type = wish.type;
        if (wish.baud) row.baud = wish.baud;
    }
    if (wish.name) row.name = *wish.name;
    if (wish.group) row.group = *wish.group;
}

constexpr std::size_t kFirstBlockRecord = 100;
constexpr std::size_t kBlockCount = kBlockRows;

std::string blockRange(std::size_t first) {
    return "records " + std::to_string(first + 1) + " to " + std::to_string(first + kBlockSize - 1);
}

// The block of records first..first+99: whether its first record rewrites
// it, and whether every other row keeps to what the block allows. Returns
// the row to store the block from when it is rewritten.
std::optional<CapcodeRow> checkBlock(Problems& problems, const ConfigImage& image, std::size_t block,
                                     const std::map<std::size_t, const Row*>& rows,
                                     std::map<std::size_t, PagerWish>& wishes) {
    const std::size_t first = kFirstBlockRecord * (block + 1);
    CapcodeRows pageRows;
    loadCapcodePage(image, kBlockPage, pageRows);
    CapcodeRow blockRow = pageRows[block];

    const auto firstWish = wishes.find(first);
    const bool rewrite = firstWish != wishes.end() && firstWish->second.touchesBlock();
    if (rewrite) {
        applyToRow(firstWish->second, blockRow, true);
        // A stored address may read as more than seven digits (a digit byte
        // above 9); the block's addresses must all be capcodes.
        const std::optional<std::int32_t> start = parseInteger(blockRow.address);
        const std::int64_t last = start.value_or(0) + static_cast<std::int64_t>(kBlockSize) - 1;
        if (!start || *start < kSmallestAddress || last > kLargestAddress) {
            problems.add(*rows.at(first), kAddress,
                         "the block of records " + std::to_string(first) + " to " +
                             std::to_string(first + kBlockSize - 1) + " would get the addresses " +
                             blockRow.address + " to " + (start ? sevenDigits(last) : std::string("?")) +
                             ", outside 8 to 2097151");
            return std::nullopt;
        }
    }

    // What a rewrite gives record n, as its row reads.
    const auto rewritten = [&](std::size_t n, int column) -> std::string {
        const Texts stored = storedTexts(image, n);
        switch (column) {
            case kAddress: return sevenDigits(*parseInteger(blockRow.address) + static_cast<std::int64_t>(n - first));
            case kFunBit: return blockRow.funcBits ? itemText(funcBitItems(), *blockRow.funcBits) : stored[kFunBit];
            case kType: return blockRow.type ? itemText(pagerTypeItems(), *blockRow.type) : stored[kType];
            case kBaud: return blockRow.baud ? itemText(pagerBaudItems(), *blockRow.baud) : stored[kBaud];
            case kGroup: return {};
            default: return stored[static_cast<std::size_t>(column)];
        }
    };

    for (std::size_t n = first; n < first + kBlockSize; ++n) {
        const auto found = wishes.find(n);
        if (found == wishes.end()) continue;
        PagerWish& wish = found->second;
        const Row& row = *rows.at(n);
        // Record 100 is also the last row of page 10, where its name and
        // group are edited one by one.
        const bool alsoOnPage10 = n == kFirstBlockRecord;
        if (n != first) {
            const std::pair<bool, int> listColumns[] = {{wish.address.has_value(), kAddress},
                                                        {wish.funcBits.has_value(), kFunBit},
                                                        {wish.type.has_value(), kType},
                                                        {wish.baud.has_value(), kBaud}};
            for (const auto& [changed, column] : listColumns) {
                if (!changed) continue;
                const std::string expected = rewritten(n, column);
                const std::string& given = row.fields[static_cast<std::size_t>(column)];
                const bool matches = column == kAddress ? wish.address == expected
                                                        : matchItem(std::array<std::string_view, 1>{expected}, given)
                                                              .has_value();
                if (rewrite && matches) continue;
                problems.add(row, column,
                             rewrite ? blockRange(first) + " follow record " + std::to_string(first) + ": expected " +
                                           shown(expected)
                                     : blockRange(first) + " follow record " + std::to_string(first) +
                                           " and cannot be changed one by one");
            }
        }
        if (wish.name && !alsoOnPage10)
            problems.add(row, kName, "the names of records 101 to 899 cannot be changed");
        if (wish.group && (rewrite ? !wish.group->empty() : !alsoOnPage10))
            problems.add(row, kGroup,
                         rewrite ? "a block that is rewritten has no groups"
                                 : "records 101 to 899 cannot be given a group");
        // What is left to store one by one: record 100's name and group.
        wish.address.reset();
        wish.funcBits.reset();
        wish.type.reset();
        wish.baud.reset();
        if (!alsoOnPage10 || rewrite) wish.group.reset();
        if (!alsoOnPage10) wish.name.reset();
    }
    if (!rewrite) return std::nullopt;
    return blockRow;
}

// --- Messages ---------------------------------------------------------------------

struct MessageWish {
    std::optional<std::string> text;
    std::optional<std::string> pagerId;
};

}  // namespace

std::array<std::string, 7> pagerRowTexts(const ConfigImage& image, std::size_t record) {
    Texts texts = storedTexts(image, record);
    texts[kName] = latin1ToUtf8(texts[kName]);
    return texts;
}

std::string exportPagers(const ConfigImage& image) {
    std::string out = std::string(kPagerTableHeader) + "\r\n";
    for (std::size_t record = 1; record <= capcode::kPagerRecords; ++record) {
        const auto texts = pagerRowTexts(image, record);
        out += csvRecord({texts.begin(), texts.end()});
    }
    return out;
}

std::string exportMessages(const ConfigImage& image) {
    std::string out = std::string(kMessageTableHeader) + "\r\n";
    for (std::size_t m = 0; m < message::kSlotCount; ++m)
        out += csvRecord({"PPG", std::to_string(m + 1), "", latin1ToUtf8(readMessage(image.messageSlot(m)))});
    for (std::size_t j = 0; j < alarm::kRecordCount; ++j) {
        const std::uint8_t* record = image.alarmRecord(j);
        out += csvRecord({"Alarm", std::to_string(j + 1), latin1ToUtf8(readPagerId(record)),
                          latin1ToUtf8(readAlarmText(record))});
    }
    return out;
}

std::string describeProblem(const TableProblem& problem, std::string_view header) {
    std::string out = "line " + std::to_string(problem.line);
    if (problem.column > 0) {
        out += ", column " + std::to_string(problem.column);
        const std::vector<std::string_view> headings = headingsOf(header);
        if (problem.column <= headings.size()) out += " (" + std::string(headings[problem.column - 1]) + ")";
    }
    return out + ": " + problem.reason;
}

ImportResult importPagers(ConfigImage& image, std::string_view csv) {
    ImportResult result;
    Problems problems(result.problems);
    const std::vector<Row> rows = readTable(csv, kPagerTableHeader, problems);
    result.rows = rows.size();

    std::map<std::size_t, const Row*> byRecord;
    for (const Row& row : rows) {
        std::string reason;
        const auto record = recordNumber(row.fields[kIndex], capcode::kPagerRecords, reason);
        if (!record) {
            problems.add(row, kIndex, reason);
        } else if (const auto earlier = byRecord.find(*record); earlier != byRecord.end()) {
            problems.add(row, kIndex,
                         "record " + std::to_string(*record) + " is given again (first on line " +
                             std::to_string(earlier->second->line) + ")");
        } else {
            byRecord.emplace(*record, &row);
        }
    }

    std::map<std::size_t, PagerWish> wishes;
    for (const auto& [record, row] : byRecord) wishes[record] = decodePagerRow(problems, *row, storedTexts(image, record));
    std::array<std::optional<CapcodeRow>, kBlockCount> blocks;
    if (!problems.any())
        for (std::size_t b = 0; b < kBlockCount; ++b) blocks[b] = checkBlock(problems, image, b, byRecord, wishes);
    if (problems.any()) {
        problems.sort();
        return result;
    }

    ConfigImage work = image;
    for (std::size_t b = 0; b < kBlockCount; ++b)
        if (blocks[b]) storeCapcodeBlock(work, static_cast<int>(b), *blocks[b]);
    // Records 1 to 100 through the pages that show them one per row.
    for (int page = 1; page < kBlockPage; ++page) {
        CapcodeRows pageRows;
        loadCapcodePage(work, page, pageRows);
        bool any = false;
        for (int r = 0; r < kRowsPerPage; ++r) {
            const auto found = wishes.find(capcodeSlotOfRow(page, r) + 1);
            if (found == wishes.end()) continue;
            applyToRow(found->second, pageRows[static_cast<std::size_t>(r)], true);
            any = true;
        }
        if (any) storeCapcodePage(work, page, pageRows);
    }
    image = work;
    return result;
}

ImportResult importMessages(ConfigImage& image, std::string_view csv) {
    ImportResult result;
    Problems problems(result.problems);
    const std::vector<Row> rows = readTable(csv, kMessageTableHeader, problems);
    result.rows = rows.size();

    static constexpr std::array<std::string_view, 2> kKinds{"PPG", "Alarm"};
    std::map<std::size_t, MessageWish> messages, alarms;
    std::map<std::pair<int, std::size_t>, std::size_t> seen;  // (kind, number) -> line
    for (const Row& row : rows) {
        const std::optional<int> kind = matchItem(kKinds, row.fields[kKind]);
        if (!kind) {
            problems.add(row, kKind, shown(row.fields[kKind]) + " is not PPG or Alarm");
            continue;
        }
        const bool isAlarm = *kind == 1;
        std::string reason;
        const auto number =
            recordNumber(row.fields[kMessageIndex], isAlarm ? alarm::kRecordCount : message::kSlotCount, reason);
        if (!number) {
            problems.add(row, kMessageIndex, reason);
            continue;
        }
        const auto [earlier, fresh] = seen.emplace(std::make_pair(*kind, *number), row.line);
        if (!fresh) {
            problems.add(row, kMessageIndex,
                         std::string(isAlarm ? "alarm " : "PPG message ") + std::to_string(*number) +
                             " is given again (first on line " + std::to_string(earlier->second) + ")");
            continue;
        }
        MessageWish wish;
        if (isAlarm) {
            const std::uint8_t* record = image.alarmRecord(*number - 1);
            wish.pagerId = decodeColumn<std::string>(problems, row, kPagerId, [&](auto& bad) {
                return decodePagerId(row.fields[kPagerId], readPagerId(record), bad);
            });
            wish.text = decodeColumn<std::string>(problems, row, kContent, [&](auto& bad) {
                return decodeText(row.fields[kContent], readAlarmText(record), alarm::kTextMax, "an alarm text", bad);
            });
            alarms[*number] = wish;
        } else {
            if (!row.fields[kPagerId].empty())
                problems.add(row, kPagerId, "a PPG message has no pager ID; leave the column empty");
            wish.text = decodeColumn<std::string>(problems, row, kContent, [&](auto& bad) {
                return decodeText(row.fields[kContent], readMessage(image.messageSlot(*number - 1)), kMessageStoreMax,
                                  "a PPG message", bad);
            });
            messages[*number] = wish;
        }
    }
    if (problems.any()) {
        problems.sort();
        return result;
    }

    ConfigImage work = image;
    for (int page = 1; page <= kMessagePageCount; ++page) {
        MessageRows pageRows = loadMessagePage(work, page);
        bool any = false;
        for (int r = 0; r < kRowsPerPage; ++r) {
            const auto found = messages.find(messageSlotOfRow(page, r) + 1);
            if (found == messages.end() || !found->second.text) continue;
            pageRows[static_cast<std::size_t>(r)].text = *found->second.text;
            any = true;
        }
        if (any) storeMessagePage(work, page, pageRows);
    }
    AlarmRows alarmRows = loadAlarmPage(work);
    for (const auto& [number, wish] : alarms) {
        AlarmRow& row = alarmRows[number - 1];
        if (wish.pagerId) row.pagerId = *wish.pagerId;
        if (wish.text) row.text = *wish.text;
    }
    if (!alarms.empty()) storeAlarmPage(work, alarmRows);
    image = work;
    return result;
}

}  // namespace qm730
