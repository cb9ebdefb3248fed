// Moving the address book to and from spreadsheet programs and the contact
// exports of mail services as CSV. The book itself stays what it is (TAB-
// separated Shift_JIS lines); these functions only translate.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/text_file.h"
#include "data/address_book.h"

namespace velkaro {

// The field names in file order: the header row of an export and the
// FIELD of a column mapping.
const std::vector<std::string>& AddressFieldNames();

// Field index 0..9 of a field name, or -1.
int AddressFieldIndex(const std::string& name);

// A mail address an entry can be sent to: not empty, at most 255 bytes,
// exactly one '@' with something on both sides, no spaces or control
// bytes. Deliberately loose: the server has the last word.
bool IsUsableAddress(const std::string& address);

struct ImportOptions {
  // --map COLUMN=FIELD, in order: a header name (any case) or a 1-based
  // column number, and a field name or "-" to drop the column.
  std::vector<std::pair<std::string, std::string>> maps;
  // Take rows with characters Shift_JIS cannot hold, as 〓.
  bool importAll = false;
};

struct ImportNote {
  int line = 0;        // line of the CSV file where the row starts
  std::string reason;  // UTF-8
};

struct ImportResult {
  std::string error;  // UTF-8; not empty when nothing could be read
  TextEncoding encoding = TextEncoding::ShiftJis;
  char separator = ',';
  std::vector<std::string> headers;   // UTF-8, one per column
  std::vector<int> columnField;       // per column: field index or -1
  std::vector<AddressEntry> entries;  // to append, in file order
  std::vector<ImportNote> refused;    // rows left out
  std::vector<ImportNote> replaced;   // rows taken with 〓 (importAll)
  int rows = 0;                       // data rows looked at (blank ones not)
};

// Reads a CSV file's bytes (UTF-8 with or without BOM, or Shift_JIS; the
// first row the header) into entries that are not in `addressBook` yet.
ImportResult ImportAddresses(const std::string& csvBytes, const std::string& addressBook,
                             const ImportOptions& options);

// The book with the entries appended as entry lines. An empty book gets
// the header line first; bytes after the last CR LF are ended as a line so
// that the first new entry cannot be glued onto them.
std::string AppendEntries(std::string addressBook, const std::vector<AddressEntry>& entries);

enum class ExportEncoding { Utf8Bom, ShiftJis };

// The book's entries as CSV: a header row of the field names, one row per
// entry line that is not blank, CR LF row ends. `*rows` gets the number of
// entries written.
std::string ExportAddresses(const std::string& addressBook, ExportEncoding encoding,
                            int* rows = nullptr);

// "UTF-8 with BOM", "UTF-8" or "Shift_JIS".
std::string EncodingName(TextEncoding encoding);

}  // namespace velkaro
