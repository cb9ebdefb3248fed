// The shared byte tests and ASCII case folding.
#include "core/text_bytes.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "core/encoding.h"

namespace velkaro {
namespace {

TEST(SjisBytes, LeadAndTrailRangesEndWhereCp932Does) {
  struct Case {
    unsigned byte;
    bool lead;
    bool trail;
  };
  const Case cases[] = {
      {0x00, false, false}, {0x3F, false, false}, {0x40, false, true}, {0x41, false, true},
      {0x7E, false, true},  {0x7F, false, false}, {0x80, false, true}, {0x81, true, true},
      {0x9F, true, true},   {0xA0, false, true},  {0xA1, false, true}, {0xDF, false, true},
      {0xE0, true, true},   {0xEF, true, true},   {0xFA, true, true},  {0xFC, true, true},
      {0xFD, false, false}, {0xFF, false, false},
  };
  for (const Case& c : cases) {
    const auto b = static_cast<unsigned char>(c.byte);
    EXPECT_EQ(IsSjisLead(b), c.lead) << std::hex << c.byte;
    EXPECT_EQ(IsSjisTrail(b), c.trail) << std::hex << c.byte;
  }
}

TEST(AsciiCase, ChangesOnlyAsciiLettersWhateverTheLocale) {
  struct Case {
    const char* what;
    std::string text;
    std::string lower;
    std::string upper;
    std::string sjisLower;
  };
  const std::string a = Sjis("ア");  // 0x83 0x41: a trail byte that looks like 'A'
  const std::string kana = "\xB1";   // half-width ｱ, a single byte
  const Case cases[] = {
      {"plain ASCII", "Mail FROM:<Taro@Example.JP>", "mail from:<taro@example.jp>",
       "MAIL FROM:<TARO@EXAMPLE.JP>", "mail from:<taro@example.jp>"},
      {"digits and signs stay", "x-1_@[]{}", "x-1_@[]{}", "X-1_@[]{}", "x-1_@[]{}"},
      {"Latin-1 and UTF-8 bytes stay", "\xC0\xC9\xDE" + std::string("\xC3\x89"),
       "\xC0\xC9\xDE" + std::string("\xC3\x89"), "\xC0\xC9\xDE" + std::string("\xC3\x89"),
       "\xC0\xC9\xDE" + std::string("\xC3\x89")},
      {"a Shift_JIS trail byte", a + "B", "\x83\x61" + std::string("b"), a + "B", a + "b"},
      {"a half-width kana is one byte", kana + "AB", kana + "ab", kana + "AB", kana + "ab"},
      {"a lead byte at the end", "A\x83", "a\x83", "A\x83", "a\x83"},
      {"empty", "", "", "", ""},
  };
  // A single-byte locale would fold Latin-1 letters with std::tolower.
  const std::string before = std::setlocale(LC_CTYPE, nullptr);
  const bool latin1 = std::setlocale(LC_CTYPE, "en_US.ISO-8859-1") != nullptr ||
                      std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1") != nullptr;
  for (const Case& c : cases) {
    EXPECT_EQ(AsciiLower(c.text), c.lower) << c.what << (latin1 ? " (Latin-1 locale)" : "");
    EXPECT_EQ(AsciiUpper(c.text), c.upper) << c.what;
    EXPECT_EQ(SjisAsciiLower(c.text), c.sjisLower) << c.what;
  }
  std::setlocale(LC_CTYPE, before.c_str());
}

}  // namespace
}  // namespace velkaro
