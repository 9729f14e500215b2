// The PPG messages and the alarm messages as a CSV table, for editing
// outside the program: an export writes every message as the message tabs
// show it, an import takes the messages back through the same rules the
// tabs' fields apply.
//
// An import changes only what differs from the image: a text that reads
// exactly as the image holds it is no edit and passes unchecked, so an
// exported table imports back to the identical image. Every changed value
// must pass its field's rule. Every bad value is reported with its line and
// column, and nothing is stored unless all rows are good.
#pragma once

#include <string>
#include <string_view>

#include "core/config/csvtable.h"
#include "core/config/image.h"

namespace qm730 {

inline constexpr std::string_view kMessageTableHeader = "Kind,Index,Pager ID,Content";

// The PPG messages 1 to 100 ("PPG", no pager ID), then the alarm messages
// 1 to 7 ("Alarm", with their pager IDs), CRLF line ends.
std::string exportMessages(const ConfigImage& image);

// The rows may come in any order and need not cover every message; messages
// without a row keep what they hold. A message given twice is refused.
ImportResult importMessages(ConfigImage& image, std::string_view csv);

}  // namespace qm730
