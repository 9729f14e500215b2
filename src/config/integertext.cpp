#include "config/integertext.h"

#include <charconv>
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

Notice notAnIntegerNotice(std::string_view text) {
    return {"'" + std::string(text) + "' is not a valid integer value.", kModelCaption, NoticeButtons::Ok,
            NoticeIcon::Stop};
}

}  // namespace qm730
