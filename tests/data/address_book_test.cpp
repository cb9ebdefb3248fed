// The address book file: loading, saving, entry lines, lookups by name and
// the order of the dialogs' lists.
#include "data/address_book.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/zentool.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using velkaro::testing::FileSizeLimit;

using testing::Hex;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::string S(const char* utf8) {
  return Utf8ToSjis(utf8);
}

AddressEntry Entry(std::vector<std::string> fields) {
  AddressEntry entry;
  for (int k = 0; k < static_cast<int>(fields.size()); ++k) entry[k] = fields[k];
  return entry;
}

std::string Describe(const AddressEntry& entry) {
  std::string out;
  for (int k = 0; k < AddressEntry::kFieldCount; ++k) out += "[" + Hex(entry[k]) + "]";
  return out;
}

// Every entry line of a text the way the selection dialog takes them.
std::vector<AddressEntry> AllEntries(const std::string& text) {
  std::vector<AddressEntry> entries;
  const int count = Zentool().ZenCountLines(text);
  for (int i = 1; i < count; ++i) {
    AddressEntry entry;
    ParseEntryLine(text, i, entry);
    entries.push_back(entry);
  }
  return entries;
}

TEST(AddressEntry, IndexesTheFieldsInFileOrder) {
  AddressEntry entry;
  for (int k = 0; k < AddressEntry::kFieldCount; ++k) entry[k] = "f" + std::to_string(k);
  const std::string* named[] = {&entry.kana,      &entry.regist,   &entry.name,  &entry.mailaddr,
                                &entry.telephone, &entry.realaddr, &entry.data1, &entry.data2,
                                &entry.data3,     &entry.data4};
  for (int k = 0; k < AddressEntry::kFieldCount; ++k) EXPECT_EQ(*named[k], "f" + std::to_string(k));
  const AddressEntry& constEntry = entry;
  EXPECT_THROW(constEntry[10], std::out_of_range);
  EXPECT_THROW(entry[-1], std::out_of_range);
}

TEST(AddressBookHeaderLine, IsTheFixedShiftJisLine) {
  // 読み 登録名 氏名 メールアドレス 電話 住所 データ１..データ４ with full-width digits.
  const std::string expected =
      "93 C7 82 DD 09 93 6F 98 5E 96 BC 09 8E 81 96 BC 09 83 81 81 5B 83 8B 83 41 83 68 83 8C 83 "
      "58 09 93 64 98 62 09 8F 5A 8F 8A 09 83 66 81 5B 83 5E 82 50 09 83 66 81 5B 83 5E 82 51 09 "
      "83 66 81 5B 83 5E 82 52 09 83 66 81 5B 83 5E 82 53 0D 0A";
  EXPECT_EQ(Hex(AddressBookHeaderLine()), expected);
}

TEST(ParseEntryLine, SplitsALineIntoTenFields) {
  const std::string head = AddressBookHeaderLine();
  const std::vector<std::string> kOld(AddressEntry::kFieldCount, "old");
  const struct {
    const char* what;
    std::string text;
    int i;
    int result;
    std::vector<std::string> fields;
  } cases[] = {
      {"ten fields",
       head + "k\tr\tn\tm\tt\ta\t1\t2\t3\t4\r\n",
       1,
       0,
       {"k", "r", "n", "m", "t", "a", "1", "2", "3", "4"}},
      {"ten fields, last empty", head + "k\tr\tn\tm\t\t\t\t\t\t\r\n", 1, 0, {"k", "r", "n", "m"}},
      {"four fields", head + "k\tr\tn\tm\r\n", 1, 1, {"k", "r", "n", "m"}},
      {"blank line", head + "\r\nk\tr\r\n", 1, 1, {}},
      {"line after a blank line", head + "\r\nk\tr\r\n", 2, 1, {"k", "r"}},
      {"more than ten fields",
       head + "0\t1\t2\t3\t4\t5\t6\t7\t8\t9\tx\ty\r\n",
       1,
       0,
       {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}},
      {"no trimming", head + " k \t\tr \r\n", 1, 1, {" k ", "", "r "}},
      {"lone CR and LF stay inside a field", head + "a\rb\tc\nd\r\n", 1, 1, {"a\rb", "c\nd"}},
      {"line 0 is a line too", "k\tr\r\n", 0, 1, {"k", "r"}},
      // No line i: no entry is produced, the old one stays.
      {"empty text", "", 0, 1, kOld},
      {"text after the last CR LF", head + "k\tr", 1, 1, kOld},
      {"beyond the end", head + "k\tr\r\n", 2, 1, kOld},
      {"negative index", head + "k\tr\r\n", -1, 1, kOld},
      {"double-byte fields",
       head + S("たなか\t田中\t田中　太郎\ttaro@example.jp\r\n"),
       1,
       1,
       {S("たなか"), S("田中"), S("田中　太郎"), "taro@example.jp"}},
  };
  for (const auto& c : cases) {
    AddressEntry entry = Entry(kOld);
    EXPECT_EQ(ParseEntryLine(c.text, c.i, entry), c.result) << c.what;
    EXPECT_EQ(Describe(entry), Describe(Entry(c.fields))) << c.what;
  }
}

TEST(AddressBookText, EntriesAreTheLinesAfterTheFirst) {
  const std::string head = AddressBookHeaderLine();
  const struct {
    const char* what;
    std::string text;
    std::vector<std::vector<std::string>> entries;
  } cases[] = {
      {"empty", "", {}},
      {"header only", head, {}},
      {"only line without CR LF", "k\tr\tn\tm", {}},
      {"header and an unterminated entry", head + "k\tr\tn\tm", {}},
      {"no header: the first entry is lost", "a\tA\r\nb\tB\r\n", {{"b", "B"}}},
      {"blank line between entries", head + "a\tA\r\n\r\nb\tB\r\n", {{"a", "A"}, {}, {"b", "B"}}},
      {"a different first line is skipped", "anything\r\na\tA\r\n", {{"a", "A"}}},
  };
  for (const auto& c : cases) {
    std::vector<AddressEntry> expected;
    for (const auto& fields : c.entries) expected.push_back(Entry(fields));
    EXPECT_EQ(AllEntries(c.text), expected) << c.what;
  }
}

TEST(FindEntryByRegist, FindsTheFirstOrLastExactMatch) {
  const std::string lineTaro1 = "t1\ttaro\tTaro One\tone@example.jp\r\n";
  const std::string lineTaro2 = "t2\ttaro\tTaro Two\ttwo@example.jp\r\n";
  const std::string lineSpaced = "t3\t taro\tSpaced\tsp@example.jp\r\n";
  const std::string lineUpper = "t4\tTaro\tUpper\tup@example.jp\r\n";
  const std::string lineTwoFields = "t5\tshort\r\n";
  const std::string lineKanji = S("たなか\t田中\t田中　太郎\ttanaka@example.jp\r\n");
  const std::string text = AddressBookHeaderLine() + lineTaro1 + lineSpaced + lineTaro2 +
                           lineUpper + lineTwoFields + lineKanji + "t6\ttaro\tUnended\tx@y";
  const struct {
    std::string name;
    RegistMatch which;
    std::optional<std::string> line;
  } cases[] = {
      {"taro", RegistMatch::First, lineTaro1},
      {"taro", RegistMatch::Last, lineTaro2},  // the unended last line is no line
      {" taro", RegistMatch::First, lineSpaced},
      {"Taro", RegistMatch::Last, lineUpper},
      {"TARO", RegistMatch::First, std::nullopt},
      {"tar", RegistMatch::First, std::nullopt},
      {"taro ", RegistMatch::Last, std::nullopt},
      {"short", RegistMatch::First, lineTwoFields},
      {S("田中"), RegistMatch::Last, lineKanji},
      {S("登録名"), RegistMatch::First, std::nullopt},  // the header line is never an entry
      {S("登録名"), RegistMatch::Last, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto found = FindEntryByRegist(text, c.name, c.which);
    EXPECT_EQ(found, c.line) << Hex(c.name);
  }
}

TEST(FormatEntryLine, WritesTenFieldsWithNineTabs) {
  const struct {
    AddressEntry entry;
    std::string line;
  } cases[] = {
      {Entry({"k", "r", "n", "m", "t", "a", "1", "2", "3", "4"}),
       "k\tr\tn\tm\tt\ta\t1\t2\t3\t4\r\n"},
      {AddressEntry{}, "\t\t\t\t\t\t\t\t\t\r\n"},
      {Entry({"k", "r", "n", "m"}), "k\tr\tn\tm\t\t\t\t\t\t\r\n"},
      {Entry({"k\tx", "r\r\n", "n\n", "m", "", "a\rb", "", "", "", "end\t"}),
       "k x\tr  \tn \tm\t\ta b\t\t\t\tend \r\n"},
      // ソ (83 5C) and ー (81 5B) have ASCII-range trail bytes; they stay.
      {Entry({S("ソー\tダ")}), S("ソー ダ\t\t\t\t\t\t\t\t\t\r\n")},
  };
  for (const auto& c : cases) {
    const std::string line = FormatEntryLine(c.entry);
    EXPECT_EQ(line, c.line) << Describe(c.entry);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 9);
    // Read back, the line gives the (sanitized) entry.
    AddressEntry back;
    EXPECT_EQ(ParseEntryLine(AddressBookHeaderLine() + line, 1, back), 0);
    AddressEntry sanitized;
    for (int k = 0; k < AddressEntry::kFieldCount; ++k) sanitized[k] = SanitizeField(c.entry[k]);
    EXPECT_EQ(back, sanitized);
  }
}

// The order of the dialogs, computed independently: both readings as lists
// of character values, compared as lists.
std::vector<unsigned> CharacterValues(const std::string& text) {
  std::vector<unsigned> values;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    if (lead && i + 1 < text.size()) {
      values.push_back(b * 256u + static_cast<unsigned char>(text[++i]));
    } else {
      values.push_back(b);
    }
  }
  return values;
}

bool ReferenceGreater(const std::string& a, const std::string& b) {
  return CharacterValues(b) < CharacterValues(a);
}

// Passes over neighbouring pairs until one pass swaps nothing.
void ReferenceBubbleSort(std::vector<AddressEntry>& entries) {
  for (bool swapped = true; swapped;) {
    swapped = false;
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
      if (ReferenceGreater(entries[i].kana, entries[i + 1].kana)) {
        std::swap(entries[i], entries[i + 1]);
        swapped = true;
      }
    }
  }
}

TEST(CompareReading, OrdersByCharacterValue) {
  const struct {
    std::string a;
    std::string b;
    int sign;
  } cases[] = {
      {"", "", 0},
      {"abc", "abc", 0},
      {"", "a", -1},
      {"a", "ab", -1},  // a prefix comes first
      {S("あ"), S("あい"), -1},
      {"A", "a", -1},            // byte values, case-sensitive
      {"z", S("ｱ"), -1},         // ASCII before half-width
      {S("ｱ"), S("あ"), -1},     // half-width before double-byte
      {"\xDF", "\x81\x40", -1},  // ﾟ (DF) before the full-width space (81 40)
      {S("あ"), S("い"), -1},
      {S("あ"), S("ア"), -1},        // hiragana 82xx before katakana 83xx
      {S("ソ"), S("ゾ"), -1},        // trail 5C before 5D
      {"\x9F\xFC", "\xE0\x40", -1},  // lead bytes compared unsigned
      {"\x82", "\x82\xA0", -1},      // a lone lead byte at the end is one byte
      {"\x82", "\xB1", -1},
      {"a\x82", "a\x82\x40", -1},
      {S("たなか"), S("たなかa"), -1},
      {S("たなか"), S("たなが"), -1},
  };
  for (const auto& c : cases) {
    const auto sign = [](int v) { return (v > 0) - (v < 0); };
    EXPECT_EQ(sign(CompareReading(c.a, c.b)), c.sign) << Hex(c.a) << " vs " << Hex(c.b);
    EXPECT_EQ(sign(CompareReading(c.b, c.a)), -c.sign) << Hex(c.b) << " vs " << Hex(c.a);
    EXPECT_EQ(ReferenceGreater(c.a, c.b), c.sign > 0) << "reference disagrees: " << Hex(c.a);
    EXPECT_EQ(ReferenceGreater(c.b, c.a), c.sign < 0) << "reference disagrees: " << Hex(c.b);
  }
}

TEST(SortByReading, OrdersByReadingAndKeepsEqualReadingsInOrder) {
  std::vector<AddressEntry> entries = {
      Entry({S("あ"), "1"}),   Entry({S("ｱ"), "2"}),  Entry({"abc", "3"}),
      Entry({S("あい"), "4"}), Entry({S("あ"), "5"}), Entry({"ab", "6"}),
      Entry({"", "7"}),        Entry({S("ア"), "8"}), Entry({S("ｱ"), "9"}),
  };
  SortByReading(entries);
  std::string order;
  for (const AddressEntry& e : entries) order += e.regist;
  EXPECT_EQ(order, "763291548");
}

// Readings from a few characters so that many are equal; some end in a
// lone lead byte, as a field cut to length can.
std::vector<AddressEntry> RandomBook(std::size_t count, unsigned seed, int alphabet) {
  // a B 1 ｱ ｲ あ い ア ソ ー 漾 space
  const std::string characters[] = {"a",        "B",        "1",        "\xB1",
                                    "\xB2",     "\x82\xA0", "\x82\xA2", "\x83\x41",
                                    "\x83\x5C", "\x81\x5B", "\xE0\x40", " "};
  const int pool = std::min<int>(alphabet, static_cast<int>(std::size(characters)));
  std::mt19937 random(seed);
  std::vector<AddressEntry> entries(count);
  for (std::size_t i = 0; i < count; ++i) {
    const int length = static_cast<int>(random() % 4);
    for (int k = 0; k < length; ++k) entries[i].kana += characters[random() % pool];
    if (random() % 10 == 0) entries[i].kana += '\x82';
    entries[i].regist = std::to_string(i);
  }
  return entries;
}

TEST(SortByReading, GivesTheOrderOfNeighbourSwaps) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    for (int alphabet : {3, 6, 12}) {
      std::vector<AddressEntry> sorted = RandomBook(300, seed, alphabet);
      std::vector<AddressEntry> reference = sorted;
      SortByReading(sorted);
      ReferenceBubbleSort(reference);
      ASSERT_EQ(sorted, reference) << "seed " << seed << " alphabet " << alphabet;
    }
  }
}

TEST(SortByReading, SortsTenThousandEntriesStably) {
  std::vector<AddressEntry> sorted = RandomBook(10000, 42, 12);
  std::vector<AddressEntry> reference = sorted;
  SortByReading(sorted);
  std::stable_sort(reference.begin(), reference.end(),
                   [](const auto& x, const auto& y) { return ReferenceGreater(y.kana, x.kana); });
  EXPECT_EQ(sorted, reference);
}

TEST(LoadAddressBook, LfAndUtf8FilesLoadAsShiftJisCrLf) {
  const std::string expected = AddressBookHeaderLine() +
                               S("たなか\t田中\t田中　太郎\ttanaka@example.jp\r\n") +
                               S("ｽｽﾞｷ\t鈴木\t鈴木　花子\thanako@example.jp\r\n");
  std::string lf = expected;
  lf.erase(std::remove(lf.begin(), lf.end(), '\r'), lf.end());
  const std::string files[] = {
      expected,
      lf,
      SjisToUtf8(lf),
      "\xEF\xBB\xBF" + SjisToUtf8(expected),
  };
  TempDir dir;
  for (const std::string& bytes : files) {
    WriteBytes(dir.File("VelkaroAddress.txt"), bytes);
    int unmappable = 0;
    EXPECT_EQ(Hex(LoadAddressBook(dir.File("VelkaroAddress.txt"), &unmappable)), Hex(expected))
        << Hex(bytes);
    EXPECT_EQ(unmappable, 0);
  }
  WriteBytes(dir.File("empty.txt"), "");
  for (const std::string& path : {dir.File("missing.txt"), dir.File("empty.txt"), dir.path()}) {
    EXPECT_EQ(LoadAddressBook(path), "") << path;
  }
}

TEST(LoadAddressBook, CountsCharactersWithNoShiftJisForm) {
  TempDir dir;
  // An emoji and an accented letter in a UTF-8 file.
  WriteBytes(dir.File("book.txt"), "h\n\xE3\x81\x82\tJos\xC3\xA9\t\xF0\x9F\x98\x80\n");
  int unmappable = 0;
  EXPECT_EQ(Hex(LoadAddressBook(dir.File("book.txt"), &unmappable)),
            Hex("h\r\n\x82\xA0\tJos\x81\xAC\t\x81\xAC\r\n"));
  EXPECT_EQ(unmappable, 2);
}

TEST(SaveAddressBook, WritesTheTextUnchangedAndLoadsItBack) {
  TempDir dir;
  const std::string path = dir.File("VelkaroAddress.txt");
  // A lone CR and a cut lead byte must survive the round trip as they are.
  const std::string text =
      AddressBookHeaderLine() +
      FormatEntryLine(Entry({S("たなか"), S("田中"), S("田中　太郎"), "t@x"})) + "a\rb\tr\x82\r\n";
  WriteBytes(path, "old contents");
  EXPECT_EQ(SaveAddressBook(path, text), 0);
  EXPECT_EQ(Hex(ReadBytes(path)), Hex(text));
  EXPECT_EQ(Hex(LoadAddressBook(path)), Hex(text));
  // An empty book writes nothing.
  EXPECT_EQ(SaveAddressBook(path, ""), 0);
  EXPECT_EQ(Hex(ReadBytes(path)), Hex(text));
  EXPECT_EQ(SaveAddressBook(dir.File("new.txt"), ""), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("new.txt")));
}

TEST(SaveAddressBook, AFailedSaveKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir.File("VelkaroAddress.txt");
  const std::string old = AddressBookHeaderLine() + "a\tA\r\n";
  WriteBytes(path, old);
  std::string text = AddressBookHeaderLine();
  for (int i = 0; i < 100; ++i) text += FormatEntryLine(Entry({"k", "r" + std::to_string(i)}));
  {
    FileSizeLimit limit(200);
    EXPECT_EQ(SaveAddressBook(path, text), 1);
  }
  EXPECT_EQ(ReadBytes(path), old);
  EXPECT_EQ(SaveAddressBook(dir.File("no/such/folder/book.txt"), text), 1);
}

}  // namespace
}  // namespace velkaro
