// Whole numbers typed by the operator. The fields convert their text with
// these so that a text that is no number is refused with a clear message
// instead of being half-stored.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/config/notice.h"

namespace qm730 {

// An optional '+' or '-' followed by one or more decimal digits, nothing else
// (no blanks), within the range of a signed 32-bit integer.
std::optional<std::int32_t> parseInteger(std::string_view text);

// One or more decimal digits and nothing else.
bool isDecimalDigits(std::string_view text);

// "'12a' is not a valid integer value." with the caption "QM730". The text
// holds single-byte (Latin-1) characters; the notice shows letters such as
// "é" as themselves and control characters as \xNN.
Notice notAnIntegerNotice(std::string_view text);

}  // namespace qm730
