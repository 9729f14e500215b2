#include "core/config/pageviews.h"

#include <cstdio>

#include "core/config/integertext.h"
#include "core/config/texttrim.h"

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

// Whether a store writes a text field: only when the operator changed it,
// and then a text of 1 to maxLength characters, or an empty one where the
// field showed text before (the operator erased it).
bool writesText(bool changed, std::string_view text, std::string_view before, std::size_t maxLength) {
    if (!changed) return false;
    return text.empty() ? !before.empty() : text.size() <= maxLength;
}

void storeRecordRow(std::uint8_t* slot, CapcodeRow& row) {
    writeRowLists(slot, row);
    if (row.address != row.loadedAddress) {
        if (isDecimalDigits(row.address) && row.address.size() <= capcode::kAddressLength)
            writeAddress(slot, row.address);
        else
            row.address = readAddress(slot);  // the slot keeps its address and the row shows it again
    }
    row.loadedAddress = row.address;
    if (writesText(row.name != row.loadedName, row.name, row.loadedName, capcode::kNameMax)) writeName(slot, row.name);
    row.loadedName = row.name;
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
    row.loadedAddress = row.address;
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

std::optional<Notice> storeCapcodeBlock(ConfigImage& image, int block, CapcodeRow& row) {
    if (!parseInteger(row.address)) return notAnIntegerNotice(row.address);
    storeBlockRow(image, capcodeSlotOfRow(kBlockPage, block), row);
    return std::nullopt;
}

void loadCapcodePage(const ConfigImage& image, int page, CapcodeRows& rows) {
    for (int r = 0; r < kRowsPerPage; ++r) {
        CapcodeRow& row = rows[r];
        const std::uint8_t* slot = image.capcodeSlot(capcodeSlotOfRow(page, r));
        loadRowLists(slot, row);
        row.address = row.loadedAddress = readAddress(slot);
        if (page == kBlockPage) {
            row.nameEnabled = row.groupBoxEnabled = row.groupEnabled = false;
            continue;
        }
        row.nameEnabled = row.groupBoxEnabled = true;
        row.name = row.loadedName = readName(slot);
        const std::uint8_t group = slot[capcode::kGroup];
        row.groupChecked = row.groupEnabled = group != capcode::kNoGroup;
        row.group = row.groupChecked ? std::to_string(group) : std::string();
    }
}

void storeMessagePage(ConfigImage& image, int page, MessageRows& rows) {
    for (int r = 0; r < kRowsPerPage; ++r) {
        MessageRow& row = rows[r];
        const std::string text = trimRight(row.text);
        if (writesText(row.text != row.loadedText, text, trimRight(row.loadedText), kMessageStoreMax))
            writeText(image.messageSlot(messageSlotOfRow(page, r)), message::kSlotSize, text);
        row.loadedText = row.text;
    }
}

MessageRows loadMessagePage(const ConfigImage& image, int page) {
    MessageRows rows;
    for (int r = 0; r < kRowsPerPage; ++r) {
        MessageRow& row = rows[r];
        row.text = row.loadedText = readMessage(image.messageSlot(messageSlotOfRow(page, r)));
    }
    return rows;
}

std::optional<Notice> storeAlarmPage(ConfigImage& image, AlarmRows& rows) {
    std::optional<Notice> notice;
    for (std::size_t j = 0; j < alarm::kRecordCount; ++j) {
        std::uint8_t* record = image.alarmRecord(j);
        AlarmRow& row = rows[j];
        if (row.pagerId.empty() || row.pagerId.size() > alarm::kPagerIdLength) {
            notice = warningNotice("PagerID More then 4 Characters!");
        } else if (row.pagerId != row.loadedPagerId) {
            if (isDecimalDigits(row.pagerId))
                writeText(record + alarm::kPagerId, alarm::kPagerIdLength, row.pagerId);
            else
                row.pagerId = readPagerId(record);
        }
        row.loadedPagerId = row.pagerId;
        if (writesText(row.text != row.loadedText, row.text, row.loadedText, alarm::kTextMax))
            writeText(record + alarm::kText, alarm::kTextField, row.text);
        row.loadedText = row.text;
    }
    return notice;
}

AlarmRows loadAlarmPage(const ConfigImage& image) {
    AlarmRows rows;
    for (std::size_t j = 0; j < alarm::kRecordCount; ++j) {
        AlarmRow& row = rows[j];
        row.pagerId = row.loadedPagerId = readPagerId(image.alarmRecord(j));
        row.text = row.loadedText = readAlarmText(image.alarmRecord(j));
    }
    return rows;
}

}  // namespace qm730
