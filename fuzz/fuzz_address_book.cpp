// The address book text and its entry lines (src/data/address_book.*): the
// input is an address book text as it may be found on disk.
#include <algorithm>
#include <vector>

#include "core/zentool.h"
#include "data/address_book.h"
#include "support.h"

using namespace velkaro;

namespace {

constexpr int kMaxLines = 64;

// A formatted line is one line of exactly ten fields, and reads back as the
// entry with each field sanitised.
void CheckFormat(const AddressEntry& entry) {
  const std::string line = FormatEntryLine(entry);
  FUZZ_CHECK(std::count(line.begin(), line.end(), '\t') == AddressEntry::kFieldCount - 1);
  FUZZ_CHECK(line.find("\r\n") == line.size() - 2);
  FUZZ_CHECK(line.find('\n') == line.size() - 1);
  AddressEntry back;
  FUZZ_CHECK(ParseEntryLine(line, 0, back) == 0);
  for (int k = 0; k < AddressEntry::kFieldCount; ++k)
    FUZZ_CHECK(back[k] == SanitizeField(entry[k]));
}

// A line of exactly ten fields without a lone CR or LF formats back into
// itself.
void CheckLine(const std::string& line, const AddressEntry& entry, int result) {
  const bool tenFields =
      std::count(line.begin(), line.end(), '\t') == AddressEntry::kFieldCount - 1;
  if (tenFields) FUZZ_CHECK(result == 0);
  if (tenFields && line.find_first_of("\r\n") == std::string::npos) {
    FUZZ_CHECK(FormatEntryLine(entry) == line + "\r\n");
  }
}

// The lookup finds the first or last line after the header whose second
// field is `name`, as the entry parser reads the lines.
void CheckLookup(const std::string& text, const std::vector<AddressEntry>& entries,
                 const std::vector<std::string>& lines, const std::string& name) {
  std::optional<std::string> first, last;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    if (entries[i].regist != name) continue;
    if (!first) first = lines[i] + "\r\n";
    last = lines[i] + "\r\n";
  }
  FUZZ_CHECK(FindEntryByRegist(text, name, RegistMatch::First) == first);
  FUZZ_CHECK(FindEntryByRegist(text, name, RegistMatch::Last) == last);
}

void CheckOrdering(std::vector<AddressEntry> entries) {
  for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
    const std::string& a = entries[i].kana;
    const std::string& b = entries[i + 1].kana;
    const int ab = CompareReading(a, b);
    FUZZ_CHECK(ab == -CompareReading(b, a));
    FUZZ_CHECK((ab == 0) == (a == b));
  }
  std::vector<AddressEntry> sorted = entries;
  SortByReading(sorted);
  for (std::size_t i = 0; i + 1 < sorted.size(); ++i) {
    FUZZ_CHECK(CompareReading(sorted[i].kana, sorted[i + 1].kana) <= 0);
  }
  FUZZ_CHECK(std::is_permutation(sorted.begin(), sorted.end(), entries.begin(), entries.end()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader in(data, size);
  const std::uint8_t pick = in.Byte();
  const std::string text = in.Rest();
  const Zentool tool;
  const int count = std::min(tool.ZenCountLines(text), kMaxLines);

  std::vector<AddressEntry> entries;
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    AddressEntry entry;
    const int result = ParseEntryLine(text, i, entry);
    FUZZ_CHECK(result == 0 || result == 1);
    lines.push_back(tool.ZenGetLine(text, i));
    CheckLine(lines.back(), entry, result);
    CheckFormat(entry);
    entries.push_back(entry);
  }
  AddressEntry untouched;
  untouched.name = "kept";
  FUZZ_CHECK(ParseEntryLine(text, tool.ZenCountLines(text), untouched) == 1);
  FUZZ_CHECK(untouched.name == "kept");

  if (count == tool.ZenCountLines(text) && count > 1) {
    CheckLookup(text, entries, lines, entries[1 + pick % (count - 1)].regist);
  }
  CheckOrdering(entries);
  return 0;
}
