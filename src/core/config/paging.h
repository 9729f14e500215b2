// Which image slots each page of the data tabs shows, the paging commands'
// page arithmetic, and the texts of tabs, row labels and page selectors.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qm730 {

inline constexpr int kRowsPerPage = 10;
inline constexpr int kCapcodePageCount = 11;
inline constexpr int kMessagePageCount = 10;
inline constexpr int kAlarmRows = 7;

// Page 11 shows one row per block of 100 pager records: row b stands for the
// slots 99 + 100*b .. 198 + 100*b and is shown through the block's first slot.
inline constexpr int kBlockPage = 11;
inline constexpr int kBlockRows = 8;
inline constexpr std::size_t kBlockSize = 100;
inline constexpr std::size_t kFirstBlockSlot = 99;

// Page 11's tab caption tells how the operator got there ("Before -C" never
// reaches it).
enum class CapcodePageVia { NextCommand, Selector };

// "Next - C": after 11 comes 1. "Before -C": stays at 1.
int nextCapcodePage(int page);
int previousCapcodePage(int page);
// "Next -M": after 10 comes 1. "Before - M": before 1 comes 10.
int nextMessagePage(int page);
int previousMessagePage(int page);

// Selector entry i stands for page i + 1, in both selectors.
inline int selectorIndexOfPage(int page) { return page - 1; }
inline int pageOfSelectorIndex(int index) { return index + 1; }

// "Pager DataBase3"; on page 11 "DataBase100 -- 799" (Next) or
// "DataBase100 -- 899" (selector).
std::string capcodeTabCaption(int page, CapcodePageVia via);
// "PPG Message3".
std::string messageTabCaption(int page);

// Capcode slot shown by a row: (page-1)*10 + row, or on page 11 the first
// slot of block `row` (rows 8 and 9 read slots 899 and 999, shown disabled).
std::size_t capcodeSlotOfRow(int page, int row);
std::size_t messageSlotOfRow(int page, int row);
// Index into the capcode number table of an address row: (page-1)*10 + row
// on every page, so page 11 uses 100..109.
int capcodeTableIndex(int page, int row);

// Rows 8 and 9 are disabled on page 11.
bool capcodeRowEnabled(int page, int row);
// Row label text; std::nullopt where the label keeps its text (rows 8 and 9
// of page 11).
std::optional<std::string> capcodeRowLabel(int page, int row);
std::string messageRowLabel(int page, int row);

// Items of `cboCapNo` and `cboMesNo`, exactly as shown.
const std::array<std::string_view, kCapcodePageCount>& capcodeSelectorItems();
const std::array<std::string_view, kMessagePageCount>& messageSelectorItems();

}  // namespace qm730
