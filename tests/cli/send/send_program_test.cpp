// velkaro-send as a user runs it: the built program, a program folder of
// its own (VELKARO_HOME), a real SMTP receiver (aiosmtpd) and a real POP3
// server (Dovecot) on 127.0.0.1. What arrives is read the way a mail
// program reads it (check_mail.py).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "peers/peer_fixture.h"
#include "peers/program_run.h"

extern char** environ;

namespace velkaro::testing {
namespace {

ProgramRun RunSend(const std::vector<std::string>& args, const std::string& home) {
  return RunProgram(VELKARO_SEND_PROGRAM, args, {"VELKARO_HOME=" + home});
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    out.push_back(entry.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class SendProgramTest : public PeerTest {
 protected:
  void SetUp() override {
    PeerTest::SetUp();
    ASSERT_TRUE(std::filesystem::exists(VELKARO_SEND_PROGRAM)) << VELKARO_SEND_PROGRAM;
    home = dir.File("home");
    std::filesystem::create_directories(home);
    // The address book as the program writes it: Shift_JIS, CR LF, the
    // header line first. 伊藤's reading is in half-width katakana.
    WriteBytes(
        home + "/VelkaroAddress.txt",
        Utf8ToSjis("読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\t"
                   "データ３\tデータ４\r\n"
                   "やまだ\t山田\t山田 太郎\tyamada@example.jp\t03-1111\t東京都\t会員\t\t\t\r\n"
                   "ｲﾄｳ\t伊藤\t伊藤 花子\tito@example.jp\t06-2222\t大阪府\t非会員\t\t\t\r\n"));
    body = dir.File("案内.txt");
    WriteBytes(body, Utf8ToSjis("((name))様へのご案内\r\n"
                                "((name))様（((data1))）\r\n"
                                "ﾃｽﾄ送信です。宛先: ((mailaddr))\r\n"));
    attachment = dir.File("地図.png");
    WriteBytes(attachment, TinyPng());
  }

  // Points the program folder's settings at the running servers, through
  // the program itself.
  void Configure(int smtpPort, const std::string& popPassword) {
    const ProgramRun run =
        RunSend({"--set", "smtpServer=127.0.0.1", "--set", "smtpPort=" + std::to_string(smtpPort),
                 "--set", "popServer=" + std::string(dovecot.port() > 0 ? "127.0.0.1" : ""),
                 "--set", "popPort=" + std::to_string(dovecot.port() > 0 ? dovecot.port() : 110),
                 "--set", std::string("popUser=") + kPopUser, "--set", "popPassword=" + popPassword,
                 "--set", "senderName=差出人 山田", "--set", "senderAddress=sender@example.com"},
                home);
    ASSERT_EQ(run.status, 0) << Describe(run);
    ASSERT_EQ(std::filesystem::file_size(home + "/Velkaro.cfg"), 3312u);
  }

  std::vector<std::string> SendArgs() const {
    return {"--to",   "山田", "--to",     "伊藤",    "--to", "Kim 金 <kim@example.org>",
            "--text", body,   "--attach", attachment};
  }

  std::string home;
  std::string body;
  std::string attachment;
};

TEST_F(SendProgramTest, SendsOnePersonalisedMailPerRecipientAfterPopBeforeSmtp) {
  ASSERT_NO_FATAL_FAILURE(StartDovecot());
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  ASSERT_NO_FATAL_FAILURE(Configure(receiver.port(), kPopPassword));

  const ProgramRun run = RunSend(SendArgs(), home);
  ASSERT_EQ(run.status, 0) << Describe(run);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(Contains(run.err, "[3/3] 3通目: Kim 金<kim@example.org>")) << run.err;
  EXPECT_TRUE(Contains(run.err, "\n3通のメール送信を完了しました。\n")) << run.err;
  EXPECT_TRUE(Contains(run.err, "all 3 mails were accepted (exit status 0)")) << run.err;
  EXPECT_FALSE(Contains(run.err, "\r")) << "no redrawing when standard error is no terminal";

  struct Expected {
    const char* subject;
    const char* name;
    const char* address;
    const char* body;
  };
  const Expected expected[] = {
      {"山田 太郎様へのご案内", "山田 太郎", "yamada@example.jp",
       "山田 太郎様（会員）\nﾃｽﾄ送信です。宛先: yamada@example.jp"},
      {"伊藤 花子様へのご案内", "伊藤 花子", "ito@example.jp",
       "伊藤 花子様（非会員）\nﾃｽﾄ送信です。宛先: ito@example.jp"},
      // The blank before "<" in --to separates; it is no part of the name.
      {"Kim 金様へのご案内", "Kim 金", "kim@example.org",
       "Kim 金様（）\nﾃｽﾄ送信です。宛先: kim@example.org"},
  };
  const std::vector<std::string> messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 3u);
  std::string firstPeer;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const MailReport report = Check(messages[i]);
    SCOPED_TRACE(report.Dump());
    EXPECT_EQ(report.Get("subject"), expected[i].subject);
    EXPECT_EQ(report.Get("to.name"), expected[i].name);
    EXPECT_EQ(report.Get("to.address"), expected[i].address);
    EXPECT_EQ(report.Get("from.name"), "差出人 山田");
    EXPECT_EQ(report.Get("from.address"), "sender@example.com");
    EXPECT_EQ(Normalized(report.Get("body")), expected[i].body);
    // The half-width katakana of the text make every mail UTF-8.
    EXPECT_EQ(report.Get("body_charset"), "utf-8");
    ASSERT_EQ(report.Count("attachments"), 1);
    EXPECT_EQ(report.Get("attachments.0.filename"), "地図.png");
    EXPECT_EQ(report.Get("attachments.0.sha256"), Sha256(TinyPng()));
    EXPECT_EQ(report.Get("raw.seven_bit"), "true");
    const auto envelope = Envelope(messages[i]);
    EXPECT_EQ(First(envelope, "rcpt_to"), expected[i].address);
    EXPECT_EQ(First(envelope, "mail_from"), "sender@example.com");
    // One SMTP connection for the whole run.
    if (i == 0) firstPeer = First(envelope, "peer");
    EXPECT_EQ(First(envelope, "peer"), firstPeer);
  }
  // POP before SMTP: one login, before the first mail only.
  EXPECT_TRUE(DovecotLogShows("Login: user=<" + std::string(kPopUser) + ">", 5000)) << DovecotLog();
  const std::string dovecotLog = DovecotLog();
  const auto first = dovecotLog.find("Login: user=<");
  EXPECT_EQ(dovecotLog.find("Login: user=<", first + 1), std::string::npos) << dovecotLog;

  // The run left its log, its result list and one copy per mail in the
  // program folder.
  const std::vector<std::string> logs = FilesIn(home + "/Log");
  ASSERT_EQ(logs.size(), 3u);
  EXPECT_TRUE(Contains(run.err, "journal: " + logs[0])) << run.err;
  EXPECT_TRUE(ReadBytes(logs[0]).ends_with("end\t0\n")) << logs[0];
  EXPECT_TRUE(Contains(run.err, "send log: " + logs[1])) << run.err;
  EXPECT_TRUE(
      Contains(run.err, "results: 3 sent, 0 refused, 0 in doubt, 0 not sent; list in " + logs[2]))
      << run.err;
  const std::string log = SjisToUtf8(ReadBytes(logs[1]));
  EXPECT_TRUE(Contains(
      log, "  タイトル: 伊藤 花子様へのご案内\r\n    送信先: 伊藤 花子<ito@example.jp>\r\n"))
      << log;
  EXPECT_TRUE(Contains(log, "    添付　: " + attachment + "\r\n")) << log;
  EXPECT_TRUE(Contains(log, "  ...  3通のメール送信を完了しました。\r\n\r\n")) << log;
  const std::vector<std::string> copies = FilesIn(home + "/Text");
  ASSERT_EQ(copies.size(), 3u);
  EXPECT_TRUE(Contains(copies[0], "/Text/案内_")) << copies[0];
  EXPECT_EQ(ReadBytes(copies[1]),
            Utf8ToSjis("伊藤 花子様（非会員）\r\nﾃｽﾄ送信です。宛先: ito@example.jp\r\n\r\n"));
}

// A run prepared by another program: a setup file (UTF-8 with LF, as a
// Linux script writes it) names the body, the attachment and the
// recipients; "/send=" and "/quit=" make no difference to velkaro-send.
TEST_F(SendProgramTest, SendsWhatASetupFileDescribes) {
  ASSERT_NO_FATAL_FAILURE(StartDovecot());
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  ASSERT_NO_FATAL_FAILURE(Configure(receiver.port(), kPopPassword));
  const std::string setup = dir.File("job.vlk2");
  WriteBytes(setup, ";; made by another program\n/send=on\n/quit=on\n/text=" + body +
                        "\n/binfile=" + attachment +
                        "\n\n/sendto-begin\nregist=伊藤\n/sendto-end\n"
                        "/sendto-begin\nname=鈴木 一郎\nmailaddr=suzuki@example.jp\n"
                        "data1=特別会員\n/sendto-end\n");
  const ProgramRun run = RunSend({setup, "/to=山田"}, home);
  ASSERT_EQ(run.status, 0) << Describe(run);
  const std::vector<std::string> messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 3u);
  const char* const subjects[] = {"伊藤 花子様へのご案内", "鈴木 一郎様へのご案内",
                                  "山田 太郎様へのご案内"};
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const MailReport report = Check(messages[i]);
    SCOPED_TRACE(report.Dump());
    EXPECT_EQ(report.Get("subject"), subjects[i]);
    ASSERT_EQ(report.Count("attachments"), 1);
    EXPECT_EQ(report.Get("attachments.0.filename"), "地図.png");
  }
  EXPECT_EQ(Normalized(Check(messages[1]).Get("body")),
            "鈴木 一郎様（特別会員）\nﾃｽﾄ送信です。宛先: suzuki@example.jp");

  const ProgramRun missing = RunSend({dir.File("missing.vlk2")}, home);
  EXPECT_EQ(missing.status, 2) << Describe(missing);
  EXPECT_TRUE(Contains(missing.err, "cannot read the setup file")) << missing.err;
}

TEST_F(SendProgramTest, AWrongPopPasswordEndsTheRunBeforeAnyMail) {
  ASSERT_NO_FATAL_FAILURE(StartDovecot());
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  ASSERT_NO_FATAL_FAILURE(Configure(receiver.port(), "wrong-password"));

  const ProgramRun run = RunSend(SendArgs(), home);
  EXPECT_EQ(run.status, 105) << Describe(run);
  EXPECT_TRUE(Contains(run.err, "メール送信でエラー検出 RetCode=105")) << run.err;
  EXPECT_TRUE(Contains(run.err, "mail 1 of 3 failed: POP before SMTP failed")) << run.err;
  EXPECT_TRUE(Contains(run.err, "★To 山田 太郎<yamada@example.jp>"))
      << "the failed mail's transcript";
  EXPECT_TRUE(ReceivedMessages().empty());
  EXPECT_TRUE(DovecotLogShows("auth failed", 5000)) << DovecotLog();
  const std::vector<std::string> logs = FilesIn(home + "/Log");
  ASSERT_EQ(logs.size(), 3u);
  EXPECT_TRUE(ReadBytes(logs[0]).ends_with("end\t105\n")) << logs[0];
  EXPECT_TRUE(Contains(SjisToUtf8(ReadBytes(logs[1])), "メール送信でエラー検出 RetCode=105"));
  EXPECT_TRUE(ReadBytes(logs[2]).ends_with(",kim@example.org,not-sent,,\r\n")) << logs[2];
}

TEST_F(SendProgramTest, ADryRunSendsNothingAndShowsEachMail) {
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  ASSERT_NO_FATAL_FAILURE(Configure(receiver.port(), kPopPassword));

  std::vector<std::string> args = SendArgs();
  args.push_back("--dry-run");
  const ProgramRun run = RunSend(args, home);
  ASSERT_EQ(run.status, 0) << Describe(run);
  EXPECT_TRUE(Contains(run.out,
                       "===== mail 2/3 =====\n"
                       "From: 差出人 山田 <sender@example.com>\n"
                       "To: 伊藤 花子 <ito@example.jp>\n"
                       "Subject: 伊藤 花子様へのご案内\n"
                       "Charset: UTF-8 (because of ﾃ, ｽ, ﾄ)\n"
                       "Attachments: 地図.png\n"
                       "\n"
                       "伊藤 花子様（非会員）\n"
                       "ﾃｽﾄ送信です。宛先: ito@example.jp\n"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "Subject: Kim 金様へのご案内\n")) << run.out;
  EXPECT_TRUE(Contains(run.err, "nothing sent")) << run.err;
  EXPECT_TRUE(ReceivedMessages().empty());
  EXPECT_FALSE(std::filesystem::exists(home + "/Log"));
  EXPECT_FALSE(std::filesystem::exists(home + "/Text"));
}

// --test-to: the mail of one recipient, own invoice included, arrives at
// the tester's address only; the run's records other than the send log
// are not touched, so the real run afterwards is what it would have been.
TEST_F(SendProgramTest, ATestSendDeliversOneRecipientsMailToTheTesterOnly) {
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  ASSERT_NO_FATAL_FAILURE(Configure(receiver.port(), kPopPassword));
  std::filesystem::create_directories(dir.File("請求書"));
  WriteBytes(dir.File("請求書/山田.pdf"), "%PDF invoice of 山田\n");
  WriteBytes(dir.File("請求書/伊藤.pdf"), "%PDF invoice of 伊藤\n");

  const ProgramRun run =
      RunSend({"--to", "山田", "--to", "伊藤", "--text", body, "--attach", attachment, "--attach",
               dir.File("請求書/((regist)).pdf"), "--test-to", "me@example.jp", "--as", "2"},
              home);
  ASSERT_EQ(run.status, 0) << Describe(run);
  EXPECT_TRUE(Contains(run.err,
                       "test mail of recipient 2 (伊藤 花子 <ito@example.jp>) sent to "
                       "me@example.jp (exit status 0)"))
      << run.err;

  const std::vector<std::string> messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 1u);
  const MailReport report = Check(messages[0]);
  SCOPED_TRACE(report.Dump());
  EXPECT_EQ(report.Get("subject"), "[テスト] 伊藤 花子様へのご案内");
  EXPECT_EQ(report.Get("to.name"), "伊藤 花子");
  EXPECT_EQ(report.Get("to.address"), "ito@example.jp");
  EXPECT_EQ(Normalized(report.Get("body")),
            "伊藤 花子様（非会員）\nﾃｽﾄ送信です。宛先: ito@example.jp");
  ASSERT_EQ(report.Count("attachments"), 2);
  EXPECT_EQ(report.Get("attachments.1.filename"), "伊藤.pdf");
  EXPECT_EQ(report.Get("attachments.1.sha256"), Sha256("%PDF invoice of 伊藤\n"));
  const auto envelope = Envelope(messages[0]);
  EXPECT_EQ(envelope.count("rcpt_to"), 1u);
  EXPECT_EQ(First(envelope, "rcpt_to"), "me@example.jp");

  // The send log only: no journal, no result list, no copies.
  const std::vector<std::string> logs = FilesIn(home + "/Log");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_TRUE(Contains(logs[0], "/Log/")) << logs[0];
  EXPECT_FALSE(Contains(logs[0], "journal-") || Contains(logs[0], "result-")) << logs[0];
  EXPECT_FALSE(std::filesystem::exists(home + "/Text"));
}

TEST_F(SendProgramTest, AServerThatIsNotThereIsResult10) {
  // A port that was free a moment ago and that nobody listens on.
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  const int port = receiver.port();
  receiver.Stop();
  ASSERT_NO_FATAL_FAILURE(Configure(port, kPopPassword));
  const ProgramRun run = RunSend(SendArgs(), home);
  EXPECT_EQ(run.status, 10) << Describe(run);
  EXPECT_TRUE(Contains(run.err, "the SMTP connection could not be opened (127.0.0.1 port " +
                                    std::to_string(port) + ")"))
      << run.err;
  EXPECT_EQ(FilesIn(home + "/Log").size(), 3u) << "the journal, the send log and the result list";
}

struct RefusedInput {
  const char* name;
  std::vector<std::string> args;  // "BODY", "EMPTY" and "PNG" stand for the test's files
  int status;
  const char* errorPart;
};

const RefusedInput kRefusedInputs[] = {
    {"missing_body", {"--to", "山田", "--text", "nowhere.txt"}, 2, "cannot read the body text"},
    {"empty_body", {"--to", "山田", "--text", "EMPTY"}, 2, "missing or empty"},
    {"unknown_name", {"--to", "田中", "--text", "BODY"}, 2, "no recipient for --to '田中'"},
    {"address_without_name", {"--to", "<x@example.jp>", "--text", "BODY"}, 2, "no recipient"},
    {"missing_attachment",
     {"--to", "山田", "--text", "BODY", "--attach", "gone.pdf"},
     2,
     "cannot attach gone.pdf"},
    {"missing_setup_file", {"send.vlk2"}, 2, "cannot read the setup file"},
    {"no_body_at_all", {"--to", "山田"}, 1, "Velkaro: 送信本文がありません。"},
    {"no_recipient_at_all", {"--text", "BODY"}, 1, "Velkaro: 送信先が１件も指定されていません。"},
};

TEST_F(SendProgramTest, UnusableInputSendsNothingAndSaysWhy) {
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  ASSERT_NO_FATAL_FAILURE(Configure(receiver.port(), kPopPassword));
  const std::string empty = dir.File("empty.txt");
  WriteBytes(empty, "");
  for (const RefusedInput& c : kRefusedInputs) {
    std::vector<std::string> args;
    for (const std::string& a : c.args) {
      args.push_back(a == "BODY" ? body : a == "EMPTY" ? empty : a == "PNG" ? attachment : a);
    }
    const ProgramRun run = RunSend(args, home);
    EXPECT_EQ(run.status, c.status) << c.name << "\n" << Describe(run);
    EXPECT_TRUE(Contains(run.err, c.errorPart)) << c.name << "\n" << run.err;
  }
  EXPECT_TRUE(ReceivedMessages().empty());
}

TEST_F(SendProgramTest, SettingsAreChangedAllOrNothingAndShownInUtf8) {
  ASSERT_NO_FATAL_FAILURE(Configure(2525, "secret"));
  const std::string before = ReadBytes(home + "/Velkaro.cfg");

  // One good and one bad value: nothing is written.
  ProgramRun run = RunSend(
      {"--set", "senderName=新しい名前", "--set", "senderAddress=" + std::string(128, 'a')}, home);
  EXPECT_EQ(run.status, 2) << Describe(run);
  EXPECT_TRUE(Contains(run.err, "senderAddress is too long: 128 bytes")) << run.err;
  EXPECT_EQ(ReadBytes(home + "/Velkaro.cfg"), before);

  run = RunSend({"--set", "PlaceholderWords[1]=((氏名))", "--set", "speed=20", "--show-settings"},
                home);
  ASSERT_EQ(run.status, 0) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "smtpPort=2525\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "senderName=差出人 山田\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "PlaceholderWords[1]=((氏名))\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "speed=20\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "soundOn[4]=1\n")) << run.out;
  // The file is the record: the name is stored in Shift_JIS.
  const std::string file = ReadBytes(home + "/Velkaro.cfg");
  ASSERT_EQ(file.size(), 3312u);
  EXPECT_EQ(file.substr(2800 + 32, Utf8ToSjis("((氏名))").size() + 1),
            Utf8ToSjis("((氏名))") + std::string(1, '\0'));
}

}  // namespace
}  // namespace velkaro::testing
