// A table of the image's records as CSV, read for an import: the header
// checked, every row in the image's single-byte text, and every problem on
// the way kept with its line and column. What the pager and message tables
// (pagertable.h, messagetable.h) share.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/editrules.h"

namespace qm730 {

struct TableProblem {
    std::size_t line = 0;
    std::size_t column = 0;  // 1-based; 0 where the problem is the whole line
    std::string reason;
};
// "line 5, column 6 (Name): ..." with the column's heading from the header.
std::string describeProblem(const TableProblem& problem, std::string_view header);

struct ImportResult {
    std::vector<TableProblem> problems;  // empty when the import was applied
    std::size_t rows = 0;                // data rows read
};

namespace tableimport {

struct Row {
    std::size_t line = 0;
    std::vector<std::string> fields;  // single-byte text, as the image holds it
    std::vector<std::size_t> fieldLines;
};

// The problems of one import, in the result that reports them.
class Problems {
public:
    explicit Problems(std::vector<TableProblem>& list) : list_(list) {}
    void add(const Row& row, int column, std::string reason);
    void add(std::size_t line, std::size_t column, std::string reason);
    bool any() const { return !list_.empty(); }
    // In the order of the table, the easier to work through.
    void sort();

private:
    std::vector<TableProblem>& list_;
};

// Checks the header (its headings in any case) and converts every
// well-formed row; each problem on the way is recorded.
std::vector<Row> readTable(std::string_view csv, std::string_view header, Problems& problems);

// A record number from 1 to largest; the reason when it is none.
std::optional<std::size_t> recordNumber(std::string_view text, std::size_t largest, std::string& reason);

// A value as a problem quotes it: UTF-8, control characters as \xNN.
std::string shown(std::string_view latin1);

// Whether every character passes the key rule of the column, as if typed;
// the first that does not is `refused`.
bool typedCharactersPass(DataColumn column, std::string_view text, char& refused);

// Why a changed value is refused.
struct Refusal {
    std::string reason;
};

// What a column's decoder gives: nothing when the value is no change, or the
// new value; a refused value leaves its reason in a Refusal.
template <typename T>
using Decoded = std::optional<T>;

// Decodes one column of a row, recording a refusal against it.
template <typename T, typename Decode>
std::optional<T> decodeColumn(Problems& problems, const Row& row, int column, Decode decode) {
    std::optional<Refusal> bad;
    std::optional<T> value = decode(bad);
    if (bad) problems.add(row, column, std::move(bad->reason));
    return value;
}

}  // namespace tableimport

}  // namespace qm730
