// The CSV reader and writer (src/data/csv.*) and the address import on top
// of them (src/data/address_import.*): the input is a CSV file as a user
// or a contact export may hand it over. The first byte picks the separator.
#include <algorithm>
#include <string>
#include <vector>

#include "data/address_book.h"
#include "data/address_import.h"
#include "data/csv.h"
#include "support.h"

using namespace velkaro;

namespace {

constexpr char kSeparators[] = {',', '\t', ';'};

std::vector<CsvRecord> Records(const std::vector<CsvRow>& rows) {
  std::vector<CsvRecord> records;
  for (const CsvRow& row : rows) records.push_back(row.fields);
  return records;
}

// Every record has a field, starts on a later line than the one before,
// and is written back into bytes that read as the same records.
void CheckReader(const std::string& bytes, char separator) {
  const std::vector<CsvRow> rows = ReadCsv(bytes, separator);
  int line = 0;
  for (const CsvRow& row : rows) {
    FUZZ_CHECK(!row.fields.empty());
    FUZZ_CHECK(row.line > line);
    line = row.line;
  }
  std::string written;
  for (const CsvRow& row : rows) written += FormatCsvRecord(row.fields, separator);
  FUZZ_CHECK(Records(ReadCsv(written, separator)) == Records(rows));
  const char detected = DetectCsvSeparator(bytes);
  FUZZ_CHECK(std::find(std::begin(kSeparators), std::end(kSeparators), detected) !=
             std::end(kSeparators));
}

// What the import takes can be sent to, fits the book's line structure,
// and never repeats an address.
void CheckImport(const std::string& bytes, bool importAll) {
  const ImportResult result = ImportAddresses(bytes, "", {{}, importAll});
  if (!result.error.empty()) {
    FUZZ_CHECK(result.entries.empty());
    return;
  }
  FUZZ_CHECK(result.columnField.size() == result.headers.size());
  FUZZ_CHECK(static_cast<int>(result.entries.size() + result.refused.size()) == result.rows);
  const std::string book = AppendEntries("", result.entries);
  for (std::size_t i = 0; i < result.entries.size(); ++i) {
    const AddressEntry& entry = result.entries[i];
    FUZZ_CHECK(IsUsableAddress(entry.mailaddr));
    FUZZ_CHECK(!entry.name.empty());
    for (int k = 0; k < AddressEntry::kFieldCount; ++k) {
      FUZZ_CHECK(entry[k].find_first_of("\t\r\n") == std::string::npos);
    }
    AddressEntry back;
    FUZZ_CHECK(ParseEntryLine(book, static_cast<int>(i) + 1, back) == 0);
    FUZZ_CHECK(back == entry);
  }
  // Importing the same file into the book it made takes nothing more.
  FUZZ_CHECK(ImportAddresses(bytes, book, {{}, importAll}).entries.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader in(data, size);
  const std::uint8_t pick = in.Byte();
  const std::string bytes = in.Rest();
  CheckReader(bytes, kSeparators[pick % 3]);
  CheckImport(bytes, (pick & 0x80) != 0);
  return 0;
}
