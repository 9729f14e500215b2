// A message for the operator, described without any windowing toolkit: the
// GUI shows it as a modal message box, the command-line tool prints it.
#pragma once

#include <string>

namespace qm730 {

enum class NoticeButtons { Ok, OkCancel, RetryCancel };
enum class NoticeIcon { None, Stop, Exclamation, Information };
enum class NoticeAnswer { Ok, Cancel, Retry };

// Caption of a plain message (OK button, no icon).
inline constexpr const char* kApplicationTitle = "QM730C";
// The short model name, caption of the file and numeric-field messages.
inline constexpr const char* kModelCaption = "QM730";

struct Notice {
    std::string text;  // UTF-8
    std::string caption;
    NoticeButtons buttons = NoticeButtons::Ok;
    NoticeIcon icon = NoticeIcon::None;

    friend bool operator==(const Notice&, const Notice&) = default;
};

// The three kinds of complaint the field editors use.
inline Notice warningNotice(std::string text) {
    return {std::move(text), "Warning!", NoticeButtons::RetryCancel, NoticeIcon::Stop};
}
inline Notice errorNotice(std::string text) {
    return {std::move(text), "Warning!", NoticeButtons::Ok, NoticeIcon::Stop};
}
inline Notice plainNotice(std::string text) {
    return {std::move(text), kApplicationTitle, NoticeButtons::Ok, NoticeIcon::None};
}

}  // namespace qm730
