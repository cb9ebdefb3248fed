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
  enum Kind {
    AddressUnmappable,  // the mail address has characters Shift_JIS cannot hold
    NoAddress,
    UnusableAddress,  // see IsUsableAddress
    Unmappable,       // other fields have such characters (importAll off)
    InBook,           // the address is in the address book already
    RepeatedInFile,   // an earlier row has the address (`earlierLine`)
    Replaced,         // taken, with 〓 for those characters (importAll)
  };
  int line = 0;        // line of the CSV file where the row starts
  std::string reason;  // UTF-8
  Kind kind = NoAddress;
  std::string address;      // UTF-8, the row's mail address as read
  std::vector<int> fields;  // Unmappable, Replaced: the fields concerned
  int earlierLine = 0;
};

struct ImportResult {
  std::string error;  // UTF-8; not empty when nothing could be read
  TextEncoding encoding = TextEncoding::ShiftJis;
  char separator = ',';
  std::vector<std::string> headers;  // UTF-8, one per column
  std::vector<int> columnField;      // per column: field index or -1
  // Per column, the first few values that are not empty (UTF-8), so that a
  // person can see what a column holds.
  std::vector<std::vector<std::string>> samples;
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

// How to name a CSV file's encoding to a person: "ASCII" when every byte
// is below 0x80 (it reads the same either way), else EncodingName.
std::string DescribeCsvEncoding(const std::string& csvBytes, TextEncoding encoding);

// The bytes of a CSV file to import; empty when it is missing, empty or
// cannot be read whole.
std::string ReadImportFile(const std::string& path);

}  // namespace velkaro
