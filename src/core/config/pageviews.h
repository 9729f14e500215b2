// The data tabs' rows as plain values, and the copies between them and the
// image. The GUI copies its widgets into these rows before a store and out of
// them after a load; the rows are the working copy of the shown page.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/config/image.h"
#include "core/config/notice.h"
#include "core/config/paging.h"

namespace qm730 {

// Items of a pager row's lists. The type and baud bytes hold position + 1,
// the function-bits byte the position itself.
const std::array<std::string_view, 4>& funcBitItems();  // cboFunc
const std::array<std::string_view, 3>& pagerTypeItems();  // cboType
const std::array<std::string_view, 3>& pagerBaudItems();  // cboBaud

// The text fields of the rows come in pairs: what the field shows now, and
// what it showed when the last load or store left it ("loaded"). A store
// writes such a field only when the two differ, that is when the operator
// changed it: showing a page and leaving it changes no byte, however the
// slot's bytes look. Emptying a field that showed text erases the stored
// text; a field that was empty and still is writes nothing.

// One row of the "Pager DataBase" tab. A list without a selection is
// std::nullopt: storing it leaves the byte as it is, and a byte that matches
// no item loads as no selection.
struct CapcodeRow {
    std::optional<int> funcBits;  // cboFunc position 0..3
    std::optional<int> type;      // cboType position 0..2
    std::optional<int> baud;      // cboBaud position 0..2
    std::string address;
    std::string name;
    std::string group;
    bool groupChecked = false;
    bool groupEnabled = false;     // edtGroup
    bool nameEnabled = true;       // edtName
    bool groupBoxEnabled = true;   // chkGroup
    std::string loadedAddress;
    std::string loadedName;
};
using CapcodeRows = std::array<CapcodeRow, kRowsPerPage>;

// Stores the ten rows of a capcode page. Pages 1..10 write one slot per row:
// the lists, the group (setting the row's group check state from its text),
// a changed address when it is 1 to 7 decimal digits (any other address
// keeps the slot's address, which the row then shows again) and a changed
// name of up to 10 characters. Page 11 rewrites the whole block of 100 slots
// behind each of its eight rows, edited or not: the row's lists, no group,
// and consecutive addresses from the row's address.
// Every text that must be converted to a number (groups, block addresses) is
// checked first; if one is not a number, nothing at all is stored and the
// returned notice says which text it was.
std::optional<Notice> storeCapcodePage(ConfigImage& image, int page, CapcodeRows& rows);

// Rewrites the block of 100 pager records that page 11's row `block` (0..7)
// stands for, as leaving page 11 does for each of its rows. Refused with a
// notice, storing nothing, when the row's address is no number.
std::optional<Notice> storeCapcodeBlock(ConfigImage& image, int block, CapcodeRow& row);

// Loads a capcode page into the rows. On page 11 the names and groups keep
// their texts and are disabled.
void loadCapcodePage(const ConfigImage& image, int page, CapcodeRows& rows);

// One row of the "PPG Message" tab.
struct MessageRow {
    std::string text;
    std::string loadedText;
};
using MessageRows = std::array<MessageRow, kRowsPerPage>;

// Stores the changed messages of a page. Trailing blanks and line ends are
// cut; a text of 1 to 60 characters is written and zero-filled to the end of
// the slot, an emptied one clears the slot, a longer one is not stored.
void storeMessagePage(ConfigImage& image, int page, MessageRows& rows);
MessageRows loadMessagePage(const ConfigImage& image, int page);

// One row of the "Alarm message" tab.
struct AlarmRow {
    std::string pagerId;
    std::string text;
    std::string loadedPagerId;
    std::string loadedText;
};
using AlarmRows = std::array<AlarmRow, kAlarmRows>;

// Stores the alarm rows. An empty pager ID or one of more than 4 characters
// keeps the stored ID, and the store returns the warning "PagerID More then 4
// Characters!" (once, however many rows it concerns). A changed ID of 1 to 4
// decimal digits is written; any other keeps the stored ID, which the row
// then shows again. A changed alarm text is stored untrimmed: 1 to 59
// characters are written and zero-filled, an emptied text clears the field,
// a longer one is not stored.
std::optional<Notice> storeAlarmPage(ConfigImage& image, AlarmRows& rows);
AlarmRows loadAlarmPage(const ConfigImage& image);

inline constexpr std::size_t kMessageStoreMax = 60;

}  // namespace qm730
