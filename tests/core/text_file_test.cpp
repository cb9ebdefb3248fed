// Reading text files of any common form into Shift_JIS CR LF, and writing
// them back in the form they had.
#include "core/text_file.h"

#include <gtest/gtest.h>

#include <string>

#include "core/encoding.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::Hex;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

constexpr TextEncoding kSjis = TextEncoding::ShiftJis;
constexpr TextEncoding kUtf8 = TextEncoding::Utf8;
constexpr TextEncoding kBom = TextEncoding::Utf8Bom;
constexpr LineEnds kCrLf = LineEnds::CrLf;
constexpr LineEnds kLf = LineEnds::Lf;
constexpr LineEnds kMixed = LineEnds::Mixed;

TEST(DecodeText, FindsEncodingAndLineEndsAndConverts) {
  const struct {
    const char* what;
    std::string bytes;
    TextEncoding encoding;
    LineEnds lineEnds;
    std::string sjis;
    int unmappable;
  } cases[] = {
      {"CR LF ASCII", "abc\r\ndef\r\n", kSjis, kCrLf, "abc\r\ndef\r\n", 0},
      {"LF ASCII", "abc\ndef\n", kSjis, kLf, "abc\r\ndef\r\n", 0},
      {"LF at the very start", "\nx", kSjis, kLf, "\r\nx", 0},
      {"mixed", "a\r\nb\nc", kSjis, kMixed, "a\r\nb\r\nc", 0},
      {"no line end at all", "abc", kSjis, kMixed, "abc", 0},
      {"lone CR stays in an LF file", "a\rb\n", kSjis, kLf, "a\rb\r\n", 0},
      {"lone CR stays in a CR LF file", "a\r\r\n", kSjis, kCrLf, "a\r\r\n", 0},
      {"CR-only file is one line", "a\rb\r", kSjis, kMixed, "a\rb\r", 0},
      {"Shift_JIS kanji", "\x8A\xBF\x8E\x9A\r\n", kSjis, kCrLf, "\x8A\xBF\x8E\x9A\r\n", 0},
      {"Shift_JIS kanji, LF", "\x8A\xBF\x8E\x9A\n", kSjis, kLf, "\x8A\xBF\x8E\x9A\r\n", 0},
      // Half-width katakana: "ｱ" alone, "ﾀﾅｶ" (C0 is never UTF-8), and
      // "ﾅｶ", whose bytes C5 B6 are also the UTF-8 form of "Ŷ".
      {"half-width ｱ", "\xB1\r\n", kSjis, kCrLf, "\xB1\r\n", 0},
      {"half-width ﾀﾅｶ", "\xC0\xC5\xB6\n", kSjis, kLf, "\xC0\xC5\xB6\r\n", 0},
      {"half-width ﾅｶ valid as UTF-8 too", "x\t\xC5\xB6\r\n", kSjis, kCrLf, "x\t\xC5\xB6\r\n", 0},
      {"UTF-8 hiragana, LF", "\xE3\x81\x82\n", kUtf8, kLf, "\x82\xA0\r\n", 0},
      {"UTF-8 hiragana, CR LF", "\xE3\x81\x82\r\n", kUtf8, kCrLf, "\x82\xA0\r\n", 0},
      {"UTF-8 with BOM", "\xEF\xBB\xBF\xE3\x81\x82\r\n", kBom, kCrLf, "\x82\xA0\r\n", 0},
      {"BOM before ASCII", "\xEF\xBB\xBFxyz\n", kBom, kLf, "xyz\r\n", 0},
      {"UTF-8 emoji", "a\xF0\x9F\x98\x80\n", kUtf8, kLf, "a\x81\xAC\r\n", 1},
      {"UTF-8 é has no CP932 form", "\xC3\xA9\xE3\x81\x82", kUtf8, kMixed, "\x81\xAC\x82\xA0", 1},
      // × (C3 97) is no valid Shift_JIS: 97 would be a lead byte at the end.
      {"two-byte UTF-8 only, not Shift_JIS", "\xC3\x97", kUtf8, kMixed, "\x81\x7E", 0},
      {"overlong UTF-8 is not UTF-8", "\xC0\xAF", kSjis, kMixed, "\xC0\xAF", 0},
      {"surrogate is not UTF-8", "\xED\xA0\x80", kSjis, kMixed, "\xED\xA0\x80", 0},
      {"truncated UTF-8 is not UTF-8", "\xE3\x81", kSjis, kMixed, "\xE3\x81", 0},
      {"invalid bytes after a BOM", "\xEF\xBB\xBF\xFF\n", kBom, kLf, "\x81\xAC\r\n", 1},
      {"broken sequence before a line end", "\xEF\xBB\xBF\xEF\n", kBom, kLf, "\x81\xAC\r\n", 1},
  };
  for (const auto& c : cases) {
    const TextFileContent content = DecodeText(c.bytes);
    EXPECT_TRUE(content.ok) << c.what;
    EXPECT_EQ(content.encoding, c.encoding) << c.what;
    EXPECT_EQ(content.lineEnds, c.lineEnds) << c.what;
    EXPECT_EQ(Hex(content.sjis), Hex(c.sjis)) << c.what;
    EXPECT_EQ(content.unmappable, c.unmappable) << c.what;
  }
}

TEST(EncodeTextForFile, WritesBackWhatWasRead) {
  const std::string sjis =
      "\x8A\xBF\x8E\x9A\xB1\xB2 a\rb\r\n\r\n\x82\xA0";  // 漢字ｱｲ a␍b, blank, あ
  const std::string utf8 = SjisToUtf8(sjis);
  const std::string originals[] = {
      sjis,                                                                     // Shift_JIS CR LF
      "\x8A\xBF\x8E\x9A\xB1\xB2 a\rb\n\n\x82\xA0",                              // Shift_JIS LF
      utf8,                                                                     // UTF-8 CR LF
      "\xE6\xBC\xA2\xE5\xAD\x97\xEF\xBD\xB1\xEF\xBD\xB2 a\rb\n\n\xE3\x81\x82",  // UTF-8 LF
      "\xEF\xBB\xBF" + utf8,                                                    // BOM, CR LF
      "\xEF\xBB\xBF\xE6\xBC\xA2\xE5\xAD\x97\xEF\xBD\xB1\xEF\xBD\xB2 a\rb\n\n\xE3\x81\x82",
  };
  for (const std::string& original : originals) {
    const TextFileContent content = DecodeText(original);
    EXPECT_EQ(Hex(content.sjis), Hex(sjis)) << Hex(original);
    int unmappable = 0;
    EXPECT_EQ(Hex(EncodeTextForFile(content.sjis, content.encoding, content.lineEnds, &unmappable)),
              Hex(original));
    EXPECT_EQ(unmappable, 0);
  }
}

TEST(EncodeTextForFile, ConvertsEachStyle) {
  const struct {
    std::string sjis;
    TextEncoding encoding;
    LineEnds lineEnds;
    std::string bytes;
    int unmappable;
  } cases[] = {
      {"a\r\nb\r\n", kSjis, kCrLf, "a\r\nb\r\n", 0},
      {"a\r\nb\r\n", kSjis, kLf, "a\nb\n", 0},
      // A mixed file cannot be restored line by line; it becomes CR LF.
      {"a\r\nb\r\n", kSjis, kMixed, "a\r\nb\r\n", 0},
      {"a\r\r\n\r", kSjis, kLf, "a\r\n\r", 0},
      {"\x82\xA0\r\n", kUtf8, kLf, "\xE3\x81\x82\n", 0},
      {"\x82\xA0\r\n", kBom, kCrLf, "\xEF\xBB\xBF\xE3\x81\x82\r\n", 0},
      {"", kBom, kLf, "\xEF\xBB\xBF", 0},
      // Bytes that are no Shift_JIS character cannot be written as UTF-8.
      // (85 40 is a pair CP932 leaves unassigned; a lone 0xFF is U+F8F3 as on Windows.)
      {"a\x85\x40z\x82", kUtf8, kCrLf, "a\xEF\xBF\xBDz\xEF\xBF\xBD", 2},
      {"a\x85\x40z\x82", kSjis, kCrLf, "a\x85\x40z\x82", 0},
      {"a\xFF", kUtf8, kCrLf, "a\xEF\xA3\xB3", 0},
  };
  for (const auto& c : cases) {
    int unmappable = 0;
    EXPECT_EQ(Hex(EncodeTextForFile(c.sjis, c.encoding, c.lineEnds, &unmappable)), Hex(c.bytes))
        << Hex(c.sjis);
    EXPECT_EQ(unmappable, c.unmappable) << Hex(c.sjis);
  }
}

TEST(ReadTextFile, ReadsAFileOrGivesNothing) {
  TempDir dir;
  const std::string bytes = "\xEF\xBB\xBF\xE3\x81\x82\n\xF0\x9F\x98\x80\n";  // BOM あ LF 😀 LF
  WriteBytes(dir.File("body.txt"), bytes);
  const TextFileContent content = ReadTextFile(dir.File("body.txt"));
  EXPECT_TRUE(content.ok);
  EXPECT_EQ(content.encoding, kBom);
  EXPECT_EQ(content.lineEnds, kLf);
  EXPECT_EQ(Hex(content.sjis), Hex("\x82\xA0\r\n\x81\xAC\r\n"));
  EXPECT_EQ(content.unmappable, 1);
  EXPECT_EQ(ReadBytes(dir.File("body.txt")), bytes) << "the file stays as it was";

  WriteBytes(dir.File("empty.txt"), "");
  for (const std::string& path : {dir.File("missing.txt"), dir.File("empty.txt"), dir.path()}) {
    const TextFileContent none = ReadTextFile(path);
    EXPECT_FALSE(none.ok) << path;
    EXPECT_EQ(none.sjis, "") << path;
  }
}

}  // namespace
}  // namespace velkaro
