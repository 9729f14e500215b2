// Comma-separated values as RFC 4180 has them: fields separated by commas,
// records by line ends, a field that holds a comma, a quote or a line end
// enclosed in double quotes with its quotes doubled. The text is UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm730 {

struct CsvField {
    std::string text;
    std::size_t line = 0;  // 1-based line on which the field starts
};

struct CsvRecord {
    std::size_t line = 0;  // 1-based line on which the record starts
    std::vector<CsvField> fields;
};

struct CsvProblem {
    std::size_t line = 0;
    std::size_t column = 0;  // 1-based field number
    std::string reason;
};

struct CsvTable {
    std::vector<CsvRecord> records;
    std::vector<CsvProblem> problems;  // a record with a problem is left out
};

// Reads the whole text. Line ends may be CR LF, LF or CR alone; a line end
// inside quotes is kept as it stands. A byte-order mark at the start is
// skipped, and so are empty lines. A quote inside an unquoted field, anything
// but a comma or a line end after a closing quote, a quote left open and
// bytes that are no UTF-8 are problems; reading goes on at the next line, so
// every bad record is reported.
CsvTable parseCsv(std::string_view text);

// One record with CRLF at its end. A field is quoted when it holds a comma,
// a quote, a control character or a blank at either end.
std::string csvRecord(const std::vector<std::string>& fields);

// Decodes the UTF-8 character at `pos` and moves `pos` past it; std::nullopt
// (and `pos` unmoved) for a malformed or overlong sequence, a surrogate or a
// value above U+10FFFF.
std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& pos);

// Single-byte (Latin-1) text, as the image holds it, to UTF-8 and back.
// toLatin1 fails (returns false) on a character above U+00FF and names it
// in `offending`.
std::string latin1ToUtf8(std::string_view text);
bool utf8ToLatin1(std::string_view text, std::string& out, std::string& offending);

}  // namespace qm730
