// The settings fields by name: --show-settings and --set.
#include "cli/settings_fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/encoding.h"

namespace velkaro::cli {
namespace {

std::vector<std::string> ExpectedNames() {
  std::vector<std::string> names = {
      "popServer",  "popUser",       "popPassword",     "popPort",     "smtpServer", "smtpPort",
      "senderName", "senderAddress", "addressFileName", "confirmExit", "titleIn",    "speed"};
  for (const char* array : {"soundOn", "soundDefaultName", "soundPath"}) {
    for (int i = 1; i <= 4; ++i)
      names.push_back(std::string(array) + "[" + std::to_string(i) + "]");
  }
  for (const char* name :
       {"bodyFolder", "attachFolder", "setupFolder", "windowLeft", "windowTop"}) {
    names.push_back(name);
  }
  for (int i = 0; i < 16; ++i) names.push_back("PlaceholderWords[" + std::to_string(i) + "]");
  return names;
}

bool SameBytes(const SettingsRecord& a, const SettingsRecord& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(SettingsFields, NamesAreTheRecordsFieldsInOrder) {
  std::vector<std::string> names;
  for (const SettingsField& f : SettingsFields()) names.push_back(f.name);
  EXPECT_EQ(names, ExpectedNames());
}

// Every byte of the record but the record mark belongs to exactly one
// field, so no offset or size in the table can be wrong without a gap or
// an overlap.
TEST(SettingsFields, CoverEveryByteOfTheRecordOnce) {
  std::vector<int> owners(SettingsRecord::kSize, 0);
  for (const SettingsField& f : SettingsFields()) {
    ASSERT_LE(f.offset + f.size, SettingsRecord::kSize) << f.name;
    for (std::size_t i = f.offset; i < f.offset + f.size; ++i) ++owners[i];
  }
  for (std::size_t i = 0; i < SettingsRecord::kSize; ++i) {
    EXPECT_EQ(owners[i], i < 4 ? 0 : 1) << "byte " << i;
  }
}

TEST(SettingsFields, ShowsTheDefaultsOfANewRecord) {
  const std::string shown = FormatSettings(DefaultSettingsRecord());
  for (const char* line :
       {"popServer=\n", "popPort=110\n", "smtpPort=25\n", "addressFileName=VelkaroAddress.txt\n",
        "confirmExit=0\n", "speed=5\n", "soundOn[1]=1\n", "soundOn[4]=1\n",
        "soundDefaultName[1]=NormalEnd.wav\n", "soundDefaultName[4]=Develop.wav\n",
        "soundPath[2]=\n", "windowLeft=0\n", "PlaceholderWords[0]=((regist))\n",
        "PlaceholderWords[15]=((week))\n"}) {
    EXPECT_NE(shown.find(line), std::string::npos) << line;
  }
  std::istringstream in(shown);
  std::string line;
  std::size_t count = 0;
  while (std::getline(in, line)) ++count;
  EXPECT_EQ(count, ExpectedNames().size());
}

// A value for every field that differs from its default, shown and set
// again through its name, lands in exactly that field's bytes.
TEST(SettingsFields, EveryFieldRoundTripsThroughItsName) {
  int n = 0;
  for (const SettingsField& f : SettingsFields()) {
    ++n;
    std::string value = "値" + std::to_string(n) + "ｶﾅ";
    if (f.kind == SettingsField::Kind::Integer) {
      const bool flag = f.maximum == 1;
      const bool defaultOn = FieldValue(DefaultSettingsRecord(), f) == "1";
      value = flag ? (defaultOn ? "0" : "1") : std::to_string(f.maximum > 1000 ? 1234 : 42);
    }
    SettingsRecord record = DefaultSettingsRecord();
    ASSERT_EQ(SetSettingsField(record, f.name, value), "") << f.name;
    EXPECT_EQ(FieldValue(record, f), value) << f.name;
    const std::string shown = FormatSettings(record);
    EXPECT_NE(shown.find(f.name + "=" + value + "\n"), std::string::npos) << f.name;

    // Only the field's own bytes changed.
    SettingsRecord expected = DefaultSettingsRecord();
    auto* bytes = reinterpret_cast<char*>(&expected);
    if (f.kind == SettingsField::Kind::Integer) {
      const std::int32_t number = std::stoi(value);
      std::memcpy(bytes + f.offset, &number, sizeof number);
    } else {
      const std::string sjis = Utf8ToSjis(value);
      std::memset(bytes + f.offset, 0, f.size);
      std::memcpy(bytes + f.offset, sjis.data(), sjis.size());
    }
    EXPECT_TRUE(SameBytes(record, expected)) << f.name;

    // Setting what is shown leaves the record as it is.
    SettingsRecord again = record;
    ASSERT_EQ(SetSettingsField(again, f.name, FieldValue(record, f)), "") << f.name;
    EXPECT_TRUE(SameBytes(again, record)) << f.name;
  }
}

struct IntegerCase {
  const char* field;
  const char* value;
  bool accepted;
  std::int32_t stored;
};

const IntegerCase kIntegers[] = {
    {"smtpPort", "2525", true, 2525},
    {"smtpPort", "+587", true, 587},
    {"smtpPort", "65535", true, 65535},
    {"smtpPort", "65536", false, 0},
    {"smtpPort", "0", false, 0},
    {"popPort", "-110", false, 0},
    {"popPort", "", false, 0},
    {"popPort", " 110", false, 0},
    {"popPort", "110 ", false, 0},
    {"popPort", "11O", false, 0},
    {"popPort", "0x6e", false, 0},
    {"popPort", "1e2", false, 0},
    {"speed", "1", true, 1},
    {"speed", "100", true, 100},
    {"speed", "101", false, 0},
    {"speed", "0", false, 0},
    {"titleIn", "1", true, 1},
    {"titleIn", "2", false, 0},
    {"confirmExit", "yes", false, 0},
    {"soundOn[3]", "0", true, 0},
    {"soundOn[3]", "-1", false, 0},
    {"windowLeft", "-2147483648", true, -2147483647 - 1},
    {"windowTop", "2147483647", true, 2147483647},
    {"windowTop", "2147483648", false, 0},
    {"windowTop", "99999999999999999999", false, 0},
};

class IntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerTest, IsValidated) {
  const IntegerCase& c = GetParam();
  SettingsRecord record = DefaultSettingsRecord();
  const SettingsRecord before = record;
  const std::string problem = SetSettingsField(record, c.field, c.value);
  if (c.accepted) {
    EXPECT_EQ(problem, "");
    EXPECT_EQ(FieldValue(record, *FindSettingsField(c.field)), std::to_string(c.stored));
  } else {
    EXPECT_NE(problem.find(c.field), std::string::npos) << problem;
    EXPECT_NE(problem.find("'" + std::string(c.value) + "'"), std::string::npos) << problem;
    EXPECT_TRUE(SameBytes(record, before));
  }
}

INSTANTIATE_TEST_SUITE_P(Cli, IntegerTest, ::testing::ValuesIn(kIntegers));

struct TextCase {
  const char* name;
  const char* field;
  std::string value;
  const char* problemPart;  // "" when the value is accepted
};

const TextCase kTexts[] = {
    // 127 bytes fit a 128-byte slot; "あ" is two bytes in Shift_JIS.
    {"longest_ascii", "smtpServer", std::string(127, 'a'), ""},
    {"one_byte_too_long", "smtpServer", std::string(128, 'a'), "too long: 128 bytes"},
    {"kanji_count_twice", "senderName", "", ""},                      // filled below
    {"kanji_one_too_many", "senderName", "", "too long: 128 bytes"},  // filled below
    {"half_width_kana_one_byte", "senderName", "", ""},               // filled below
    {"short_slot", "PlaceholderWords[3]", std::string(32, 'x'), "at most 31"},
    {"sound_default_slot", "soundDefaultName[2]", std::string(31, 'x'), ""},
    {"path_slot", "soundPath[4]", std::string(256, 'x'), "at most 255"},
    {"no_shift_jis_form", "senderName", "emoji 😀", "no Shift_JIS form"},
    {"not_utf8", "senderName", "\xff\xfe", "no Shift_JIS form"},
    {"line_end", "senderName", "Taro\r\nBcc: x@example.jp", "control characters"},
    {"tab", "popUser", "a\tb", "control characters"},
    {"empty_is_fine", "popServer", "", ""},
    {"unknown_field", "smtpserver", "x", "unknown settings field 'smtpserver'"},
    {"index_out_of_range", "soundOn[5]", "1", "unknown settings field"},
    {"placeholder_index_from_zero", "PlaceholderWords[16]", "x", "unknown settings field"},
};

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TextCase Filled(TextCase c) {
  const std::string name = c.name;
  if (name == "kanji_count_twice") c.value = Repeat("漢", 63) + "a";  // 127 bytes
  if (name == "kanji_one_too_many") c.value = Repeat("漢", 64);       // 128 bytes
  if (name == "half_width_kana_one_byte") c.value = Repeat("ｶ", 127);
  return c;
}

class TextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextTest, FitsItsSlotOrIsRefused) {
  const TextCase c = Filled(GetParam());
  SettingsRecord record = DefaultSettingsRecord();
  const SettingsRecord before = record;
  const std::string problem = SetSettingsField(record, c.field, c.value);
  if (std::string(c.problemPart).empty()) {
    EXPECT_EQ(problem, "");
    EXPECT_EQ(FieldValue(record, *FindSettingsField(c.field)), c.value);
  } else {
    EXPECT_NE(problem.find(c.problemPart), std::string::npos) << problem;
    EXPECT_TRUE(SameBytes(record, before)) << "a refused value must change nothing";
  }
}

INSTANTIATE_TEST_SUITE_P(Cli, TextTest, ::testing::ValuesIn(kTexts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsFields, ShowsWhatAFileHoldsInUtf8) {
  SettingsRecord record = DefaultSettingsRecord();
  SetFieldText(record.server.senderName, Utf8ToSjis("総務部 ｿｳﾑ"));
  SetFieldText(record.PlaceholderWords[1], Utf8ToSjis("((氏名))"));
  const std::string shown = FormatSettings(record);
  EXPECT_NE(shown.find("senderName=総務部 ｿｳﾑ\n"), std::string::npos);
  EXPECT_NE(shown.find("PlaceholderWords[1]=((氏名))\n"), std::string::npos);
}

}  // namespace
}  // namespace velkaro::cli
