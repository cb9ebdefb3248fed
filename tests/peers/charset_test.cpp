// Mails whose text ISO-2022-JP cannot carry (①, ㈱, 髙, 﨑, half-width
// katakana) go as UTF-8 and arrive exactly as typed in two independent
// readers (Python's email and Node's mailparser); mails that JIS X 0208
// holds stay ISO-2022-JP in the same run. The .eml files of a dry run are
// what the receiver stores.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "peers/peer_fixture.h"
#include "peers/program_run.h"

namespace velkaro::testing {
namespace {

struct CharsetCase {
  const char* name;
  CharsetSetting setting;
  const char* sender;     // UTF-8
  const char* subject;    // UTF-8
  const char* recipient;  // UTF-8
  const char* body;       // UTF-8
  const char* wantCharset;
};

void PrintTo(const CharsetCase& c, std::ostream* os) {
  *os << c.name;
}

const CharsetCase kCharsetCases[] = {
    {"company_mark_in_sender_name", CharsetSetting::Auto, "ベルカロ商事㈱ 総務部", "ご案内",
     "鈴木 花子", "本文\r\n", "utf-8"},
    {"everything_at_once", CharsetSetting::Auto, "ベルカロ商事㈱ 総務部", "髙橋 ｹﾝｼﾞ様 ｶﾀｶﾅ①②㈱髙",
     "髙橋 ｹﾝｼﾞ", "髙橋 ｹﾝｼﾞ様\r\n①②③ ㈱㈲ №℡ 﨑 ｶﾞｷﾞ\r\n.\r\n..終わり\r\n", "utf-8"},
    {"ibm_kanji_in_recipient_only", CharsetSetting::Auto, "総務部", "ご案内", "﨑田 髙子",
     "本文\r\n", "utf-8"},
    {"jis_text_stays_iso", CharsetSetting::Auto, "総務部", "【重要】ご案内", "鈴木 花子",
     "〒100-0001 東京都\r\n", "iso-2022-jp"},
    {"utf8_for_every_mail", CharsetSetting::Utf8, "総務部", "ご案内", "鈴木 花子", "本文です。\r\n",
     "utf-8"},
    {"long_subject_folds_in_utf8", CharsetSetting::Auto, "総務部",
     "①2026年12月分のご請求とお支払い方法のご案内、および髙橋様への年末年始の営業日の"
     "お知らせ（ｶﾀｶﾅ入り）",
     "鈴木 花子", "本文\r\n", "utf-8"},
};

class CharsetTest : public PeerTest, public ::testing::WithParamInterface<CharsetCase> {};

TEST_P(CharsetTest, ArrivesAsTypedInBothReaders) {
  const CharsetCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  ServerSettings settings = Settings(receiver.port());
  SetFieldText(settings.senderName, Utf8ToSjis(c.sender));
  const MailReport r = SendOneAndRead(
      settings, Record(c.subject, c.body, c.recipient, "suzuki@example.jp"), c.setting);
  SCOPED_TRACE(r.Dump());
  EXPECT_EQ(r.Get("body_charset"), c.wantCharset);
  EXPECT_EQ(r.Get("subject"), c.subject);
  EXPECT_EQ(r.Get("from.name"), c.sender);
  EXPECT_EQ(r.Get("to.name"), c.recipient);
  EXPECT_EQ(Normalized(r.Get("body")), Normalized(c.body));
  EXPECT_EQ(r.Get("header_defects"), "");
}

INSTANTIATE_TEST_SUITE_P(Peers, CharsetTest, ::testing::ValuesIn(kCharsetCases),
                         [](const auto& info) { return std::string(info.param.name); });

// velkaro-send as a user runs it: a dry run writes .eml files, the real run
// sends an ISO-2022-JP mail and a UTF-8 one to aiosmtpd, and each stored
// mail is its .eml byte for byte but for Date and Message-Id.
TEST_F(PeerTest, EmlFilesOfADryRunAreWhatTheReceiverStores) {
  ASSERT_TRUE(std::filesystem::exists(VELKARO_SEND_PROGRAM)) << VELKARO_SEND_PROGRAM;
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  const std::string home = dir.File("home");
  std::filesystem::create_directories(home);
  WriteBytes(home + "/VelkaroAddress.txt",
             Utf8ToSjis("読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\t"
                        "データ３\tデータ４\r\n"
                        "すずき\t鈴木\t鈴木 一郎\tsuzuki@example.jp\t\t\t\t\t\t\r\n"
                        "たかはし\t髙橋\t髙橋 ｹﾝｼﾞ\ttaka'hashi@example.jp\t\t\t\t\t\t\r\n"));
  const std::string body = dir.File("案内.txt");
  WriteBytes(body,
             Utf8ToSjis("((name))様へのご案内\r\n((name))様\r\n.\r\n資料をお送りします。\r\n"));
  const std::string attachment = dir.File("資料①.txt");
  WriteBytes(attachment, Utf8ToSjis("資料\r\n"));
  const std::vector<std::string> environment = {"VELKARO_HOME=" + home};
  const ProgramRun setup =
      RunProgram(VELKARO_SEND_PROGRAM,
                 {"--set", "smtpServer=127.0.0.1", "--set",
                  "smtpPort=" + std::to_string(receiver.port()), "--set", "popServer=", "--set",
                  "senderName=総務部 山田", "--set", "senderAddress=sender@example.com"},
                 environment);
  ASSERT_EQ(setup.status, 0) << Describe(setup);
  const std::vector<std::string> send = {"--to",   "鈴木", "--to",     "髙橋",
                                         "--text", body,   "--attach", attachment};

  std::vector<std::string> dryRun = send;
  dryRun.insert(dryRun.end(), {"--dry-run", "--eml", dir.File("eml")});
  const ProgramRun shown = RunProgram(VELKARO_SEND_PROGRAM, dryRun, environment);
  ASSERT_EQ(shown.status, 0) << Describe(shown);
  EXPECT_NE(shown.out.find("Charset: ISO-2022-JP\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Charset: UTF-8 (because of 髙, ｹ, ﾝ, ｼ, ﾞ)\n"), std::string::npos)
      << shown.out;
  const std::string files[] = {dir.File("eml/0001_suzuki@example.jp.eml"),
                               dir.File("eml/0002_taka_hashi@example.jp.eml")};

  const ProgramRun sent = RunProgram(VELKARO_SEND_PROGRAM, send, environment);
  ASSERT_EQ(sent.status, 0) << Describe(sent);
  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 2u);
  const char* const charsets[] = {"iso-2022-jp", "utf-8"};
  const char* const names[] = {"鈴木 一郎", "髙橋 ｹﾝｼﾞ"};
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(std::filesystem::exists(files[i])) << files[i];
    EXPECT_EQ(WithoutDateAndId(ReadBytes(files[i])), WithoutDateAndId(ReadBytes(messages[i])))
        << files[i];
    const MailReport r = CheckWithBoth(messages[i]);
    SCOPED_TRACE(r.Dump());
    EXPECT_EQ(r.Get("body_charset"), charsets[i]);
    EXPECT_EQ(r.Get("subject"), std::string(names[i]) + "様へのご案内");
    EXPECT_EQ(r.Get("attachments.0.filename"), "資料①.txt");
  }
}

}  // namespace
}  // namespace velkaro::testing
