// The body made ready for the wire: CR LF only, no line over the limit.
#include <gtest/gtest.h>

#include "core/encoding.h"
#include "core/zentool.h"
#include "mail/mime_text.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

class WireBodyTest : public testing::PlatformTest {};

std::size_t LongestLine(const std::string& text) {
  std::size_t longest = 0, start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    longest = std::max(longest, end - start);
  }
  return std::max(longest, text.size() - start);
}

TEST_F(WireBodyTest, BareLineEndsBecomeCrLf) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a\nb\r\nc\rd\r\n", "a\r\nb\r\nc\r\nd\r\n"},
      {"\n.\n", "\r\n.\r\n"},
      {"a\r\r\nb", "a\r\n\r\nb"},
      {"no end", "no end"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(mime::WireReadyBody(c.in), c.out) << testing::Hex(c.in);
}

// An ESC in the text would act as a character-set switch once converted:
// "ESC $ B" typed into a line makes the receiver read the rest as kanji.
// Only the converter's own escape sequences may reach the wire, in the body
// and in encoded words alike.
TEST_F(WireBodyTest, EscapesOfTheTextNeverReachTheWire) {
  Zentool z;
  const struct {
    const char* name;
    std::string text, clean, jis;
  } cases[] = {
      {"fake switch to kanji", "a\x1b$Bb\r\n", "a$Bb\r\n", "a$Bb\r\n"},
      {"fake switch back inside kanji", Sjis("漢") + "\x1b(B" + Sjis("字"),
       Sjis("漢") + "(B" + Sjis("字"), "\x1b$B4A\x1b(B(B\x1b$B;z\x1b(B"},
      {"lone escapes", "x\x1b\x1b\r\n\x1b", "x\r\n", "x\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(z.ZenSjisToJis(mime::WireReadyBody(c.text)), c.jis);
    EXPECT_EQ(mime::EncodedField("Subject: ", c.text, ""),
              mime::EncodedField("Subject: ", c.clean, ""));
  }
}

TEST_F(WireBodyTest, LongLinesAreBrokenBetweenCharactersWithinTheLimit) {
  Zentool z;
  const std::string kanji = Utf8ToSjis("漢");
  const std::string kana = "\xB6\xDE";  // ｶﾞ
  const struct {
    const char* name;
    std::string line;
  } cases[] = {
      {"kanji",
       [&] {
         std::string s;
         for (int i = 0; i < 700; ++i) s += kanji;
         return s;
       }()},
      {"ascii", std::string(3000, 'a')},
      {"alternating",
       [&] {
         std::string s;
         for (int i = 0; i < 600; ++i) s += kanji + "a";
         return s;
       }()},
      {"kana with marks",
       [&] {
         std::string s;
         for (int i = 0; i < 600; ++i) s += kana;
         return s;
       }()},
  };
  for (const auto& c : cases) {
    const std::string ready = mime::WireReadyBody(c.line + "\r\nnext\r\n");
    const std::string wire = z.ZenSjisToJis(ready);
    EXPECT_LE(LongestLine(wire), 990u) << c.name;
    // Nothing but line breaks was added, and no character was cut.
    std::string joined;
    for (std::size_t i = 0; i < ready.size(); ++i) {
      if (ready.compare(i, 2, "\r\n") == 0 && ready.compare(i + 2, 4, "next") != 0 &&
          i + 2 < ready.size()) {
        ++i;
        continue;
      }
      joined += ready[i];
    }
    EXPECT_EQ(joined, c.line + "\r\nnext\r\n") << c.name;
    EXPECT_EQ(SjisToUtf8(ready).find("\xEF\xBF\xBD"), std::string::npos) << c.name;
  }
  const std::string shortLine = Utf8ToSjis("短い行です。\r\n");
  EXPECT_EQ(mime::WireReadyBody(shortLine), shortLine);
}

}  // namespace
}  // namespace velkaro
