#include "core/config/pagertable.h"

#include <cstdio>
#include <map>
#include <optional>

#include "core/config/csv.h"
#include "core/config/integertext.h"
#include "core/config/pageviews.h"
#include "core/config/paging.h"
#include "core/config/settingkeys.h"

namespace qm730 {

namespace {

using namespace tableimport;

enum PagerColumn { kIndex, kAddress, kFunBit, kType, kBaud, kName, kGroup, kPagerColumns };

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

// --- Decoding the changed values ------------------------------------------------

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

// --- Pager records ----------------------------------------------------------------

struct PagerWish {
    std::optional<std::string> address;
    std::optional<int> funcBits, type, baud;
    std::optional<std::string> name, group;

    bool touchesBlock() const { return address || funcBits || type || baud; }
};

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

// A block of records first..first+99 and what becomes of it.
struct Block {
    std::size_t first = 0;
    bool rewrite = false;  // its first record's row changes its address, lists or type
    CapcodeRow row;        // the row the block is stored from when it is rewritten
};

// What a rewrite gives record n, as its row reads.
std::string rewrittenText(const ConfigImage& image, const Block& block, std::size_t n, int column) {
    const Texts stored = storedTexts(image, n);
    const CapcodeRow& row = block.row;
    switch (column) {
        case kAddress: return sevenDigits(*parseInteger(row.address) + static_cast<std::int64_t>(n - block.first));
        case kFunBit: return row.funcBits ? itemText(funcBitItems(), *row.funcBits) : stored[kFunBit];
        case kType: return row.type ? itemText(pagerTypeItems(), *row.type) : stored[kType];
        case kBaud: return row.baud ? itemText(pagerBaudItems(), *row.baud) : stored[kBaud];
        case kGroup: return {};
        default: return stored[static_cast<std::size_t>(column)];
    }
}

// A block's other records follow its first: their address and list columns
// may only stay as they are or read what a rewrite gives them.
void checkFollowingRecord(Problems& problems, const ConfigImage& image, const Block& block, std::size_t n,
                          const Row& row, const PagerWish& wish) {
    const std::pair<bool, int> listColumns[] = {{wish.address.has_value(), kAddress},
                                                {wish.funcBits.has_value(), kFunBit},
                                                {wish.type.has_value(), kType},
                                                {wish.baud.has_value(), kBaud}};
    for (const auto& [changed, column] : listColumns) {
        if (!changed) continue;
        const std::string expected = rewrittenText(image, block, n, column);
        const std::string& given = row.fields[static_cast<std::size_t>(column)];
        const bool matches = column == kAddress
                                 ? wish.address == expected
                                 : matchItem(std::array<std::string_view, 1>{expected}, given).has_value();
        if (block.rewrite && matches) continue;
        problems.add(row, column,
                     block.rewrite ? blockRange(block.first) + " follow record " + std::to_string(block.first) +
                                         ": expected " + shown(expected)
                                   : blockRange(block.first) + " follow record " + std::to_string(block.first) +
                                         " and cannot be changed one by one");
    }
}

// Checks one record's row against what its block allows, and leaves in its
// wish only what is stored one by one: record 100's name and group.
void checkBlockRecord(Problems& problems, const ConfigImage& image, const Block& block, std::size_t n,
                      const Row& row, PagerWish& wish) {
    // Record 100 is also the last row of page 10, where its name and group
    // are edited one by one.
    const bool alsoOnPage10 = n == kFirstBlockRecord;
    if (n != block.first) checkFollowingRecord(problems, image, block, n, row, wish);
    if (wish.name && !alsoOnPage10) problems.add(row, kName, "the names of records 101 to 899 cannot be changed");
    if (wish.group && (block.rewrite ? !wish.group->empty() : !alsoOnPage10))
        problems.add(row, kGroup,
                     block.rewrite ? "a block that is rewritten has no groups"
                                   : "records 101 to 899 cannot be given a group");
    wish.address.reset();
    wish.funcBits.reset();
    wish.type.reset();
    wish.baud.reset();
    if (!alsoOnPage10 || block.rewrite) wish.group.reset();
    if (!alsoOnPage10) wish.name.reset();
}

// The block of records first..first+99: whether its first record rewrites
// it, and whether every other row keeps to what the block allows. Returns
// the row to store the block from when it is rewritten.
std::optional<CapcodeRow> checkBlock(Problems& problems, const ConfigImage& image, std::size_t blockIndex,
                                     const std::map<std::size_t, const Row*>& rows,
                                     std::map<std::size_t, PagerWish>& wishes) {
    Block block;
    block.first = kFirstBlockRecord * (blockIndex + 1);
    CapcodeRows pageRows;
    loadCapcodePage(image, kBlockPage, pageRows);
    block.row = pageRows[blockIndex];

    const auto firstWish = wishes.find(block.first);
    block.rewrite = firstWish != wishes.end() && firstWish->second.touchesBlock();
    if (block.rewrite) {
        applyToRow(firstWish->second, block.row, true);
        // A stored address may read as more than seven digits (a digit byte
        // above 9); the block's addresses must all be capcodes.
        const std::optional<std::int32_t> start = parseInteger(block.row.address);
        const std::int64_t last = start.value_or(0) + static_cast<std::int64_t>(kBlockSize) - 1;
        if (!start || *start < kSmallestAddress || last > kLargestAddress) {
            problems.add(*rows.at(block.first), kAddress,
                         "the block of records " + std::to_string(block.first) + " to " +
                             std::to_string(block.first + kBlockSize - 1) + " would get the addresses " +
                             block.row.address + " to " + (start ? sevenDigits(last) : std::string("?")) +
                             ", outside 8 to 2097151");
            return std::nullopt;
        }
    }
    for (std::size_t n = block.first; n < block.first + kBlockSize; ++n) {
        const auto found = wishes.find(n);
        if (found != wishes.end()) checkBlockRecord(problems, image, block, n, *rows.at(n), found->second);
    }
    if (!block.rewrite) return std::nullopt;
    return block.row;
}

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

}  // namespace qm730
