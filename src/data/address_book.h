// The address book file and its entry lines.
//
// The file is a header line followed by one line per entry: ten Shift_JIS
// fields joined by TAB and ended by CR LF, no quoting, no escaping. The
// same entry line carries a recipient through the form and into the
// placeholder substitution, so everything here works on that one form.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velkaro {

struct AddressEntry {
  static constexpr int kFieldCount = 10;

  std::string kana;       // reading; the sort key of the dialogs
  std::string regist;     // registered name; the key of lookups by name
  std::string name;       // full name; the display name of the To line
  std::string mailaddr;   // mail address
  std::string telephone;  // telephone number
  std::string realaddr;   // postal address
  std::string data1;      // free data 1 to 4
  std::string data2;
  std::string data3;
  std::string data4;

  // Field i in file order (0 kana … 9 data4); std::out_of_range otherwise.
  std::string& operator[](int i);
  const std::string& operator[](int i) const;

  bool operator==(const AddressEntry&) const = default;
};

// Which of several lines with the same registered name a lookup returns.
enum class RegistMatch { First, Last };

// The fixed first line of every saved address book, CR LF included.
const std::string& AddressBookHeaderLine();

// The address book text from the file, Shift_JIS with CR LF line ends.
// UTF-8 and LF files are converted; characters with no Shift_JIS form
// become 〓 and their number is added to `*unmappable`. A missing, empty
// or unreadable file is an empty address book.
std::string LoadAddressBook(const std::string& path, int* unmappable = nullptr);

// Writes the text unchanged, replacing the file atomically: 0 written,
// -1 input/output error, 1 any other error (the old file is kept). An
// empty text writes nothing and returns 0.
int SaveAddressBook(const std::string& path, const std::string& text);

// Line i of the text split into fields. 1 when line i does not exist (the
// entry is left untouched) or when the line has fewer than ten fields (the
// fields it has are set, the others emptied); 0 when all ten were taken.
// Fields beyond the tenth are ignored; fields are not trimmed.
int ParseEntryLine(const std::string& text, int i, AddressEntry& entry);

// The first or last entry line (line 0, the header, is never one) whose
// registered name holds the same characters as `name`, with its CR LF,
// unchanged. Case, spaces and width count; which of CP932's duplicate codes
// each side uses does not (髙 as 0xEEE0 finds 髙 as 0xFBFC).
std::optional<std::string> FindEntryByRegist(const std::string& text, const std::string& name,
                                             RegistMatch which);

// The ten fields, each through SanitizeField, joined by TAB, then CR LF:
// always exactly nine TABs.
std::string FormatEntryLine(const AddressEntry& entry);

// The field with every TAB, CR and LF replaced by a space, so that it can
// never break the line structure of the file.
std::string SanitizeField(std::string field);

// Orders two readings the way the dialogs sort: character by character,
// a double-byte Shift_JIS character as lead × 256 + trail, a single byte
// as its value; the first difference decides and a prefix comes first.
// Negative, zero or positive like strcmp.
int CompareReading(const std::string& a, const std::string& b);

// Sorts by reading, ascending; entries with equal readings keep their order.
void SortByReading(std::vector<AddressEntry>& entries);

}  // namespace velkaro
