#include "core/config/csv.h"

#include <cstdint>
#include <optional>

namespace qm730 {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();)
        if (!decodeUtf8(text, pos)) return false;
    return true;
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {
        if (text_.substr(0, kByteOrderMark.size()) == kByteOrderMark) pos_ = kByteOrderMark.size();
    }

    CsvTable read() {
        while (pos_ < text_.size()) {
            if (atLineEnd()) {  // an empty line
                skipLineEnd();
                continue;
            }
            readRecord();
        }
        return std::move(table_);
    }

private:
    // CR LF, LF or CR alone (as older Mac programs end lines).
    bool atLineEnd() const { return text_[pos_] == '\n' || text_[pos_] == '\r'; }
    void skipLineEnd() {
        pos_ += text_.substr(pos_, 2) == "\r\n" ? 2 : 1;
        ++line_;
    }
    bool atEnd() const { return pos_ >= text_.size(); }

    void readRecord() {
        CsvRecord record;
        record.line = line_;
        for (;;) {
            CsvField field;
            field.line = line_;
            const std::size_t column = record.fields.size() + 1;
            const bool quoted = !atEnd() && text_[pos_] == '"';
            const bool ok = quoted ? readQuoted(field.text, column) : readPlain(field.text, column);
            if (!ok) return skipRestOfLine();
            if (!isUtf8(field.text)) {
                problem(column, "is not UTF-8 text", field.line);
                return skipRestOfLine();
            }
            record.fields.push_back(std::move(field));
            if (atEnd()) break;
            if (text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            skipLineEnd();
            break;
        }
        table_.records.push_back(std::move(record));
    }

    // A field in quotes: doubled quotes stand for one, everything else as it
    // stands; after the closing quote comes a comma, a line end or the end.
    bool readQuoted(std::string& out, std::size_t column) {
        const std::size_t openedOn = line_;
        ++pos_;
        for (;;) {
            if (atEnd()) {
                problem(column, "the quote that opens this field is never closed", openedOn);
                return false;
            }
            const char c = text_[pos_];
            if (c == '"') {
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') {
                    out += '"';
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                break;
            }
            if (c == '\n' || (c == '\r' && text_.substr(pos_, 2) != "\r\n")) ++line_;
            out += c;
            ++pos_;
        }
        if (atEnd() || text_[pos_] == ',' || atLineEnd()) return true;
        problem(column, "a closing quote must be followed by a comma or the end of the line", line_);
        return false;
    }

    bool readPlain(std::string& out, std::size_t column) {
        while (!atEnd() && text_[pos_] != ',' && !atLineEnd()) {
            const char c = text_[pos_];
            if (c == '"') {
                problem(column, "a quote inside a field that does not start with one (enclose the field in quotes "
                                "and double the quote)", line_);
                return false;
            }
            out += c;
            ++pos_;
        }
        return true;
    }

    void skipRestOfLine() {
        while (!atEnd() && !atLineEnd()) ++pos_;
        if (!atEnd()) skipLineEnd();
    }

    void problem(std::size_t column, std::string reason, std::size_t line) {
        table_.problems.push_back({line, column, std::move(reason)});
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t line_ = 1;
    CsvTable table_;
};

bool needsQuotes(std::string_view field) {
    if (field.empty()) return false;
    if (field.front() == ' ' || field.back() == ' ') return true;
    for (char c : field)
        if (c == ',' || c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

void appendUtf8(std::string& out, char32_t value) {
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else {
        out += static_cast<char>(0xC0 | (value >> 6));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
}

}  // namespace

std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(pos);
    std::size_t length;
    char32_t value;
    if (first < 0x80) {
        ++pos;
        return first;
    } else if ((first & 0xE0) == 0xC0) {
        length = 2;
        value = first & 0x1F;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        value = first & 0x0F;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        value = first & 0x07;
    } else {
        return std::nullopt;
    }
    if (pos + length > text.size()) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return std::nullopt;
        value = (value << 6) | (byte(pos + i) & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    pos += length;
    return value;
}

CsvTable parseCsv(std::string_view text) { return Reader(text).read(); }

std::string csvRecord(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += ',';
        const std::string& field = fields[i];
        if (!needsQuotes(field)) {
            out += field;
            continue;
        }
        out += '"';
        for (char c : field) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    out += "\r\n";
    return out;
}

std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    for (char c : text) appendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

bool utf8ToLatin1(std::string_view text, std::string& out, std::string& offending) {
    out.clear();
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        const std::optional<char32_t> value = decodeUtf8(text, pos);
        if (!value) {
            offending = "an invalid byte";
            return false;
        }
        if (*value > 0xFF) {
            offending = std::string(text.substr(start, pos - start));
            return false;
        }
        out += static_cast<char>(*value);
    }
    return true;
}

}  // namespace qm730
