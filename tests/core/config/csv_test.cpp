#include <gtest/gtest.h>

#include "core/config/csv.h"

using namespace qm730;

namespace {

std::vector<std::string> texts(const CsvRecord& record) {
    std::vector<std::string> out;
    for (const CsvField& field : record.fields) out.push_back(field.text);
    return out;
}

}  // namespace

TEST(Csv, WrittenFieldsReadBackExactly) {
    const std::vector<std::string> fields{"plain", "", "a,b", "say \"hi\"", "two\r\nlines", " padded ", "0  0",
                                          "\x04", "caf\xC3\xA9"};
    const std::string line = csvRecord(fields);
    EXPECT_EQ(csvRecord({"a", "b c", ""}), "a,b c,\r\n");
    EXPECT_EQ(csvRecord({"x\"y"}), "\"x\"\"y\"\r\n");

    const CsvTable table = parseCsv(line + line);
    ASSERT_TRUE(table.problems.empty());
    ASSERT_EQ(table.records.size(), 2u);
    EXPECT_EQ(texts(table.records[0]), fields);
    EXPECT_EQ(texts(table.records[1]), fields);
    EXPECT_EQ(table.records[1].line, 3u);  // the first record spans two lines
}

TEST(Csv, ReaderTakesWhatEditorsWrite) {
    const CsvTable table = parseCsv("\xEF\xBB\xBFh1,h2\n\n1,\"multi\nline\",x\r\n\r\nlast,\"\"");
    ASSERT_TRUE(table.problems.empty());
    ASSERT_EQ(table.records.size(), 3u);
    EXPECT_EQ(texts(table.records[0]), (std::vector<std::string>{"h1", "h2"}));
    EXPECT_EQ(texts(table.records[1]), (std::vector<std::string>{"1", "multi\nline", "x"}));
    EXPECT_EQ(table.records[1].line, 3u);
    EXPECT_EQ(table.records[1].fields[2].line, 4u);
    EXPECT_EQ(texts(table.records[2]), (std::vector<std::string>{"last", ""}));
    EXPECT_EQ(table.records[2].line, 6u);
    EXPECT_EQ(texts(parseCsv("a,").records[0]), (std::vector<std::string>{"a", ""}));
}

TEST(Csv, BadRecordsAreNamedAndReadingGoesOn) {
    const CsvTable table = parseCsv(
        "ok,1\n"
        "ab\"c,2\n"            // a quote inside an unquoted field
        "\"closed\"x,3\n"      // text after the closing quote
        "fine,\xFF\xFE\n"      // no UTF-8
        "good,5\n"
        "\"never closed,6\nmore\n");
    ASSERT_EQ(table.records.size(), 2u);
    EXPECT_EQ(table.records[0].fields[0].text, "ok");
    EXPECT_EQ(table.records[1].fields[0].text, "good");
    ASSERT_EQ(table.problems.size(), 4u);
    const std::pair<std::size_t, std::size_t> where[] = {{2, 1}, {3, 1}, {4, 2}, {6, 1}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(table.problems[i].line, where[i].first) << i;
        EXPECT_EQ(table.problems[i].column, where[i].second) << i;
    }
    EXPECT_EQ(table.problems[3].reason, "the quote that opens this field is never closed");
}

// CR LF as RFC 4180 has it, LF as Unix writes it, CR alone as older Mac
// programs did: the same records on the same lines.
TEST(Csv, EveryKindOfLineEndEndsARecord) {
    for (const std::string end : {"\r\n", "\n", "\r"}) {
        const CsvTable table = parseCsv("h1,h2" + end + "1,\"a" + end + "b\"" + end + end + "2,x" + end);
        ASSERT_EQ(table.records.size(), 3u) << testing::PrintToString(end);
        EXPECT_EQ(texts(table.records[1]), (std::vector<std::string>{"1", "a" + end + "b"}));
        EXPECT_EQ(table.records[2].line, 5u);
    }
}

TEST(Csv, SingleByteTextTravelsAsUtf8) {
    const std::string latin1 = "Caf\xE9 \xB0\x01";
    const std::string utf8 = latin1ToUtf8(latin1);
    EXPECT_EQ(utf8, "Caf\xC3\xA9 \xC2\xB0\x01");
    std::string back, offending;
    ASSERT_TRUE(utf8ToLatin1(utf8, back, offending));
    EXPECT_EQ(back, latin1);
    EXPECT_FALSE(utf8ToLatin1("5 \xE2\x82\xAC", back, offending));
    EXPECT_EQ(offending, "\xE2\x82\xAC");
    EXPECT_FALSE(utf8ToLatin1("\xC0\x80", back, offending));  // an overlong zero
}
