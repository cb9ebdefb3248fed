// The send run against scripted SMTP and POP3 servers.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/encoding.h"
#include "job/send_job.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::ScriptedServer;
using testing::WriteBytes;

std::string S(const char* utf8) {
  return Utf8ToSjis(utf8);
}

class SendRunTest : public testing::PlatformTest, public CommandTarget {
 protected:
  SendRunTest() {
    platform.SetProgramFolder(dir.path());
    platform.SetLocalTime(2026, 12, 6, 9, 30, 15);  // a Sunday
    settings = std::make_unique<Settings>();
    SetFieldText(settings->record.server.smtpServer, "smtp.test");
    SetFieldText(settings->record.server.senderAddress, "from@example.jp");
    SetFieldText(settings->record.server.senderName, S("差出人"));
    job = std::make_unique<SendJob>(*settings);
    network.Add("smtp.test", smtp);
    network.Add("pop.test", pop);
    platform.SetSocketFactory([this] { return network.NewSocket(); });
    platform.SetCommandTarget(this);
  }
  void OnCommand(int id) override { commands.push_back(id); }
  void OnCloseRequest() override {}

  void AddRecipient(const char* name, const char* address) {
    job->recipientLines += S("よみ\t登録\t") + S(name) + "\t" + address + "\t\t\t\t\t\t\r\n";
  }
  void Greeting() { smtp.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n"); }
  void Envelope(const char* to) {
    smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    smtp.Expect(std::string("RCPT TO:<") + to + ">\r\n");
  }
  void Accepted(const char* to) {
    Envelope(to);
    smtp.Send("250 ok\r\n").Expect("DATA\r\n").Send("354 go\r\n");
    smtp.ExpectThrough("\r\n.\r\n").Send("250 queued\r\n");
  }
  void Quit() { smtp.Expect("QUIT\r\n").Send("221 bye\r\n"); }
  std::vector<std::string> Statuses() const {
    std::vector<std::string> out;
    for (const auto& s : platform.StatusTexts()) out.push_back(SjisToUtf8(s));
    return out;
  }
  std::string Log() const { return SjisToUtf8(ReadBytes(dir.File("Log/log202612.txt"))); }
  std::string Wave(const char* name) const { return dir.File(name); }

  testing::TempDir dir;
  std::unique_ptr<Settings> settings;
  std::unique_ptr<SendJob> job;
  ScriptedServer smtp, pop;
  testing::ScriptedNetwork network;
  std::vector<int> commands;
};

TEST_F(SendRunTest, ChecksReportEveryProblemInOneMessage) {
  job->attachments.push_back({"gone.pdf", dir.path()});
  EXPECT_EQ(job->RunSendJob(), 1);
  ASSERT_EQ(platform.MessageBoxes().size(), 1u);
  EXPECT_EQ(SjisToUtf8(platform.MessageBoxes()[0].text),
            "送信先が１件も指定されていません。\r\n送信本文がありません。\r\n"
            "添付ファイル( gone.pdf )を開けません。\r\n\r\n送信処理をキャンセルします。\r\n");
  EXPECT_EQ(platform.MessageBoxes()[0].icon, MsgIcon::Information);
  EXPECT_EQ(smtp.Connects(), 0);
  EXPECT_TRUE(platform.PlayedWaves().empty());
  EXPECT_EQ(Statuses().back(), "メール送信キャンセル RetCode=1");
  EXPECT_EQ(Log(), "■2026年12月06日(日)\r\n  ... メール送信キャンセル RetCode=1\r\n\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("Text")));
  EXPECT_TRUE(job->sendButtonEnabled);
  EXPECT_EQ(SjisToUtf8(job->sendButtonCaption), "送信");
}

TEST_F(SendRunTest, SendsEveryRecipientAndLogsTheRun) {
  AddRecipient("山田", "yamada@example.jp");
  AddRecipient("鈴木", "suzuki@example.jp");
  job->bodyText = S("  ((name))様へのご案内 \r\n本文です。\r\n");
  job->bodyFilePath = "/docs/notice.txt";
  Greeting();
  Accepted("yamada@example.jp");
  Accepted("suzuki@example.jp");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 0);
  EXPECT_TRUE(smtp.Mismatch().empty()) << smtp.Mismatch();
  EXPECT_TRUE(smtp.Finished());
  const std::vector<std::string> expectedStatuses = {
      "SMTP(smtp.test)オープン処理中です", " 1通目: 山田<yamada@example.jp>",
      " 2通目: 鈴木<suzuki@example.jp>", " 2通のメール送信を完了しました。"};
  std::vector<std::string> runStatuses;
  for (const auto& s : Statuses()) {
    if (s.find("SMTP(") == 0 || s.find("通目") != std::string::npos ||
        (s.find("完了しました。") != std::string::npos && s.find("通の") != std::string::npos)) {
      runStatuses.push_back(s);
    }
  }
  EXPECT_EQ(runStatuses, expectedStatuses);
  EXPECT_EQ(
      platform.PlayedWaves(),
      (std::vector<std::string>{Wave("OneMail.wav"), Wave("OneMail.wav"), Wave("NormalEnd.wav")}));
  EXPECT_EQ(Log(),
            "■2026年12月06日(日)\r\n"
            "  タイトル: 山田様へのご案内\r\n"
            "    送信先: 山田<yamada@example.jp>\r\n"
            "    保存文: " +
                dir.File("Text/notice_20261206-093015_0.txt") +
                "\r\n"
                "  タイトル: 鈴木様へのご案内\r\n"
                "    送信先: 鈴木<suzuki@example.jp>\r\n"
                "    保存文: " +
                dir.File("Text/notice_20261206-093015_1.txt") +
                "\r\n"
                "  ...  2通のメール送信を完了しました。\r\n\r\n");
  EXPECT_EQ(ReadBytes(dir.File("Text/notice_20261206-093015_1.txt")), S("本文です。\r\n\r\n"));
  EXPECT_FALSE(job->Running());
  EXPECT_TRUE(commands.empty());
  EXPECT_EQ(platform.RunningTimers(), 0u);
  EXPECT_NE(job->DetailsText().find(S("★To 鈴木<suzuki@example.jp>")), std::string::npos);
}

TEST_F(SendRunTest, ARejectedRecipientEndsTheRunAndQuitIsStillSent) {
  AddRecipient("一", "one@example.jp");
  AddRecipient("二", "two@example.jp");
  AddRecipient("三", "three@example.jp");
  job->bodyText = S("件名\r\n本文\r\n");
  Greeting();
  Accepted("one@example.jp");
  Envelope("two@example.jp");
  smtp.Send("550 no such user\r\n");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 106);
  EXPECT_TRUE(smtp.Mismatch().empty()) << smtp.Mismatch();
  EXPECT_TRUE(smtp.Finished());
  // The server's own words say why, in the status bar, the log and the
  // details.
  EXPECT_EQ(Statuses().back(),
            "メール送信でエラー検出 RetCode=106 サーバーの応答: 550 no such user");
  EXPECT_NE(Log().find("RetCode=106 サーバーの応答: 550 no such user"), std::string::npos);
  EXPECT_NE(SjisToUtf8(job->DetailsText()).find("550 no such user"), std::string::npos);
  EXPECT_EQ(platform.PlayedWaves().back(), Wave("ErrorEnd.wav"));
  EXPECT_EQ(Log().find("三"), std::string::npos);
  // The failing mail was archived before it was sent; the third was not.
  EXPECT_TRUE(std::filesystem::exists(dir.File("Text/text_20261206-093015_1.txt")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("Text/text_20261206-093015_2.txt")));
}

// A refused command leaves the dialogue in step: the run sends QUIT and
// keeps the refused step's code, unless that QUIT fails too (90). Only a
// connection out of step is dropped without QUIT (see send_run_fault_test).
TEST_F(SendRunTest, ARefusalEndsTheRunWithQuitAndNinetyOnlyWhenQuitFails) {
  struct Row {
    const char* name;
    int refusedStep;        // 0 MAIL, 1 RCPT, 2 DATA, 3 end of data
    const char* refusal;    // the server's answer to that step
    const char* quitReply;  // nullptr: the server hangs up after the refusal
    int result;
    const char* reason;  // the server's words the status text ends with
  };
  const Row rows[] = {
      {"MAIL refused", 0, "550 5.7.1 relaying denied\r\n", "221 bye\r\n", 106,
       "550 5.7.1 relaying denied"},
      {"RCPT refused", 1, "550 no such user\r\n", "221 bye\r\n", 106, "550 no such user"},
      {"DATA answered without go-ahead", 2, "250 ok\r\n", "221 bye\r\n", 106, "250 ok"},
      {"end of data refused", 3, "554 5.6.0 rejected\r\n", "221 bye\r\n", 111,
       "554 5.6.0 rejected"},
      {"RCPT refused, QUIT refused", 1, "550 no such user\r\n", "500 what?\r\n", 90, "500 what?"},
      {"end of data refused, then a hang-up", 3, "421 4.3.0 closing\r\n", nullptr, 90,
       "421 4.3.0 closing"},
  };
  AddRecipient("山田", "yamada@example.jp");
  job->bodyText = S("件名\r\n本文\r\n");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server;
    network.Add("smtp.test", server);
    const std::string lines[] = {"MAIL FROM:<from@example.jp>\r\n",
                                 "RCPT TO:<yamada@example.jp>\r\n", "DATA\r\n"};
    const char* const accepted[] = {"250 ok\r\n", "250 ok\r\n", "354 go\r\n"};
    server.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
    for (int i = 0; i < 3 && i <= row.refusedStep; ++i) {
      server.Expect(lines[i]).Send(i == row.refusedStep ? row.refusal : accepted[i]);
    }
    if (row.refusedStep == 3) server.ExpectThrough("\r\n.\r\n").Send(row.refusal);
    if (row.quitReply == nullptr) {
      server.Close();
    } else {
      server.Expect("QUIT\r\n").Send(row.quitReply);
    }

    EXPECT_EQ(job->RunSendJob(), row.result);

    EXPECT_TRUE(server.Mismatch().empty()) << server.Mismatch();
    EXPECT_TRUE(server.Finished());
    EXPECT_TRUE(server.ClientClosed());
    EXPECT_EQ(Statuses().back(), "メール送信でエラー検出 RetCode=" + std::to_string(row.result) +
                                     " サーバーの応答: " + row.reason);
  }
}

TEST_F(SendRunTest, ABlankFirstLineIsAnEmptySubject) {
  AddRecipient("山田", "yamada@example.jp");
  job->bodyText = S("   \r\n本文\r\n");
  Greeting();
  Quit();
  EXPECT_EQ(job->RunSendJob(), 103);
  EXPECT_TRUE(smtp.Finished());
}

TEST_F(SendRunTest, TitleInDecidesWhetherTheSubjectStaysInTheBody) {
  for (const bool titleIn : {false, true}) {
    ScriptedServer server;
    network.Add("smtp.test", server);
    job->recipientLines.clear();
    AddRecipient("山田", "yamada@example.jp");
    job->bodyText = S("件名だけ");
    job->titleIn = titleIn;
    server.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
    server.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    server.Expect("RCPT TO:<yamada@example.jp>\r\n").Send("250 ok\r\n");
    server.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n");
    server.Send("250 ok\r\n").Expect("QUIT\r\n").Send("221 bye\r\n");
    EXPECT_EQ(job->RunSendJob(), 0);
    const std::string archived = ReadBytes(dir.File("Text/text_20261206-093015_0.txt"));
    EXPECT_EQ(archived, titleIn ? S("件名だけ\r\n") : "\r\n");
  }
}

TEST_F(SendRunTest, PopBeforeSmtpOnlyForTheFirstMail) {
  SetFieldText(settings->record.server.popServer, "pop.test");
  SetFieldText(settings->record.server.popUser, "user");
  SetFieldText(settings->record.server.popPassword, "secret");
  AddRecipient("一", "one@example.jp");
  AddRecipient("二", "two@example.jp");
  job->bodyText = S("件名\r\n本文\r\n");
  pop.Send("+OK ready\r\n").Expect("USER user\r\n").Send("+OK\r\n");
  pop.Expect("PASS secret\r\n").Send("+OK\r\n").Expect("STAT\r\n").Send("+OK 0 0\r\n");
  pop.Expect("QUIT\r\n").Send("+OK bye\r\n");
  Greeting();
  Accepted("one@example.jp");
  Accepted("two@example.jp");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 0);
  EXPECT_EQ(pop.Connects(), 1);
  EXPECT_TRUE(pop.Finished());
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
}

TEST_F(SendRunTest, AutoQuitPostsTheExitCommandOnlyAfterSuccess) {
  AddRecipient("山田", "yamada@example.jp");
  job->bodyText = S("件名\r\n本文\r\n");
  job->autoQuit = true;
  Greeting();
  Accepted("yamada@example.jp");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 0);
  platform.Pump();
  EXPECT_EQ(commands, std::vector<int>{kCommandExit});
  EXPECT_EQ(SjisToUtf8(job->sendButtonCaption), "終了処理中");
  EXPECT_EQ(Statuses().back(), "プログラムを終了します(自動終了)。しばらくお待ちください。");

  commands.clear();
  ScriptedServer refusing;
  refusing.RefuseConnect();
  network.Add("smtp.test", refusing);
  EXPECT_EQ(job->RunSendJob(), 10);
  platform.Pump();
  EXPECT_TRUE(commands.empty());
  EXPECT_FALSE(job->sendButtonEnabled);
  EXPECT_EQ(SjisToUtf8(job->sendButtonCaption), "送信処理中");
}

TEST_F(SendRunTest, AStopDuringTheBodyEndsTheMail) {
  AddRecipient("山田", "yamada@example.jp");
  job->bodyText = S("件名\r\n") + std::string(5000, 'x') + "\r\n";
  Greeting();
  Envelope("yamada@example.jp");
  // The stopped mail is not ended: the connection is dropped, without QUIT,
  // so the server discards what it got.
  smtp.Send("250 ok\r\n").Expect("DATA\r\n").Send("354 go\r\n");
  bool stopped = false;
  platform.SetPumpHook([&] {
    MailConnection* mail = job->ActiveConnection();
    if (!stopped && mail != nullptr && mail->progress.sendingData == 1) {
      job->RequestStop();
      stopped = true;
    }
  });
  EXPECT_EQ(job->RunSendJob(), 110);
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(smtp.Received().find("\r\n.\r\n"), std::string::npos);
  EXPECT_EQ(smtp.Received().find("QUIT"), std::string::npos);
  EXPECT_TRUE(smtp.ClientClosed());
  EXPECT_NE(job->DetailsText().find(Sjis("強制終了")), std::string::npos);
}

TEST_F(SendRunTest, TheProgressDisplayShowsTheHighestStage) {
  ProgressRecord p;
  EXPECT_EQ(SendJob::ProgressText(p), "");
  p.stage[1] = 1;
  EXPECT_EQ(SjisToUtf8(SendJob::ProgressText(p)),
            "宛先と差出人情報を送信します。(POP befor SMTP スキップ)");
  p.popDone = 1;
  EXPECT_EQ(SjisToUtf8(SendJob::ProgressText(p)), "宛先と差出人情報を送信します。");
  p.stage[4] = 1;
  p.dataSent = 640;
  p.dataSize = 1300;
  EXPECT_EQ(SjisToUtf8(SendJob::ProgressText(p)), "本文送信開始しました。: 640Bytes/ 1300Bytes");
  p.stage[6] = 1;
  p.attachmentIndex = 2;
  p.dataSent = 4096;
  p.dataSize = 10000;
  EXPECT_EQ(SjisToUtf8(SendJob::ProgressText(p)),
            "添付ファイル[ 2 ]送信開始しました。: 4KB/ 9KB( 10000 Bytes)");
  p.stage[8] = 1;
  EXPECT_EQ(SjisToUtf8(SendJob::ProgressText(p)), "全ての添付ファイル送信完了しました。");
  p.stage[12] = 1;
  EXPECT_EQ(SendJob::ProgressText(p), "");
}

TEST_F(SendRunTest, ASecondSendDuringARunIsRefused) {
  AddRecipient("山田", "yamada@example.jp");
  job->bodyText = S("件名\r\n本文\r\n");
  Greeting();
  Accepted("yamada@example.jp");
  Quit();
  int nested = 0;
  platform.SetPumpHook([&] {
    if (job->Running() && nested == 0) nested = job->RunSendJob();
  });
  EXPECT_EQ(job->RunSendJob(), 0);
  EXPECT_EQ(nested, -1);
  EXPECT_EQ(smtp.Connects(), 1);
}

}  // namespace
}  // namespace velkaro
