// Which Shift_JIS characters may go as ISO-2022-JP: every double-byte code
// against Python's strict iso2022_jp decoder, and the characters a mail
// names as the reason for UTF-8.
#include "core/jis_x0208.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

// The Shift_JIS pairs whose ISO-2022-JP arithmetic Python's decoder reads
// as one character: the cells JIS X 0208 assigns.
constexpr char kCellsScript[] =
    "for lead in list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD)):\n"
    "    for trail in [t for t in range(0x40, 0xFD) if t != 0x7F]:\n"
    "        r = (lead - 0x81) * 2 + 1 if lead <= 0x9F else (lead - 0xE0) * 2 + 63\n"
    "        if trail >= 0x9F:\n"
    "            r, c = r + 1, trail - 0x9E\n"
    "        else:\n"
    "            c = trail - (0x40 if trail >= 0x80 else 0x3F)\n"
    "        if r > 94: continue\n"
    "        b = bytes([0x1B, 0x24, 0x42, 0x20 + r, 0x20 + c, 0x1B, 0x28, 0x42])\n"
    "        try:\n"
    "            ok = len(b.decode('iso2022_jp')) == 1\n"
    "        except UnicodeDecodeError:\n"
    "            ok = False\n"
    "        if ok: print('%02X%02X' % (lead, trail))\n";

TEST(JisX0208Test, AssignedCellsAreThoseAStrictDecoderReads) {
  const std::string python = "/usr/bin/python3";
  if (!testing::HaveProgram(python)) GTEST_SKIP() << "no /usr/bin/python3";
  testing::TempDir dir;
  testing::WriteBytes(dir.File("cells.py"), kCellsScript);
  bool ok = false;
  std::istringstream lines(
      testing::RunCommand(python + " '" + dir.File("cells.py") + "'", "", &ok));
  ASSERT_TRUE(ok);
  std::set<unsigned> reference;
  for (std::string code; lines >> code;) reference.insert(std::stoul(code, nullptr, 16));
  ASSERT_EQ(reference.size(), 6879u) << "JIS X 0208:1990 has 6879 characters";

  int mismatches = 0;
  for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
    for (unsigned trail = 0; trail <= 0xFF; ++trail) {
      const bool want = reference.count(lead * 256 + trail) != 0;
      const bool got =
          IsJisX0208Pair(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail));
      if (got != want && ++mismatches <= 10) {
        ADD_FAILURE() << std::hex << lead << " " << trail << ": got " << got;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

struct BeyondCase {
  const char* name;
  std::string sjis;
  std::vector<std::string> want;  // UTF-8
};

const BeyondCase kBeyondCases[] = {
    {"ascii_and_controls", "Abc\r\n\t~\\\x1b", {}},
    {"kana_kanji_symbols", Sjis("あア漢字〒※【】〓―"), {}},
    {"last_kanji_of_row_84", "\xEA\xA4", {}},
    {"empty_cell_after_it", "\xEA\xA5", {"\xEF\xBF\xBD"}},
    {"empty_cell_of_row_2", "\x81\xAD", {"\xEF\xBF\xBD"}},
    {"nec_row_13", Sjis("①②㈱№℡"), {"①", "②", "㈱", "№", "℡"}},
    {"ibm_and_nec_selected_copies", "\xFB\xFC\xEE\xE0\xFA\xB1", {"髙", "﨑"}},
    {"half_width_katakana_with_mark", Sjis("ｶﾞｶ"), {"ｶ", "ﾞ"}},
    {"user_defined_area", "\xF0\x40", {"\xEE\x80\x80"}},
    {"repeats_listed_once_in_order", Sjis("㈱あ①㈱"), {"㈱", "①"}},
    {"lead_byte_at_the_end", "a\x82", {"\xEF\xBF\xBD"}},
};

class CharactersBeyondJisTest : public ::testing::TestWithParam<BeyondCase> {};

TEST_P(CharactersBeyondJisTest, NamesEachCharacterOnce) {
  const BeyondCase& c = GetParam();
  std::vector<std::string> got;
  for (const std::string& character : CharactersBeyondJis(c.sjis)) {
    got.push_back(SjisToUtf8(character));
  }
  EXPECT_EQ(got, c.want);
}

INSTANTIATE_TEST_SUITE_P(Rows, CharactersBeyondJisTest, ::testing::ValuesIn(kBeyondCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velkaro
