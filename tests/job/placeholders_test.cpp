// Personalising texts with the recipient's fields and the date.
#include "job/placeholders.h"

#include <gtest/gtest.h>

#include "core/encoding.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

class PlaceholdersTest : public testing::PlatformTest {
 protected:
  PlaceholdersTest() { platform.SetLocalTime(2026, 5, 3, 9, 5, 3); }  // a Sunday in May
  std::string Replace(const char* utf8Text, const std::string& record) {
    return SjisToUtf8(ReplacePlaceholders(words, Utf8ToSjis(utf8Text), Utf8ToSjis(record)));
  }
  PlaceholderWordList words = DefaultPlaceholderWords();
};

const std::string kYamada =
    "やまだ\t山田\t山田 太郎\tyamada@example.jp\t03-1234\t東京都\tA\tB\tC\tD\r\n";

TEST_F(PlaceholdersTest, ReplacesEveryWord) {
  const struct {
    const char* text;
    std::string record;
    const char* expected;
  } cases[] = {
      {"no words here\r\n", kYamada, "no words here\r\n"},
      {"((name))様", kYamada, "山田 太郎様"},
      {"((regist))((kana))((mailaddr))", kYamada, "山田やまだyamada@example.jp"},
      {"((telephone)) ((realaddr))", kYamada, "03-1234 東京都"},
      {"((data1))((data2))((data3))((data4))", kYamada, "ABCD"},
      {"((name))((name))((name))", kYamada, "山田 太郎山田 太郎山田 太郎"},
      {"((NAME))", kYamada, "((NAME))"},
      {"((today))", kYamada, "2026年05月03日(日)"},
      {"((time))", kYamada, "09時05分03秒"},
      {"((year))/((month))/((day)) ((week))", kYamada, "2026/05/03 日"},
      {"[((name))]", "a\tb\t\tc\r\n", "[]"},
      {"((name))((today))", "", "2026年05月03日(日)"},
      // Field 9 ends only at a line end.
      {"((data4))", "a\tb\tc\td\te\tf\tg\th\ti\tj", ""},
      {"((data4))", "a\tb\tc\td\te\tf\tg\th\ti\tj\r\n", "j"},
      // Date words are replaced before the fields, later fields after
      // earlier ones: a field holding a later field's word is expanded.
      {"((name))", "k\tr\t((today))\r\n", "((today))"},
      {"((name))", "k\tr\t((data4))\ta\tb\tc\td\te\tf\tX\r\n", "X"},
      {"((data4))", "k\tr\t((name))\ta\tb\tc\td\te\tf\t((name))\r\n", "((name))"},
  };
  for (const auto& c : cases) EXPECT_EQ(Replace(c.text, c.record), c.expected) << c.text;
}

TEST_F(PlaceholdersTest, NeverMatchesOnATrailByte) {
  // ソ is 83 5C and 表 is 95 5C; ｱ (B1) is single-byte. A word beginning
  // with the trail byte 0x5C ("\") or 0x40 ("@") must not be found inside
  // them, but is found after a half-width character.
  const struct {
    std::string text, word, value, expected;
  } cases[] = {
      {"\x83\x5C\\x", "\\x", "Y", "\x83\x5CY"},
      {"\x95\x5C"
       "x",
       "\\x", "Y",
       "\x95\x5C"
       "x"},
      {"\xB1\\x", "\\x", "Y", "\xB1Y"},
      {"\x88\x40@", "@", "*", "\x88\x40*"},
      {"ab", "", "X", "ab"},
      {"((w))((w))", "((w))", "", ""},
      {"((w))", "((w))", "((w))", "((w))"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReplaceWord(c.text, c.word, c.value), c.expected) << testing::Hex(c.text);
  }
}

TEST_F(PlaceholdersTest, EmptyWordsReplaceNothingAndLongValuesFitWhole) {
  words[1] = "";
  EXPECT_EQ(Replace("((name))", kYamada), "((name))");
  const std::string longValue(5000, 'v');
  words[1] = "((name))";
  EXPECT_EQ(ReplacePlaceholders(words, "<((name))>", "k\tr\t" + longValue + "\r\n"),
            "<" + longValue + ">");
}

}  // namespace
}  // namespace velkaro

namespace velkaro {
namespace {

// A word that ends in half a character (a lone lead byte) must not take
// the first byte of a double-byte character, under either of its codes.
TEST(ReplaceWordCharacters, AWordNeverSplitsACharacter) {
  struct Case {
    std::string text, word, value, expected;
  };
  const Case cases[] = {
      {"a\xEE\xEE"
       "b",
       "a\xEE", "X",
       "a\xEE\xEE"
       "b"},
      {"a\xEE\xEE"
       "b",
       "a\xFA", "X",
       "a\xEE\xEE"
       "b"},
      {"a\xEE", "a\xEE", "X", "X"},
      // 髙 written as NEC-selected 0xEEE0 is found by its IBM code 0xFBFC.
      {"[\xEE\xE0]", "\xFB\xFC", "X", "[X]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceWord(c.text, c.word, c.value), c.expected) << c.text;
  }
}

}  // namespace
}  // namespace velkaro
