#include "core/config/csvtable.h"

#include <algorithm>
#include <cstdio>

#include "core/config/csv.h"
#include "core/config/integertext.h"
#include "core/config/settingkeys.h"
#include "core/config/texttrim.h"

namespace qm730 {

namespace {

std::vector<std::string_view> headingsOf(std::string_view header) {
    std::vector<std::string_view> headings;
    for (std::size_t start = 0;;) {
        const std::size_t comma = header.find(',', start);
        headings.push_back(header.substr(start, comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return headings;
}

bool headingMatches(std::string_view given, std::string_view heading) {
    const std::string_view items[] = {heading};
    return matchItem(items, given).has_value();
}

}  // namespace

std::string describeProblem(const TableProblem& problem, std::string_view header) {
    std::string out = "line " + std::to_string(problem.line);
    if (problem.column > 0) {
        out += ", column " + std::to_string(problem.column);
        const std::vector<std::string_view> headings = headingsOf(header);
        if (problem.column <= headings.size()) out += " (" + std::string(headings[problem.column - 1]) + ")";
    }
    return out + ": " + problem.reason;
}

namespace tableimport {

void Problems::add(const Row& row, int column, std::string reason) {
    list_.push_back({row.fieldLines[static_cast<std::size_t>(column)], static_cast<std::size_t>(column) + 1,
                     std::move(reason)});
}

void Problems::add(std::size_t line, std::size_t column, std::string reason) {
    list_.push_back({line, column, std::move(reason)});
}

void Problems::sort() {
    std::stable_sort(list_.begin(), list_.end(), [](const TableProblem& a, const TableProblem& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
}

std::vector<Row> readTable(std::string_view csv, std::string_view header, Problems& problems) {
    const std::vector<std::string_view> headings = headingsOf(header);
    CsvTable table = parseCsv(csv);
    for (const CsvProblem& p : table.problems) problems.add(p.line, p.column, p.reason);
    std::vector<Row> rows;
    if (table.records.empty()) {
        problems.add(1, 0, "the table is empty; its first line must be the header " + std::string(header));
        return rows;
    }
    const CsvRecord& first = table.records.front();
    bool headerOk = first.fields.size() == headings.size();
    for (std::size_t i = 0; headerOk && i < headings.size(); ++i)
        headerOk = headingMatches(first.fields[i].text, headings[i]);
    if (!headerOk) {
        problems.add(first.line, 0, "the first line must be the header " + std::string(header));
        return rows;
    }
    for (std::size_t r = 1; r < table.records.size(); ++r) {
        const CsvRecord& record = table.records[r];
        if (record.fields.size() != headings.size()) {
            const std::size_t column = std::min(record.fields.size(), headings.size()) + 1;
            problems.add(record.line, column,
                         "the row has " + std::to_string(record.fields.size()) + " columns where the header has " +
                             std::to_string(headings.size()));
            continue;
        }
        Row row;
        row.line = record.line;
        bool ok = true;
        for (std::size_t c = 0; c < record.fields.size(); ++c) {
            std::string text, offending;
            row.fieldLines.push_back(record.fields[c].line);
            if (!utf8ToLatin1(record.fields[c].text, text, offending)) {
                problems.add(record.fields[c].line, c + 1,
                             "holds '" + offending + "', which is no single-byte character the board can store");
                ok = false;
            }
            row.fields.push_back(std::move(text));
        }
        if (ok) rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<std::size_t> recordNumber(std::string_view text, std::size_t largest, std::string& reason) {
    const std::optional<std::int32_t> value = isDecimalDigits(text) ? parseInteger(text) : std::nullopt;
    if (!value || *value < 1 || static_cast<std::size_t>(*value) > largest) {
        reason = shown(text) + " is not a number from 1 to " + std::to_string(largest);
        return std::nullopt;
    }
    return static_cast<std::size_t>(*value);
}

std::string shown(std::string_view latin1) {
    std::string out = "'";
    for (char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += latin1ToUtf8(std::string_view(&c, 1));
        }
    }
    return out + "'";
}

bool typedCharactersPass(DataColumn column, std::string_view text, char& refused) {
    for (char c : text) {
        if (isBlankOrControl(c) && c != ' ') {
            refused = c;
            return false;
        }
        if (dataKeyPress(column, 0, 0, c).action != KeyAction::Pass) {
            refused = c;
            return false;
        }
    }
    return true;
}

}  // namespace tableimport

}  // namespace qm730
