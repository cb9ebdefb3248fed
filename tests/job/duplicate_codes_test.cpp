// Names and placeholder words that reach the job in one of CP932's codes
// and meet the other: 髙 written by Windows as FB FC and by other
// converters as EE E0 is one character everywhere a name or word is looked
// for, while every text keeps the bytes it came with.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/encoding.h"
#include "job/placeholders.h"
#include "job/send_setup.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::Hex;

const std::string kTakaIbm = "\xFB\xFC";      // 髙 as Windows writes it
const std::string kTakaNec = "\xEE\xE0";      // 髙 from the NEC-selected block
const std::string kHashi = "\x8B\xB4";        // 橋
const std::string kNearlyRow13 = "\x87\x90";  // ≒ from NEC row 13; row 2 has it as 81 E0

std::string Row(const std::string& regist, const std::string& mail) {
  return "kana\t" + regist + "\tname " + mail + "\t" + mail + "\t\t\t\t\t\t\r\n";
}

class DuplicateCodesTest : public testing::PlatformTest {
 protected:
  DuplicateCodesTest() {
    platform.SetLocalTime(2026, 5, 3, 9, 5, 3);
    job = std::make_unique<SendJob>(settings);
  }
  Settings settings;
  std::unique_ptr<SendJob> job;
  const std::string first = Row(kTakaNec + kHashi, "first@example.jp");
  const std::string other = Row("\x8D\x82" + kHashi, "other@example.jp");  // 高橋
  const std::string last = Row(kTakaNec + kHashi, "last@example.jp");
  const std::string book = Utf8ToSjis("読み\t登録名\r\n") + first + other + last;
};

TEST_F(DuplicateCodesTest, CommandLineNameFindsTheFirstEntryInEitherCode) {
  for (const std::string& taka : {kTakaIbm, kTakaNec}) {
    job->recipientLines.clear();
    ASSERT_EQ(job->AddRecipientByName(taka + kHashi, book), 0);
    EXPECT_EQ(Hex(job->recipientLines), Hex(first)) << Hex(taka);
  }
  // As typed on the command line: UTF-8, converted to the Windows code.
  job->recipientLines.clear();
  ASSERT_EQ(job->AddRecipientByName(Utf8ToSjis("\"髙橋\""), book), 0);
  EXPECT_EQ(Hex(job->recipientLines), Hex(first));
}

TEST_F(DuplicateCodesTest, SetupFileNameTakesTheLastEntryInEitherCode) {
  for (const std::string& taka : {kTakaIbm, kTakaNec}) {
    job->recipientLines.clear();
    const std::string setup = "/sendto-begin\r\nregist=" + taka + kHashi + "\r\n/sendto-end\r\n";
    ASSERT_EQ(ReadSendSetupText(*job, setup, book), 0);
    // The entry's fields come from the book; the name as the file spells it.
    EXPECT_EQ(Hex(job->recipientLines), Hex(Row(taka + kHashi, "last@example.jp"))) << Hex(taka);
  }
}

TEST_F(DuplicateCodesTest, PlaceholderWordsMatchByCharacter) {
  const std::string record = Row("r", "m@example.jp");
  const struct {
    const char* what;
    std::string word;  // the name word of the settings
    std::string text;
    std::string expected;
  } cases[] = {
      {"word NEC, text IBM", "((" + kTakaNec + "))", "((" + kTakaIbm + "))!", "name m@example.jp!"},
      {"word IBM, text NEC", "((" + kTakaIbm + "))", "((" + kTakaNec + "))!", "name m@example.jp!"},
      {"row 13 against row 2", "<" + kNearlyRow13 + ">", "<\x81\xE0>", "name m@example.jp"},
      // Outside the replaced word the text keeps its own codes.
      {"text keeps its bytes", "((" + kTakaIbm + "))",
       kTakaNec + kNearlyRow13 + "((" + kTakaNec + "))" + kTakaNec,
       kTakaNec + kNearlyRow13 + "name m@example.jp" + kTakaNec},
      // Still never found starting on a trail byte: 81 ED 40 is one
      // character and the byte 40, not a copy of ED 40.
      {"no match across characters", "\xFA\x5C", "\x81\xED\x40", "\x81\xED\x40"},
  };
  for (const auto& c : cases) {
    PlaceholderWordList words = DefaultPlaceholderWords();
    words[1] = c.word;
    EXPECT_EQ(Hex(ReplacePlaceholders(words, c.text, record)), Hex(c.expected)) << c.what;
    EXPECT_EQ(Hex(ReplaceWord(c.text, c.word, "name m@example.jp")), Hex(c.expected)) << c.what;
  }
}

}  // namespace
}  // namespace velkaro
