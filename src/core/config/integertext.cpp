#include "core/config/integertext.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>

namespace qm730 {

std::optional<std::int32_t> parseInteger(std::string_view text) {
    // from_chars takes a '-' but not a '+': drop the plus, and then demand a
    // digit so that "+-5" stays refused.
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    }
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

bool isDecimalDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

namespace {

// A typed text as a notice shows it: printable characters as themselves (the
// Latin-1 letters encoded for the notice's UTF-8 text), control characters,
// which would show as nothing or as a box, as \xNN.
std::string readable(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else if (byte >= 0xA0) {
            shown += static_cast<char>(0xC0 | (byte >> 6));
            shown += static_cast<char>(0x80 | (byte & 0x3F));
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        }
    }
    return shown;
}

}  // namespace

Notice notAnIntegerNotice(std::string_view text) {
    return {"'" + readable(text) + "' is not a valid integer value.", kModelCaption, NoticeButtons::Ok,
            NoticeIcon::Stop};
}

}  // namespace qm730
