#include "data/address_book.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "core/atomic_file.h"
#include "core/encoding.h"
#include "core/sjis_canonical.h"
#include "core/text_file.h"
#include "core/zentool.h"

namespace velkaro {
namespace {

constexpr char kCrLf[] = "\r\n";

using FieldPointer = std::string AddressEntry::*;
constexpr FieldPointer kFields[AddressEntry::kFieldCount] = {
    &AddressEntry::kana,     &AddressEntry::regist,    &AddressEntry::name,
    &AddressEntry::mailaddr, &AddressEntry::telephone, &AddressEntry::realaddr,
    &AddressEntry::data1,    &AddressEntry::data2,     &AddressEntry::data3,
    &AddressEntry::data4,
};

FieldPointer FieldAt(int i) {
  if (i < 0 || i >= AddressEntry::kFieldCount) {
    throw std::out_of_range("AddressEntry field " + std::to_string(i));
  }
  return kFields[i];
}

// The value of the character at `pos`, moving `pos` past it. A lead byte
// takes whatever byte follows as its trail; at the very end it stands alone.
unsigned NextCharacter(const std::string& text, std::size_t& pos) {
  const auto b = static_cast<unsigned char>(text[pos++]);
  if (Zentool::ZenIsSjisLead(b) && pos < text.size()) {
    return b * 256u + static_cast<unsigned char>(text[pos++]);
  }
  return b;
}

}  // namespace

std::string& AddressEntry::operator[](int i) {
  return this->*FieldAt(i);
}
const std::string& AddressEntry::operator[](int i) const {
  return this->*FieldAt(i);
}

const std::string& AddressBookHeaderLine() {
  return Sjis(
      "読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\tデータ３\tデータ４\r\n");
}

std::string LoadAddressBook(const std::string& path, int* unmappable) {
  TextFileContent content = ReadTextFile(path);
  if (unmappable != nullptr) *unmappable += content.unmappable;
  return std::move(content.sjis);
}

int SaveAddressBook(const std::string& path, const std::string& text) {
  if (text.empty()) return 0;
  return AtomicWriteFile(path, text);
}

int ParseEntryLine(const std::string& text, int i, AddressEntry& entry) {
  if (i < 0) return 1;
  std::size_t start = 0;
  for (int line = 0; line < i; ++line) {
    const std::size_t end = text.find(kCrLf, start);
    if (end == std::string::npos) return 1;
    start = end + 2;
  }
  const std::size_t end = text.find(kCrLf, start);
  if (end == std::string::npos) return 1;  // text after the last CR LF is no line

  entry = AddressEntry{};
  // With one TAB appended every field, the last one too, ends in a TAB.
  const std::string line = text.substr(start, end - start) + '\t';
  std::size_t pos = 0;
  for (int k = 0; k < AddressEntry::kFieldCount; ++k) {
    const std::size_t tab = line.find('\t', pos);
    if (tab == std::string::npos) return 1;
    entry[k] = line.substr(pos, tab - pos);
    pos = tab + 1;
  }
  return 0;
}

std::optional<std::string> FindEntryByRegist(const std::string& text, const std::string& name,
                                             RegistMatch which) {
  const Zentool z;
  std::optional<std::string> found;
  const std::string wanted = CanonicalSjis(name);
  // One pass over the lines; the header line 0 is skipped.
  std::size_t start = text.find(kCrLf);
  if (start == std::string::npos) return found;
  start += 2;
  for (std::size_t end = text.find(kCrLf, start); end != std::string::npos;
       start = end + 2, end = text.find(kCrLf, start)) {
    std::string line = text.substr(start, end - start + 2);
    const std::string regist = z.ZenGetTabItem(line, 1);
    if (regist.size() != wanted.size() || CanonicalSjis(regist) != wanted) continue;
    found = std::move(line);
    if (which == RegistMatch::First) break;
  }
  return found;
}

std::string SanitizeField(std::string field) {
  // TAB, CR and LF are never the trail byte of a double-byte character,
  // so replacing them byte by byte cannot split one.
  std::replace_if(
      field.begin(), field.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return field;
}

std::string FormatEntryLine(const AddressEntry& entry) {
  std::string line;
  for (int k = 0; k < AddressEntry::kFieldCount; ++k) {
    if (k > 0) line += '\t';
    line += SanitizeField(entry[k]);
  }
  line += kCrLf;
  return line;
}

int CompareReading(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const unsigned x = NextCharacter(a, i);
    const unsigned y = NextCharacter(b, j);
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

void SortByReading(std::vector<AddressEntry>& entries) {
  // Distinct byte strings never compare equal (the character values give
  // the bytes back), so a stable sort puts the entries in exactly the order
  // that repeated swaps of out-of-order neighbours would.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const AddressEntry& x, const AddressEntry& y) {
                     return CompareReading(x.kana, y.kana) < 0;
                   });
}

}  // namespace velkaro
