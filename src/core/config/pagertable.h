// The pager records as a CSV table, for editing outside the program: an
// export writes every record as the data tabs show it, an import takes the
// records back through the same rules the tabs' fields apply.
//
// An import changes only what differs from the image: a value that reads
// exactly as the record holds it is no edit and passes unchecked, so an
// exported table imports back to the identical image, whatever the image
// holds. Every changed value must pass its field's rule. Every bad value is
// reported with its line and column, and nothing is stored unless all rows
// are good.
//
// Records 1 to 99 are edited one by one, as pages 1 to 10 show them. Records
// 100 to 899 come in eight blocks of 100 (100-199, 200-299, ... 800-899),
// which the last page edits through each block's first record: a new
// address, function bits, type or baud on record 100, 200, ... 800 rewrites
// its whole block with consecutive addresses from it, its lists and no group,
// keeping the names. The other records of a block cannot be changed one by
// one; in their rows a value may stay as it is (the block rewrite replaces
// it) or read what the rewrite gives it. Record 100, the last row of page 10
// too, also takes a new name, and a new group while its block is not
// rewritten.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/config/csvtable.h"
#include "core/config/image.h"

namespace qm730 {

inline constexpr std::string_view kPagerTableHeader = "Index,Address,FunBit,Type,Baud,Name,Group";

// A pager record's fields as its table row holds them (UTF-8): the record
// number, the seven address digits, the list items as the lists show them
// (empty where the byte matches no item), the name and the group (empty for
// none). `record` is 1..899.
std::array<std::string, 7> pagerRowTexts(const ConfigImage& image, std::size_t record);

// The whole table: the header, then records 1 to 899, CRLF line ends.
std::string exportPagers(const ConfigImage& image);

// The rows may come in any order and need not cover every record; records
// without a row keep what they hold. A record given twice is refused.
ImportResult importPagers(ConfigImage& image, std::string_view csv);

}  // namespace qm730
