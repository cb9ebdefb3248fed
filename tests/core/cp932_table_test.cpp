// The CP932 conversions against Python's cp932 codec, code by code, and the
// one spelling that name comparisons give to characters CP932 holds twice.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/sjis_canonical.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::Hex;

struct Cp932Code {
  unsigned code;     // one byte below 0x100, else lead × 256 + trail
  std::string utf8;  // the character Python's codec reads
};

std::string BytesOf(unsigned code) {
  if (code < 0x100) return std::string(1, static_cast<char>(code));
  return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

std::string HexToBytes(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// Every single byte and every lead-trail pair that Python's cp932 reads as
// one character. Python follows Windows' table, extensions and lone bytes
// (0x80, 0xA0, 0xFD–0xFF) included.
constexpr char kDumpScript[] =
    "pairs = [l * 256 + t for l in range(0x81, 0x100) for t in range(0x40, 0x100)]\n"
    "for code in list(range(0x100)) + pairs:\n"
    "    b = bytes([code]) if code < 0x100 else bytes([code >> 8, code & 0xFF])\n"
    "    try:\n"
    "        u = b.decode('cp932')\n"
    "    except UnicodeDecodeError:\n"
    "        continue\n"
    "    if len(u) == 1:\n"
    "        print('%04X %s' % (code, u.encode('utf-8').hex()))\n";

class Cp932TableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string python = "/usr/bin/python3";
    if (!testing::HaveProgram(python)) return;
    testing::TempDir dir;
    testing::WriteBytes(dir.File("dump.py"), kDumpScript);
    bool ok = false;
    std::istringstream lines(
        testing::RunCommand(python + " '" + dir.File("dump.py") + "'", "", &ok));
    if (!ok) return;
    std::string code, utf8;
    while (lines >> code >> utf8) {
      table_.push_back({static_cast<unsigned>(std::stoul(code, nullptr, 16)), HexToBytes(utf8)});
    }
  }

  void SetUp() override {
    if (table_.empty()) GTEST_SKIP() << "no cp932 table from /usr/bin/python3";
  }

  static const std::vector<Cp932Code>& Table() { return table_; }

  // The codes of each character, in code order, for characters with more
  // than one.
  static std::map<std::string, std::vector<unsigned>> DuplicateGroups() {
    std::map<std::string, std::vector<unsigned>> groups;
    for (const Cp932Code& c : Table()) groups[c.utf8].push_back(c.code);
    std::erase_if(groups, [](const auto& group) { return group.second.size() < 2; });
    return groups;
  }

 private:
  static inline std::vector<Cp932Code> table_;
};

// Reports at most a few mismatches, so a broken converter does not bury
// the log under ten thousand lines.
class MismatchLog {
 public:
  void Add(const std::string& what) {
    if (++count_ <= 10) ADD_FAILURE() << what;
  }
  int count() const { return count_; }

 private:
  int count_ = 0;
};

TEST_F(Cp932TableTest, PythonTableIsComplete) {
  // Sanity of the reference itself: ASCII, 63 half-width katakana, the five
  // lone bytes and the double-byte codes, user-defined area included.
  EXPECT_EQ(Table().size(), 9800u);
}

TEST_F(Cp932TableTest, EveryCodeReadsAsWindowsReadsIt) {
  MismatchLog log;
  for (const Cp932Code& c : Table()) {
    const std::string got = SjisToUtf8(BytesOf(c.code));
    if (got != c.utf8) log.Add(Hex(BytesOf(c.code)) + " → " + Hex(got) + ", want " + Hex(c.utf8));
  }
  EXPECT_EQ(log.count(), 0);
}

TEST_F(Cp932TableTest, EveryCharacterIsWrittenAsACodeOfItsOwn) {
  std::map<std::string, std::vector<unsigned>> codesOf;
  for (const Cp932Code& c : Table()) codesOf[c.utf8].push_back(c.code);
  MismatchLog log;
  for (const auto& [utf8, codes] : codesOf) {
    int unmappable = 0;
    const std::string written = Utf8ToSjis(utf8, &unmappable);
    if (unmappable != 0 || SjisToUtf8(written) != utf8) {
      log.Add(Hex(utf8) + " written as " + Hex(written) + ", which reads back differently");
    }
  }
  EXPECT_EQ(log.count(), 0);
}

// Where a character has several codes, Windows writes the JIS row 2 code,
// else the NEC row 13 code, else the IBM extension code: the lowest code
// outside the NEC-selected block.
TEST_F(Cp932TableTest, DuplicatesAreWrittenAsWindowsWritesThem) {
  MismatchLog log;
  int groups = 0;
  for (const auto& [utf8, codes] : DuplicateGroups()) {
    ++groups;
    unsigned expected = 0;
    for (unsigned code : codes) {
      if (code >= 0xED40 && code <= 0xEEFC) continue;
      expected = code;
      break;
    }
    const std::string written = Utf8ToSjis(utf8);
    if (written != BytesOf(expected)) {
      log.Add(Hex(utf8) + " written as " + Hex(written) + ", want " + Hex(BytesOf(expected)));
    }
  }
  EXPECT_EQ(log.count(), 0);
  EXPECT_GT(groups, 390);  // 374 IBM kanji and symbols, row 13 and row 2
}

TEST_F(Cp932TableTest, EveryDuplicateHasOneCanonicalCode) {
  MismatchLog log;
  for (const auto& [utf8, codes] : DuplicateGroups()) {
    const std::string canonical = Utf8ToSjis(utf8);
    for (unsigned code : codes) {
      const std::string got = CanonicalSjis(BytesOf(code));
      if (got != canonical) {
        log.Add(Hex(BytesOf(code)) + " → " + Hex(got) + ", want " + Hex(canonical));
      }
      for (unsigned other : codes) {
        if (!SameSjisCharacters(BytesOf(code), BytesOf(other))) {
          log.Add(Hex(BytesOf(code)) + " and " + Hex(BytesOf(other)) + " differ");
        }
      }
    }
  }
  EXPECT_EQ(log.count(), 0);
}

TEST_F(Cp932TableTest, CharactersWithOneCodeKeepIt) {
  const auto groups = DuplicateGroups();
  MismatchLog log;
  for (const Cp932Code& c : Table()) {
    if (groups.count(c.utf8) != 0) continue;
    const std::string bytes = BytesOf(c.code);
    if (CanonicalSjis(bytes) != bytes) log.Add(Hex(bytes) + " changed");
  }
  EXPECT_EQ(log.count(), 0);
}

TEST(Cp932Conversion, NamedCharacters) {
  const struct {
    const char* what;
    std::string sjis;
    const char* utf8;
  } cases[] = {
      {"circled one, NEC row 13", "\x87\x40", "①"},
      {"髙, IBM extension", "\xFB\xFC", "髙"},
      {"髙, NEC-selected copy", "\xEE\xE0", "髙"},
      {"half-width katakana", "\xB6", "ｶ"},
      {"lone 0x80", "\x80", "\xC2\x80"},
      {"lone 0xA0", "\xA0", "\xEF\xA3\xB0"},
      {"lone 0xFF", "\xFF", "\xEF\xA3\xB3"},
      {"user-defined area", "\xF0\x40", "\xEE\x80\x80"},
      {"unassigned pair", "\x85\x40", "\xEF\xBF\xBD"},
      {"lead byte at the end", "A\x88", "A\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(SjisToUtf8(c.sjis)), Hex(c.utf8)) << c.what;
}

TEST(Cp932Conversion, LoneBytesSurviveTheRoundTrip) {
  const std::string sjis = "a\x80\xA0\xFD\xFE\xFF\xB6\r\n";
  int unmappable = 0;
  EXPECT_EQ(Hex(Utf8ToSjis(SjisToUtf8(sjis), &unmappable)), Hex(sjis));
  EXPECT_EQ(unmappable, 0);
}

TEST(CanonicalSjis, LeavesEverythingButDuplicatesAlone) {
  const struct {
    const char* what;
    std::string in;
    std::string out;
  } cases[] = {
      {"empty", "", ""},
      {"ASCII and half-width katakana", "abc\xB6\xDE\r\n", "abc\xB6\xDE\r\n"},
      {"髙橋, NEC-selected 髙", "\xEE\xE0\x8B\xB4", "\xFB\xFC\x8B\xB4"},
      {"髙橋, IBM 髙", "\xFB\xFC\x8B\xB4", "\xFB\xFC\x8B\xB4"},
      {"∵ from NEC row 13 and from IBM", "\x87\x9A\xFA\x5B", "\x81\xE6\x81\xE6"},
      {"Roman numeral one from IBM", "\xFA\x4A", "\x87\x54"},
      // 0xED40 here is a trail byte and the next lead, no character.
      {"duplicate code across two characters", "\x81\xED\x40", "\x81\xED\x40"},
      {"lead byte at the end", "a\xED", "a\xED"},
      {"lead with a byte that is no trail", "\xED\x0D\x0A", "\xED\x0D\x0A"},
      {"lone bytes", "\x80\xA0\xFD\xFF", "\x80\xA0\xFD\xFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(CanonicalSjis(c.in)), Hex(c.out)) << c.what;
}

TEST(SameSjisCharacters, ComparesCharactersNotCodes) {
  const struct {
    std::string a;
    std::string b;
    bool same;
  } cases[] = {
      {"\xEE\xE0\x8B\xB4", "\xFB\xFC\x8B\xB4", true},   // 髙橋 both ways
      {"\xEE\xE0\x8B\xB4", "\x8D\x82\x8B\xB4", false},  // 髙橋 is not 高橋
      {"\xEE\xE0", "\xFB\xFC\x20", false},              // a prefix is not the name
      {"\x87\x90", "\x81\xE0", true},                   // ≒ row 13 and row 2
      {"", "", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameSjisCharacters(c.a, c.b), c.same) << Hex(c.a) << " / " << Hex(c.b);
  }
}

}  // namespace
}  // namespace velkaro
