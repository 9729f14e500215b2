// Trimming of typed texts: blanks and control characters (every byte up to
// and including the blank) are cut from the ends, bytes 0x80 and up are kept.
#pragma once

#include <string>
#include <string_view>

namespace qm730 {

inline bool isBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

inline std::string trimRight(std::string_view text) {
    while (!text.empty() && isBlankOrControl(text.back())) text.remove_suffix(1);
    return std::string(text);
}

inline std::string trimBoth(std::string_view text) {
    while (!text.empty() && isBlankOrControl(text.front())) text.remove_prefix(1);
    return trimRight(text);
}

}  // namespace qm730
