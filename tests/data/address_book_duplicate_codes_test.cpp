// Registered names written with another of CP932's codes for the same
// character: 髙橋 saved by Windows as FB FC 8B B4 and by other converters as
// EE E0 8B B4 is one name. The book's own bytes never change.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/encoding.h"
#include "data/address_book.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::Hex;

const std::string kTakahashiIbm = "\xFB\xFC\x8B\xB4";    // 髙橋, 髙 as Windows writes it
const std::string kTakahashiNec = "\xEE\xE0\x8B\xB4";    // 髙橋, 髙 from the NEC-selected block
const std::string kTakahashiPlain = "\x8D\x82\x8B\xB4";  // 高橋, another name
const std::string kRomanOneIbm = "\xFA\x4A";             // Ⅰ, IBM extension
const std::string kRomanOneNec = "\x87\x54";             // Ⅰ, NEC row 13

std::string Line(const std::string& kana, const std::string& regist, const std::string& mail) {
  return kana + "\t" + regist + "\tname\t" + mail + "\t\t\t\t\t\t\r\n";
}

TEST(FindEntryByRegistDuplicateCodes, FindsTheNameWhicheverCodeEachSideUses) {
  const std::string necFirst = Line("a", kTakahashiNec, "nec1@example.jp");
  const std::string plain = Line("b", kTakahashiPlain, "plain@example.jp");
  const std::string ibm = Line("c", kTakahashiIbm, "ibm@example.jp");
  const std::string necLast = Line("d", kTakahashiNec, "nec2@example.jp");
  const std::string roman = Line("e", kRomanOneNec, "roman@example.jp");
  const std::string book = AddressBookHeaderLine() + necFirst + plain + ibm + necLast + roman;

  const struct {
    const char* what;
    std::string name;
    RegistMatch which;
    std::optional<std::string> line;
  } cases[] = {
      {"IBM code finds the first NEC line", kTakahashiIbm, RegistMatch::First, necFirst},
      {"IBM code finds the last NEC line", kTakahashiIbm, RegistMatch::Last, necLast},
      {"NEC code finds the first", kTakahashiNec, RegistMatch::First, necFirst},
      {"NEC code finds the last", kTakahashiNec, RegistMatch::Last, necLast},
      {"高橋 is another name", kTakahashiPlain, RegistMatch::Last, plain},
      {"Ⅰ typed as IBM finds row 13", kRomanOneIbm, RegistMatch::First, roman},
      {"a prefix is no match", "\xFB\xFC", RegistMatch::First, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto found = FindEntryByRegist(book, c.name, c.which);
    EXPECT_EQ(found ? Hex(*found) : "none", c.line ? Hex(*c.line) : "none") << c.what;
  }
}

TEST(FindEntryByRegistDuplicateCodes, NameTypedAsUtf8FindsTheNecSelectedCopy) {
  // The command line and the dialogs hand over UTF-8, which becomes the
  // Windows code; the book written by another program holds the other one.
  const std::string line = Line("a", kTakahashiNec, "t@example.jp");
  const std::string book = AddressBookHeaderLine() + line;
  const auto found = FindEntryByRegist(book, Utf8ToSjis("髙橋"), RegistMatch::First);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(Hex(*found), Hex(line));
}

TEST(AddressBookDuplicateCodes, TheBookKeepsItsBytesThroughLoadEditAndSave) {
  testing::TempDir dir;
  const std::string path = dir.File("VelkaroAddress.txt");
  const std::string book = AddressBookHeaderLine() + Line("a", kTakahashiNec, "n@example.jp") +
                           Line("b", kTakahashiIbm, "i@example.jp") +
                           Line("c", kRomanOneNec + kRomanOneIbm, "r@example.jp");
  testing::WriteBytes(path, book);
  const std::string loaded = LoadAddressBook(path);
  ASSERT_EQ(Hex(loaded), Hex(book));

  // The editing dialog rebuilds every line from its fields.
  std::string rebuilt = AddressBookHeaderLine();
  for (int i = 1; i <= 3; ++i) {
    AddressEntry entry;
    ASSERT_EQ(ParseEntryLine(loaded, i, entry), 0);
    rebuilt += FormatEntryLine(entry);
  }
  ASSERT_EQ(SaveAddressBook(path, rebuilt), 0);
  EXPECT_EQ(Hex(testing::ReadBytes(path)), Hex(book));
}

}  // namespace
}  // namespace velkaro
