// Dates by style number, waiting, and the Shift_JIS ↔ UTF-8 conversions.
#include <gtest/gtest.h>

#include "core/encoding.h"
#include "core/zentool.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

class FormatDateTimeTest : public testing::PlatformTest {};

TEST_F(FormatDateTimeTest, FormatsEveryStyle) {
  platform.SetLocalTime(2026, 3, 1, 7, 5, 9);  // a Sunday
  const std::time_t t = platform.Now();
  const struct {
    int style;
    const char* utf8;
  } cases[] = {
      {1, "2026"},         {2, "03"},        {3, "01"},
      {4, "07"},           {5, "05"},        {6, "09"},
      {7, "日"},           {11, "2026年03月01日"}, {12, "2026/03/01"},
      {13, "20260301"},    {15, "2026年03月01日(日)"}, {21, "07時05分09秒"},
      {22, "07:05:09"},    {23, "070509"},   {0, ""},
      {8, ""},             {9, ""},          {10, ""},
      {14, ""},            {16, ""},         {20, ""},
      {24, ""},            {-1, ""},
  };
  Zentool z;
  for (const auto& c : cases) {
    EXPECT_EQ(z.FormatDateTime(t, c.style), Utf8ToSjis(c.utf8)) << "style " << c.style;
  }
}

TEST_F(FormatDateTimeTest, NamesEveryWeekday) {
  const char* days[] = {"日", "月", "火", "水", "木", "金", "土"};
  Zentool z;
  for (int i = 0; i < 7; ++i) {
    platform.SetLocalTime(2026, 3, 1 + i, 12, 0, 0);
    EXPECT_EQ(z.FormatDateTime(platform.Now(), 7), Utf8ToSjis(days[i]));
  }
}

TEST_F(FormatDateTimeTest, UsesThePlatformsLocalTime) {
  platform.SetUtcOffset(9 * 3600);
  platform.SetLocalTime(2026, 12, 31, 23, 59, 59);
  Zentool z;
  EXPECT_EQ(z.FormatDateTime(platform.Now(), 12), "2026/12/31");
  platform.Sleep(1000);
  EXPECT_EQ(z.FormatDateTime(platform.Now(), 12), "2027/01/01");
}

class WaitTest : public testing::PlatformTest {};

TEST_F(WaitTest, SleepsOneMillisecondAndPumpsPerPass) {
  Zentool z;
  z.Wait(5);
  EXPECT_EQ(platform.VirtualMs(), 5);
  EXPECT_EQ(platform.PumpCount(), 5);
  z.Wait(0);
  EXPECT_EQ(platform.VirtualMs(), 5);
  EXPECT_EQ(platform.PumpCount(), 6);
}

TEST(Encoding, ConvertsBetweenShiftJisAndUtf8) {
  const struct {
    const char* utf8;
    const char* sjis;
  } cases[] = {
      {"", ""},
      {"abc\r\n", "abc\r\n"},
      {"漢字", "\x8A\xBF\x8E\x9A"},
      {"ｱｲｳ", "\xB1\xB2\xB3"},
      {"①Ⅰ㈱", "\x87\x40\x87\x54\x87\x8A"},
      {"～", "\x81\x60"},
      {"纊", "\xFA\x5C"},
      {"請求書_山田.txt", "\x90\xBF\x8B\x81\x8F\x91_\x8E\x52\x93\x63.txt"},
  };
  for (const auto& c : cases) {
    int unmappable = 0;
    EXPECT_EQ(Utf8ToSjis(c.utf8, &unmappable), c.sjis) << c.utf8;
    EXPECT_EQ(unmappable, 0) << c.utf8;
    EXPECT_EQ(SjisToUtf8(c.sjis), c.utf8) << c.utf8;
  }
}

TEST(Encoding, MarksAndCountsWhatShiftJisCannotHold) {
  const struct {
    const char* utf8;
    const char* sjis;
    int unmappable;
  } cases[] = {
      {"a😀b", "a\x81\xAC" "b", 1},
      {"😀😀", "\x81\xAC\x81\xAC", 2},
      {"\xEF\xBB\xBF" "abc", "abc", 0},            // byte-order mark dropped
      {"x\xFFy", "x\x81\xACy", 1},              // invalid UTF-8 byte
      {"x\xE6\xBC", "x\x81\xAC", 1},            // truncated sequence at the end
      // A broken sequence is only its lead and continuation bytes: the
      // line end or letter after it is kept.
      {"x\xE3\r\ny", "x\x81\xAC\r\ny", 1},
      {"\xE6\xBC" "a\n", "\x81\xAC" "a\n", 1},
      {"\xF0\x9F\n\xC3", "\x81\xAC\n\x81\xAC", 2},
      {"〜−", "\x81\x60\x81\x7C", 0},          // JIS-style forms of ～ and －
  };
  for (const auto& c : cases) {
    int unmappable = 0;
    EXPECT_EQ(Utf8ToSjis(c.utf8, &unmappable), c.sjis) << c.utf8;
    EXPECT_EQ(unmappable, c.unmappable) << c.utf8;
  }
}

TEST(Encoding, ReplacesBrokenShiftJisForDisplay) {
  EXPECT_EQ(SjisToUtf8("a\x85\x40z"), "a\xEF\xBF\xBDz");  // a pair CP932 leaves unassigned
  EXPECT_EQ(SjisToUtf8("a\x81"), "a\xEF\xBF\xBD");
  EXPECT_EQ(SjisToUtf8("\x81\x20x"), "\xEF\xBF\xBD x");
}

TEST(Encoding, SjisLiteralsAreConvertedOnceAndKept) {
  const char* literal = "送信";
  const std::string& first = Sjis(literal);
  EXPECT_EQ(first, "\x91\x97\x90\x4D");
  EXPECT_EQ(&Sjis(literal), &first);
}

}  // namespace
}  // namespace velkaro
