#include "config/pageviews.h"

#include <cstdio>

#include "config/integertext.h"
#include "config/texttrim.h"

namespace qm730 {

namespace {

constexpr std::uint8_t kListCodeBase = 1;  // type and baud bytes hold position + 1
constexpr std::int64_t kLargestAddress = 9999999;  // seven digits

template <std::size_t N>
std::optional<int> positionOf(int code, const std::array<std::string_view, N>&) {
    if (code < 0 || code >= static_cast<int>(N)) return std::nullopt;
    return code;
}

void writeList(std::uint8_t& byte, const std::optional<int>& position, int base) {
    if (position) byte = static_cast<std::uint8_t>(*position + base);
}

void writeRowLists(std::uint8_t* slot, const CapcodeRow& row) {
    writeList(slot[capcode::kFuncBits], row.funcBits, 0);
    writeList(slot[capcode::kType], row.type, kListCodeBase);
    writeList(slot[capcode::kBaud], row.baud, kListCodeBase);
}

// The texts that a store converts to numbers: groups on pages 1..10, the
// block addresses on page 11. Returns the first one that is no number.
std::optional<Notice> checkNumbers(int page, const CapcodeRows& rows) {
    for (int r = 0; r < kRowsPerPage; ++r) {
        const CapcodeRow& row = rows[r];
        if (page == kBlockPage) {
            if (r < kBlockRows && !parseInteger(row.address)) return notAnIntegerNotice(row.address);
        } else if (!row.group.empty() && !parseInteger(row.group)) {
            return notAnIntegerNotice(row.group);
        }
    }
    return std::nullopt;
}

void storeRecordRow(std::uint8_t* slot, CapcodeRow& row) {
    writeRowLists(slot, row);
    writeAddress(slot, row.address);  // eight or more characters are not written
    writeName(slot, row.name);        // more than ten are not written
    if (row.group.empty()) {
        slot[capcode::kGroup] = capcode::kNoGroup;
        row.groupChecked = false;
    } else {
        slot[capcode::kGroup] = static_cast<std::uint8_t>(*parseInteger(row.group));
        row.groupChecked = true;
    }
    row.groupEnabled = row.groupChecked;
}

// Rewrites one block of 100 pager records from the row standing for it.
void storeBlockRow(ConfigImage& image, std::size_t firstSlot, CapcodeRow& row) {
    const std::int64_t first = *parseInteger(row.address);
    for (std::size_t n = 0; n < kBlockSize; ++n) {
        std::uint8_t* slot = image.capcodeSlot(firstSlot + n);
        writeRowLists(slot, row);
        slot[capcode::kGroup] = capcode::kNoGroup;
        const std::int64_t address = first + static_cast<std::int64_t>(n);
        if (address < 0 || address > kLargestAddress) continue;
        char digits[16];
        std::snprintf(digits, sizeof digits, "%07lld", static_cast<long long>(address));
        writeAddress(slot, digits);
    }
    row.groupChecked = false;
    row.groupEnabled = false;
}

void loadRowLists(const std::uint8_t* slot, CapcodeRow& row) {
    row.funcBits = positionOf(slot[capcode::kFuncBits], funcBitItems());
    row.type = positionOf(slot[capcode::kType] - kListCodeBase, pagerTypeItems());
    row.baud = positionOf(slot[capcode::kBaud] - kListCodeBase, pagerBaudItems());
}

}  // namespace

const std::array<std::string_view, 4>& funcBitItems() {
    static constexpr std::array<std::string_view, 4> items{"0  0", "0  1", "1  0", "1  1"};
    return items;
}

const std::array<std::string_view, 3>& pagerTypeItems() {
    static constexpr std::array<std::string_view, 3> items{"Alpha", "Numeric", "Tone"};
    return items;
}

const std::array<std::string_view, 3>& pagerBaudItems() {
    static constexpr std::array<std::string_view, 3> items{"512 bps", "1200 bps", "2400 bps"};
    return items;
}

std::optional<Notice> storeCapcodePage(ConfigImage& image, int page, CapcodeRows& rows) {
    if (auto notice = checkNumbers(page, rows)) return notice;
    if (page == kBlockPage) {
        for (int r = 0; r < kBlockRows; ++r) storeBlockRow(image, capcodeSlotOfRow(page, r), rows[r]);
    } else {
        for (int r = 0; r < kRowsPerPage; ++r) storeRecordRow(image.capcodeSlot(capcodeSlotOfRow(page, r)), rows[r]);
    }
    return std::nullopt;
}

void loadCapcodePage(const ConfigImage& image, int page, CapcodeRows& rows) {
    for (int r = 0; r < kRowsPerPage; ++r) {
        CapcodeRow& row = rows[r];
        const std::uint8_t* slot = image.capcodeSlot(capcodeSlotOfRow(page, r));
        loadRowLists(slot, row);
        row.address = readAddress(slot);
        if (page == kBlockPage) {
            row.nameEnabled = row.groupBoxEnabled = row.groupEnabled = false;
            continue;
        }
        row.nameEnabled = row.groupBoxEnabled = true;
        row.name = readName(slot);
        const std::uint8_t group = slot[capcode::kGroup];
        row.groupChecked = row.groupEnabled = group != capcode::kNoGroup;
        row.group = row.groupChecked ? std::to_string(group) : std::string();
    }
}

void storeMessagePage(ConfigImage& image, int page, const MessageRows& rows) {
    for (int r = 0; r < kRowsPerPage; ++r) {
        const std::string text = trimRight(rows[r]);
        if (text.size() <= kMessageStoreMax) writeText(image.messageSlot(messageSlotOfRow(page, r)), message::kSlotSize, text);
    }
}

MessageRows loadMessagePage(const ConfigImage& image, int page) {
    MessageRows rows;
    for (int r = 0; r < kRowsPerPage; ++r) rows[r] = readMessage(image.messageSlot(messageSlotOfRow(page, r)));
    return rows;
}

std::optional<Notice> storeAlarmPage(ConfigImage& image, const AlarmRows& rows) {
    std::optional<Notice> notice;
    for (std::size_t j = 0; j < alarm::kRecordCount; ++j) {
        std::uint8_t* record = image.alarmRecord(j);
        const AlarmRow& row = rows[j];
        if (!row.pagerId.empty() && row.pagerId.size() <= alarm::kPagerIdLength)
            writeText(record + alarm::kPagerId, alarm::kPagerIdLength, row.pagerId);
        else
            notice = warningNotice("PagerID More then 4 Characters!");
        if (row.text.size() <= alarm::kTextMax) writeText(record + alarm::kText, alarm::kTextField, row.text);
    }
    return notice;
}

AlarmRows loadAlarmPage(const ConfigImage& image) {
    AlarmRows rows;
    for (std::size_t j = 0; j < alarm::kRecordCount; ++j) {
        rows[j].pagerId = readPagerId(image.alarmRecord(j));
        rows[j].text = readAlarmText(image.alarmRecord(j));
    }
    return rows;
}

}  // namespace qm730
