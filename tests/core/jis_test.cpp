// Shift_JIS to ISO-2022-JP: fixed cases, the stand-in characters, and a
// byte-for-byte comparison with nkf on generated texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/encoding.h"
#include "core/zentool.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::Hex;

// Bytes from space-separated hex pairs; "JIS" stands for ESC $ B and "ASC"
// for ESC ( B.
std::string B(const std::string& spec) {
  std::istringstream in(spec);
  std::string token;
  std::string out;
  while (in >> token) {
    if (token == "JIS") {
      out += "\x1b$B";
    } else if (token == "ASC") {
      out += "\x1b(B";
    } else {
      out += static_cast<char>(std::stoi(token, nullptr, 16));
    }
  }
  return out;
}

struct Case {
  const char* what;
  const char* input;
  const char* expected;
};

class SjisToJisTest : public testing::PlatformTest {
 protected:
  static std::string Convert(const std::string& sjis) { return Zentool().ZenSjisToJis(sjis); }

  static void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      EXPECT_EQ(Hex(Convert(B(c.input))), Hex(B(c.expected))) << c.what;
    }
  }
};

TEST_F(SjisToJisTest, RunsOpenBeforeDoubleByteAndCloseBeforeAscii) {
  Check({
      {"worked example", "41 8A BF 8E 9A 42 0D 0A", "41 JIS 34 41 3B 7A ASC 42 0D 0A"},
      {"empty", "", ""},
      {"ASCII and CR LF unchanged", "41 62 20 7E 5C 0D 0A 09 7F 00 0D 0A",
       "41 62 20 7E 5C 0D 0A 09 7F 00 0D 0A"},
      {"ends on a double-byte character", "41 8A BF", "41 JIS 34 41 ASC"},
      {"two runs around a space", "8A BF 20 8E 9A", "JIS 34 41 ASC 20 JIS 3B 7A ASC"},
      {"consecutive characters share a run", "8A BF 8E 9A", "JIS 34 41 3B 7A ASC"},
      {"double-byte before CR LF", "8A BF 0D 0A 41", "JIS 34 41 ASC 0D 0A 41"},
      {"kana and kanji share a run", "8A BF B1 8E 9A", "JIS 34 41 25 22 3B 7A ASC"},
      {"kana between ASCII", "41 B1 42", "41 JIS 25 22 ASC 42"},
  });
}

TEST_F(SjisToJisTest, EveryAsciiByteComesBackUnchanged) {
  std::string all;
  for (int b = 0; b < 0x80; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Convert(all), all);
}

TEST_F(SjisToJisTest, PairArithmeticAtTheCornersOfTheGrid) {
  Check({
      {"row 1 cell 1", "81 40", "JIS 21 21 ASC"},
      {"last trail below 0x7F", "81 7E", "JIS 21 5F ASC"},
      {"first trail above 0x7F", "81 80", "JIS 21 60 ASC"},
      {"last cell of an odd row", "81 9E", "JIS 21 7E ASC"},
      {"first cell of an even row", "81 9F", "JIS 22 21 ASC"},
      {"last cell of an even row", "81 FC", "JIS 22 7E ASC"},
      {"last lead below 0xA0", "9F FC", "JIS 5E 7E ASC"},
      {"first lead from 0xE0", "E0 40", "JIS 5F 21 ASC"},
      {"unassigned code inside the grid", "85 40", "JIS 29 21 ASC"},
      {"NEC row 13", "87 54", "JIS 2D 35 ASC"},
      {"NEC-selected IBM extension", "ED 40", "JIS 79 21 ASC"},
      {"row 94 cell 94", "EF FC", "JIS 7E 7E ASC"},
      {"ASCII-range trail byte belongs to the pair", "8A 41", "JIS 33 22 ASC"},
      {"a lead byte can be the trail of the lead before it", "8A 8A BF", "JIS 33 6A 25 3D ASC"},
  });
}

TEST_F(SjisToJisTest, HalfWidthKatakanaWidenAndCombineWithSoundMarks) {
  Check({
      {"ｱｲｳ", "B1 B2 B3", "JIS 25 22 25 24 25 26 ASC"},
      {"｡｢｣､･ punctuation", "A1 A2 A3 A4 A5", "JIS 21 23 21 56 21 57 21 22 21 26 ASC"},
      {"ｦ ｰ ﾝ", "A6 B0 DD", "JIS 25 72 21 3C 25 73 ASC"},
      {"ｶﾞ", "B6 DE", "JIS 25 2C ASC"},
      {"ﾄﾞ", "C4 DE", "JIS 25 49 ASC"},
      {"ﾊﾞ ﾊﾟ", "CA DE CA DF", "JIS 25 50 25 51 ASC"},
      {"ﾎﾟ", "CE DF", "JIS 25 5D ASC"},
      {"ｳﾞ", "B3 DE", "JIS 25 74 ASC"},
      {"ｶﾟ has no combined letter", "B6 DF", "JIS 25 2B 21 2C ASC"},
      {"ﾅﾞ has no combined letter", "C5 DE", "JIS 25 4A 21 2B ASC"},
      {"ﾜﾞ has no combined letter", "DC DE", "JIS 25 6F 21 2B ASC"},
      {"a mark combines once", "B6 DE DE", "JIS 25 2C 21 2B ASC"},
      {"marks alone", "DE DF", "JIS 21 2B 21 2C ASC"},
      {"a mark after a kanji stays a mark", "8A BF DE", "JIS 34 41 21 2B ASC"},
      {"a mark after ASCII stays a mark", "41 DE", "41 JIS 21 2B ASC"},
      {"kana at the very end", "41 CA", "41 JIS 25 4F ASC"},
  });
}

TEST_F(SjisToJisTest, IbmExtensionsGoThroughTheirOtherCp932Code) {
  Check({
      {"ⅰ via NEC-selected EEEF", "FA 40", "JIS 7C 71 ASC"},
      {"Ⅰ via row 13 8754", "FA 4A", "JIS 2D 35 ASC"},
      {"¬ via standard 81CA, not NEC-selected EEF9", "FA 54", "JIS 22 4C ASC"},
      {"№ via row 13 8782", "FA 59", "JIS 2D 62 ASC"},
      {"∵ via standard 81E6, not row 13 879A", "FA 5B", "JIS 22 68 ASC"},
      {"纊 via NEC-selected ED40", "FA 5C", "JIS 79 21 ASC"},
      {"last IBM code 黑 FC4B via EEEC", "FC 4B", "JIS 7C 6E ASC"},
      {"among ASCII", "41 FA 40 42", "41 JIS 7C 71 ASC 42"},
  });
}

// What has no JIS form becomes 〓 (22 2E) inside the run; nothing 8-bit is
// let through and no line end is lost.
TEST_F(SjisToJisTest, UnmappableBecomesGeta) {
  Check({
      {"user-defined first", "F0 40", "JIS 22 2E ASC"},
      {"user-defined last", "F9 FC", "JIS 22 2E ASC"},
      {"unassigned IBM code after the last", "FC 4C", "JIS 22 2E ASC"},
      {"unassigned IBM code at the end of the block", "FC FC", "JIS 22 2E ASC"},
      {"stray 80", "41 80 42", "41 JIS 22 2E ASC 42"},
      {"stray A0", "A0", "JIS 22 2E ASC"},
      {"stray FD FE FF share one run", "FD FE FF", "JIS 22 2E 22 2E 22 2E ASC"},
      {"lead at the end", "41 8A", "41 JIS 22 2E ASC"},
      {"lead before CR LF keeps the line end", "8A 0D 0A 41", "JIS 22 2E ASC 0D 0A 41"},
      {"lead before a digit keeps the digit", "8A 31", "JIS 22 2E ASC 31"},
      {"lead before DEL", "8A 7F", "JIS 22 2E ASC 7F"},
      {"lead before a byte that is no trail", "8A FD 8E 9A", "JIS 22 2E 22 2E 3B 7A ASC"},
      {"geta joins the run of its neighbours", "8A BF 80 8E 9A", "JIS 34 41 22 2E 3B 7A ASC"},
  });
}

// Output larger than any first guess (every byte a run of its own) grows
// the buffer several times on the way.
TEST_F(SjisToJisTest, OutputMuchLongerThanInput) {
  std::string input;
  std::string expected;
  for (int i = 0; i < 50000; ++i) {
    input += B("80 41");
    expected += B("JIS 22 2E ASC 41");
  }
  EXPECT_EQ(Convert(input), expected);
}

// Checks the guarantees of the output on any input: 7-bit, only the two
// escape sequences, characters inside a run in pairs of 0x21-0x7E (so no CR
// or LF inside one), and every run closed.
::testing::AssertionResult WellFormedIso2022Jp(const std::string& out) {
  bool inRun = false;
  for (std::size_t i = 0; i < out.size();) {
    const unsigned char b = static_cast<unsigned char>(out[i]);
    if (b >= 0x80) return ::testing::AssertionFailure() << "8-bit byte at " << i;
    if (b == 0x1B) {
      const std::string esc = out.substr(i, 3);
      if (esc == "\x1b$B" && !inRun) {
        inRun = true;
      } else if (esc == "\x1b(B" && inRun) {
        inRun = false;
      } else {
        return ::testing::AssertionFailure() << "unexpected escape " << Hex(esc) << " at " << i;
      }
      i += 3;
    } else if (inRun) {
      const unsigned char low = i + 1 < out.size() ? static_cast<unsigned char>(out[i + 1]) : 0;
      if (b < 0x21 || b > 0x7E || low < 0x21 || low > 0x7E) {
        return ::testing::AssertionFailure() << "bad double-byte character at " << i;
      }
      i += 2;
    } else {
      ++i;
    }
  }
  if (inRun) return ::testing::AssertionFailure() << "run left open";
  return ::testing::AssertionSuccess();
}

TEST_F(SjisToJisTest, ArbitraryBytesGiveWellFormedOutput) {
  std::mt19937 random(1468);
  for (int round = 0; round < 20; ++round) {
    // Any byte but ESC: an ESC in the text is ASCII and passes through as
    // it is, which is not what this looks at.
    std::string input(10000, '\0');
    for (char& c : input) {
      do c = static_cast<char>(random() & 0xFF);
      while (c == '\x1b');
    }
    const std::string out = Convert(input);
    EXPECT_TRUE(WellFormedIso2022Jp(out)) << "round " << round;
    // CR and LF are ASCII and must all survive.
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'),
              std::count(input.begin(), input.end(), '\n'));
    EXPECT_EQ(std::count(out.begin(), out.end(), '\r'),
              std::count(input.begin(), input.end(), '\r'));
  }
}

TEST_F(SjisToJisTest, PumpsDuringLongConversionButNotPerCharacter) {
  // Each pump takes a millisecond, so the pacer lets the next one through
  // at its next clock check.
  platform.SetPumpHook([] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
  const std::string text = std::string(3200, 'a');
  const std::string out = Convert(text);
  EXPECT_EQ(out, text);
  EXPECT_GE(platform.PumpCount(), 10);
  EXPECT_LE(platform.PumpCount(), static_cast<long long>(text.size()) / 64 + 1);
}

// --- comparison with nkf -------------------------------------------------

// The Shift_JIS codes with these leads that CP932 assigns a character.
std::vector<std::string> AssignedCodes(unsigned firstLead, unsigned lastLead) {
  std::vector<std::string> codes;
  for (unsigned lead = firstLead; lead <= lastLead; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      const std::string code{static_cast<char>(lead), static_cast<char>(trail)};
      if (SjisToUtf8(code).find("\xEF\xBF\xBD") == std::string::npos) codes.push_back(code);
    }
  }
  return codes;
}

class NkfComparison : public SjisToJisTest {
 protected:
  void SetUp() override {
    if (!testing::HaveProgram("nkf")) GTEST_SKIP() << "nkf is not installed";
  }

  static void ExpectSameAsNkf(const std::string& sjis) {
    bool ok = false;
    const std::string expected = testing::RunCommand("nkf -S -j -m0", sjis, &ok);
    ASSERT_TRUE(ok) << "nkf failed";
    const std::string actual = Convert(sjis);
    if (actual == expected) return;
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    const std::size_t from = at < 16 ? 0 : at - 16;
    ADD_FAILURE() << "differs from nkf at output byte " << at << " (sizes " << actual.size()
                  << " / " << expected.size() << ")\n  ours: " << Hex(actual.substr(from, 40))
                  << "\n  nkf:  " << Hex(expected.substr(from, 40));
  }

  // Each code on a line of its own, so that a difference is easy to place.
  static std::string Lines(const std::vector<std::string>& codes) {
    std::string text;
    for (const std::string& code : codes) text += code + "\r\n";
    return text;
  }
};

TEST_F(NkfComparison, EveryHalfWidthKanaAndKanaWithSoundMark) {
  std::vector<std::string> items;
  for (int k = 0xA1; k <= 0xDF; ++k) {
    items.push_back(std::string(1, static_cast<char>(k)));
    items.push_back(std::string{static_cast<char>(k), '\xDE'});
    items.push_back(std::string{static_cast<char>(k), '\xDF'});
  }
  ExpectSameAsNkf(Lines(items));
}

TEST_F(NkfComparison, EveryIbmExtension) {
  const std::vector<std::string> codes = AssignedCodes(0xFA, 0xFC);
  EXPECT_EQ(codes.size(), 388u);
  ExpectSameAsNkf(Lines(codes));
}

TEST_F(NkfComparison, RandomJapaneseTexts) {
  // Pools of whole characters.
  std::vector<std::string> ascii;
  for (int c = 0x20; c <= 0x7E; ++c) ascii.push_back(std::string(1, static_cast<char>(c)));
  std::vector<std::string> jisX0208 = AssignedCodes(0x81, 0x84);  // rows 1-8
  for (const std::string& code : AssignedCodes(0x88, 0x9F)) jisX0208.push_back(code);
  for (const std::string& code : AssignedCodes(0xE0, 0xEA)) jisX0208.push_back(code);
  const std::vector<std::string> necRow13 = AssignedCodes(0x87, 0x87);
  const std::vector<std::string> necSelected = AssignedCodes(0xED, 0xEE);
  const std::vector<std::string> ibm = AssignedCodes(0xFA, 0xFC);
  std::vector<std::string> kana;
  for (int k = 0xA1; k <= 0xDF; ++k) kana.push_back(std::string(1, static_cast<char>(k)));
  ASSERT_GT(jisX0208.size(), 6800u);
  ASSERT_EQ(necRow13.size(), 83u);

  const std::vector<const std::vector<std::string>*> pools = {&ascii,       &jisX0208, &necRow13,
                                                              &necSelected, &ibm,      &kana};
  struct Mix {
    unsigned seed;
    std::vector<double> weights;  // one per pool
  };
  const Mix mixes[] = {
      {1, {40, 50, 2, 2, 2, 4}},      // ordinary mail
      {2, {10, 20, 10, 10, 20, 30}},  // rare characters and kana
      {3, {30, 0, 0, 0, 0, 70}},      // half-width kana, many sound marks
      {4, {50, 30, 5, 5, 5, 5}},
  };
  for (const Mix& mix : mixes) {
    std::mt19937 random(mix.seed);
    std::discrete_distribution<int> pick(mix.weights.begin(), mix.weights.end());
    std::uniform_int_distribution<int> lineLength(0, 60);
    std::string text;
    while (text.size() < 64 * 1024) {
      for (int n = lineLength(random); n > 0; --n) {
        const auto& pool = *pools[static_cast<std::size_t>(pick(random))];
        text += pool[random() % pool.size()];
      }
      text += "\r\n";
    }
    SCOPED_TRACE("seed " + std::to_string(mix.seed));
    ExpectSameAsNkf(text);
  }
}

}  // namespace
}  // namespace velkaro
