// The CSV reader and writer under the address book import and export.
#include "data/csv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velkaro {
namespace {

using Records = std::vector<CsvRecord>;

Records FieldsOf(const std::vector<CsvRow>& rows) {
  Records records;
  for (const CsvRow& row : rows) records.push_back(row.fields);
  return records;
}

struct ReadCase {
  const char* name;
  std::string bytes;
  char separator;
  Records want;
  std::vector<int> lines;  // where each record starts
};

const ReadCase kReadCases[] = {
    {"plain_crlf", "a,b\r\nc,d\r\n", ',', {{"a", "b"}, {"c", "d"}}, {1, 2}},
    {"lf_and_lone_cr_end_records", "a\nb\rc\r\n", ',', {{"a"}, {"b"}, {"c"}}, {1, 2, 3}},
    {"missing_final_line_end", "a,b\r\nc,d", ',', {{"a", "b"}, {"c", "d"}}, {1, 2}},
    {"empty_trailing_fields", "a,,\r\n,,\r\n", ',', {{"a", "", ""}, {"", "", ""}}, {1, 2}},
    {"quoted_separator", "\"a,b\",c\r\n", ',', {{"a,b", "c"}}, {1}},
    {"doubled_quotes", "\"say \"\"hi\"\"\",\"\"\"\"\r\n", ',', {{"say \"hi\"", "\""}}, {1}},
    {"crlf_inside_quotes_kept_and_counted",
     "\"line1\r\nline2\",x\r\nnext\r\n",
     ',',
     {{"line1\r\nline2", "x"}, {"next"}},
     {1, 3}},
    {"quote_inside_unquoted_field_is_a_byte",
     "5\" disk,a\"b\"\r\n",
     ',',
     {{"5\" disk", "a\"b\""}},
     {1}},
    {"text_after_closing_quote_is_kept", "\"ab\"c,d\r\n", ',', {{"abc", "d"}}, {1}},
    {"unclosed_quote_runs_to_the_end", "a,\"b\r\nc", ',', {{"a", "b\r\nc"}}, {1}},
    {"blank_line_is_one_empty_field", "a\r\n\r\nb\r\n", ',', {{"a"}, {""}, {"b"}}, {1, 2, 3}},
    {"empty_quoted_field", "\"\",x\r\n", ',', {{"", "x"}}, {1}},
    {"tab_separator", "a\tb,c\t\"d\te\"\r\n", '\t', {{"a", "b,c", "d\te"}}, {1}},
    {"semicolon_separator", "a;\"b;c\";d,e\r\n", ';', {{"a", "b;c", "d,e"}}, {1}},
    {"empty_input", "", ',', {}, {}},
};

class CsvRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(CsvRead, GivesTheRecordsAndTheirLines) {
  const ReadCase& c = GetParam();
  const std::vector<CsvRow> rows = ReadCsv(c.bytes, c.separator);
  EXPECT_EQ(FieldsOf(rows), c.want);
  std::vector<int> lines;
  for (const CsvRow& row : rows) lines.push_back(row.line);
  EXPECT_EQ(lines, c.lines);
}

INSTANTIATE_TEST_SUITE_P(Syntax, CsvRead, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct SeparatorCase {
  const char* name;
  std::string bytes;
  char want;
};

const SeparatorCase kSeparatorCases[] = {
    {"comma", "a,b,c\r\n1;2;3;4;5\r\n", ','},
    {"tab", "a\tb\tc,d\r\n", '\t'},
    {"semicolon_as_european_spreadsheets_write", "Name;E-mail;Notes, more\r\n", ';'},
    {"separators_inside_quotes_do_not_count", "\"a;b;c;d\",x,y\r\n", ','},
    {"single_column_defaults_to_comma", "mailaddr\r\nx@example.jp\r\n", ','},
};

class CsvSeparator : public ::testing::TestWithParam<SeparatorCase> {};

TEST_P(CsvSeparator, IsTakenFromTheFirstRecord) {
  EXPECT_EQ(DetectCsvSeparator(GetParam().bytes), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Detection, CsvSeparator, ::testing::ValuesIn(kSeparatorCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CsvWrite, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(FormatCsvRecord({"a", "b c", ""}), "a,b c,\r\n");
  EXPECT_EQ(FormatCsvRecord({"a,b", "say \"hi\"", "x\ny", "cr\r"}),
            "\"a,b\",\"say \"\"hi\"\"\",\"x\ny\",\"cr\r\"\r\n");
  EXPECT_EQ(FormatCsvRecord({"a;b", "c,d"}, ';'), "\"a;b\";c,d\r\n");
  EXPECT_EQ(FormatCsvRecord({""}), "\"\"\r\n");
}

TEST(CsvWrite, ReadsBackAsTheSameRecords) {
  const Records records = {{"", "", ""},
                           {""},
                           {"\"", ",", "\r\n", "\r", "\n", "\t"},
                           {"\x95\x5c", " lead", "trail "},
                           {"\"quoted\" start", "end \"quoted\""}};
  for (char separator : {',', '\t', ';'}) {
    std::string bytes;
    for (const CsvRecord& record : records) bytes += FormatCsvRecord(record, separator);
    EXPECT_EQ(FieldsOf(ReadCsv(bytes, separator)), records) << "separator " << separator;
  }
}

}  // namespace
}  // namespace velkaro
