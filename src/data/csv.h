// Comma-separated values as spreadsheet programs and address book exports
// write them (RFC 4180, read leniently). The reader works on bytes: the
// separators, the quote and the line ends are all below 0x40, so they can
// never be the trail byte of a Shift_JIS character nor part of a UTF-8
// sequence, and one reader serves both encodings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velkaro {

using CsvRecord = std::vector<std::string>;

struct CsvRow {
  CsvRecord fields;  // at least one; an empty line is one empty field
  int line = 0;      // 1-based line of the input where the record starts
};

// The separator of the first record: whichever of comma, TAB and semicolon
// occurs most often outside quotes (comma on a tie or when none occurs).
char DetectCsvSeparator(std::string_view bytes);

// Every record of the input. Records end at CR LF, LF or a lone CR outside
// quotes; a missing final line end is fine. Inside quotes everything is
// kept, line ends included, and "" is one quote. A quote inside an
// unquoted field, or after the closing quote, is kept as an ordinary byte,
// as spreadsheet programs do; an unclosed quote runs to the end.
std::vector<CsvRow> ReadCsv(std::string_view bytes, char separator);

// One record ended by CR LF. A field is quoted when it holds the
// separator, a quote, CR or LF; a record of a single empty field is
// written as "" so that it does not read back as a blank line.
std::string FormatCsvRecord(const CsvRecord& record, char separator = ',');

}  // namespace velkaro
