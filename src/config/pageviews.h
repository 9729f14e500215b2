// The data tabs' rows as plain values, and the copies between them and the
// image. The GUI copies its widgets into these rows before a store and out of
// them after a load; the rows are the working copy of the shown page.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "config/image.h"
#include "config/notice.h"
#include "config/paging.h"

namespace qm730 {

// Items of a pager row's lists. The type and baud bytes hold position + 1,
// the function-bits byte the position itself.
const std::array<std::string_view, 4>& funcBitItems();  // cboFunc
const std::array<std::string_view, 3>& pagerTypeItems();  // cboType
const std::array<std::string_view, 3>& pagerBaudItems();  // cboBaud

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
};
using CapcodeRows = std::array<CapcodeRow, kRowsPerPage>;

// Stores the ten rows of a capcode page. Pages 1..10 write one slot per row
// and set each row's group check state from its group text. Page 11 rewrites
// the whole block of 100 slots behind each of its eight rows: the row's lists,
// no group, and consecutive addresses from the row's address.
// Every text that must be a number is checked first; if one is not, nothing
// at all is stored and the returned notice says which text it was.
std::optional<Notice> storeCapcodePage(ConfigImage& image, int page, CapcodeRows& rows);

// Loads a capcode page into the rows. On page 11 the names and groups keep
// their texts and are disabled.
void loadCapcodePage(const ConfigImage& image, int page, CapcodeRows& rows);

// Message texts of one page. Storing cuts trailing blanks and line ends; a
// text of up to 60 characters is written and zero-filled, an empty one clears
// the slot, a longer one is not stored.
using MessageRows = std::array<std::string, kRowsPerPage>;
void storeMessagePage(ConfigImage& image, int page, const MessageRows& rows);
MessageRows loadMessagePage(const ConfigImage& image, int page);

// The seven rows of the "Alarm message" tab.
struct AlarmRow {
    std::string pagerId;
    std::string text;

    friend bool operator==(const AlarmRow&, const AlarmRow&) = default;
};
using AlarmRows = std::array<AlarmRow, kAlarmRows>;

// Stores the alarm rows. A pager ID of 1 to 4 characters is written; an empty
// or longer one keeps the stored ID and the store returns the warning
// "PagerID More then 4 Characters!" (once, however many rows it concerns).
// The alarm text is stored untrimmed: up to 59 characters are written, an
// empty text clears it, a longer one is not stored.
std::optional<Notice> storeAlarmPage(ConfigImage& image, const AlarmRows& rows);
AlarmRows loadAlarmPage(const ConfigImage& image);

inline constexpr std::size_t kMessageStoreMax = 60;

}  // namespace qm730
