// Texts move between the image and the widgets one byte per character: the
// board and the table file know only single-byte characters, so a character
// without a Latin-1 byte is stored as '?'.
#pragma once

#include <QString>

#include <string>

inline QString fromImageText(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string toImageText(const QString& text) { return text.toLatin1().toStdString(); }
