// The result list of a send run: its order and sorting, the counts and the
// CSV line, the copy for the clipboard, the refused recipients made the
// form's recipients, and when the main window shows it.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <filesystem>

#include "form_fixture.h"
#include "support/scripted_socket.h"
#include "ui/dialogs/result_dialog.h"

namespace velkaro::ui::testing {
namespace {

using dialogs::ResultDialog;
using velkaro::testing::ScriptedNetwork;
using velkaro::testing::ScriptedServer;

// A result with the entry line the run took for it.
RecipientResult Result(const char* name, const std::string& address, MailOutcome outcome,
                       int code = 0, const std::string& reply = {}) {
  RecipientResult r;
  r.name = S(name);
  r.address = address;
  r.outcome = outcome;
  r.code = code;
  r.reply = reply;
  r.line = S("よみ\t") + S(name) + "\t" + S(name) + "\t" + address + "\t\t\t\t\t\t\r\n";
  return r;
}

// The No column from top to bottom, as shown.
std::vector<int> ShownNumbers(const QTableWidget& table) {
  std::vector<int> numbers;
  for (int row = 0; row < table.rowCount(); ++row) {
    numbers.push_back(table.item(row, ResultDialog::kNoColumn)->text().toInt());
  }
  return numbers;
}

void ClickHeader(QTableWidget& table, int column) {
  QHeaderView* header = table.horizontalHeader();
  const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                  header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

class ResultListTest : public FrameTest {
 protected:
  // The dialog alone, on the window's job (so the form shows what it does).
  ResultDialog& Dialog(const std::vector<RecipientResult>& results,
                       const std::string& csvPath = "/tmp/result.csv") {
    if (!frame) Start();
    dialog = std::make_unique<ResultDialog>(frame.get(), job());
    dialog->ShowResults(results, csvPath);
    dialog->show();
    return *dialog;
  }
  std::unique_ptr<ResultDialog> dialog;
};

TEST_F(ResultListTest, StartsWithTheRefusedThenInDoubtNotSentAndSentEachInListOrder) {
  // Twelve rows, so that sorting the numbers as text would put 10 before 2.
  const std::vector<MailOutcome> outcomes = {
      MailOutcome::Sent,    MailOutcome::Sent,    MailOutcome::NotSent, MailOutcome::Refused,
      MailOutcome::InDoubt, MailOutcome::Sent,    MailOutcome::NotSent, MailOutcome::Sent,
      MailOutcome::Sent,    MailOutcome::Refused, MailOutcome::Sent,    MailOutcome::NotSent};
  std::vector<RecipientResult> results;
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    const bool failed = outcomes[i] == MailOutcome::Refused || outcomes[i] == MailOutcome::InDoubt;
    results.push_back(Result("山田", "u" + std::to_string(i + 1) + "@example.jp", outcomes[i],
                             failed ? 106 : 0, failed ? "550 no" : "250 ok"));
  }
  QTableWidget& table = *Dialog(results).Table();
  ASSERT_EQ(table.rowCount(), 12);
  EXPECT_EQ(ShownNumbers(table), (std::vector<int>{4, 10, 5, 3, 7, 12, 1, 2, 6, 8, 9, 11}));
  EXPECT_EQ(table.item(0, ResultDialog::kOutcomeColumn)->text(), QStringLiteral("拒否"));
  EXPECT_EQ(table.item(2, ResultDialog::kOutcomeColumn)->text(),
            QStringLiteral("不明(届いたか分からない)"));
  EXPECT_EQ(table.item(3, ResultDialog::kOutcomeColumn)->text(), QStringLiteral("未送信"));
  EXPECT_EQ(table.item(11, ResultDialog::kOutcomeColumn)->text(), QStringLiteral("送信済み"));
  // Each row keeps its own cells together.
  EXPECT_EQ(table.item(1, ResultDialog::kAddressColumn)->text(), QStringLiteral("u10@example.jp"));
  EXPECT_EQ(table.item(1, ResultDialog::kCodeColumn)->text(), QStringLiteral("106"));
  EXPECT_EQ(table.item(11, ResultDialog::kCodeColumn)->text(), QString());
  EXPECT_EQ(table.item(11, ResultDialog::kNameColumn)->text(), QStringLiteral("山田"));

  struct Step {
    int column;
    std::vector<int> expected;
  };
  const std::vector<Step> steps = {
      {ResultDialog::kNoColumn, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
      {ResultDialog::kNoColumn, {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}},
      // Same code: list order decides.
      {ResultDialog::kCodeColumn, {1, 2, 3, 6, 7, 8, 9, 11, 12, 4, 5, 10}},
      // Back to the groups, whatever order the rows were in.
      {ResultDialog::kOutcomeColumn, {4, 10, 5, 3, 7, 12, 1, 2, 6, 8, 9, 11}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.column);
    ClickHeader(table, step.column);
    EXPECT_EQ(ShownNumbers(table), step.expected);
  }
}

TEST_F(ResultListTest, TheSummaryCountsEachOutcomeAndNamesTheCsvFile) {
  struct Case {
    std::vector<MailOutcome> outcomes;
    std::string csvPath;
    const char* summary;
    const char* csvLine;
  };
  using O = MailOutcome;
  const std::vector<Case> cases = {
      {{O::Sent, O::Refused, O::NotSent, O::Sent, O::NotSent, O::Sent},
       "/home/u/Log/result-20261206-093015.csv",
       "送信済み 3 / 拒否 1 / 不明 0 / 未送信 2",
       "結果一覧: /home/u/Log/result-20261206-093015.csv"},
      {{O::InDoubt, O::NotSent},
       "/home/ユーザー/<b>ログ</b>/result.csv",
       "送信済み 0 / 拒否 0 / 不明 1 / 未送信 1",
       "結果一覧: /home/ユーザー/<b>ログ</b>/result.csv"},
      {{O::Sent},
       "",
       "送信済み 1 / 拒否 0 / 不明 0 / 未送信 0",
       "結果一覧を書き込めませんでした。"},
  };
  Start();
  ResultDialog dlg(frame.get(), job());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.summary);
    std::vector<RecipientResult> results;
    for (MailOutcome o : c.outcomes) results.push_back(Result("山田", "a@example.jp", o));
    dlg.ShowResults(results, c.csvPath);
    EXPECT_EQ(dlg.SummaryLabel()->text().toStdString(), c.summary);
    EXPECT_EQ(dlg.CsvLabel()->text().toStdString(), c.csvLine);
    // A path is a path, never markup.
    EXPECT_EQ(dlg.CsvLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(dlg.Table()->rowCount(), static_cast<int>(results.size()));
  }
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("送信結果"));
  EXPECT_FALSE(dlg.isModal());
}

TEST_F(ResultListTest, TheReplaceButtonMakesExactlyTheRefusedTheRecipientsInListOrder) {
  Start();
  job().recipientLines = Entry("元", "元の宛先", "old@example.jp");
  job().RebuildRecipientList();
  // Typed into the form but not taken into the job yet.
  editor().setPlainText(QStringLiteral("新しい件名\n本文\n"));
  const std::vector<RecipientResult> results = {
      Result("一郎", "one@example.jp", MailOutcome::Sent, 0, "250 ok"),
      Result("二郎", "two@example.jp", MailOutcome::Refused, 106, "550 no such user"),
      Result("三郎", "three@example.jp", MailOutcome::InDoubt, 111),
      Result("四郎", "four@example.jp", MailOutcome::NotSent),
      Result("五郎", "five@example.jp", MailOutcome::Refused, 107, "552 too big"),
  };
  ResultDialog& dlg = Dialog(results);
  ASSERT_TRUE(dlg.ResendButton()->isEnabled());
  EXPECT_EQ(dlg.ResendButton()->text(), QStringLiteral("失敗した宛先だけを送信先にする"));
  // The table shows the two refused first; the job gets them in list order.
  QTest::mouseClick(dlg.ResendButton(), Qt::LeftButton);
  EXPECT_EQ(job().recipientLines, results[1].line + results[4].line);
  QTreeWidget& list = *view().RecipientList();
  ASSERT_EQ(list.topLevelItemCount(), 2);
  EXPECT_EQ(list.topLevelItem(0)->text(1), QStringLiteral("two@example.jp"));
  EXPECT_EQ(list.topLevelItem(1)->text(1), QStringLiteral("five@example.jp"));
  EXPECT_EQ(editor().toPlainText(), QStringLiteral("新しい件名\n本文\n"));
  EXPECT_TRUE(dlg.isVisible());

  // Without a refusal there is nothing to take.
  const std::vector<std::vector<RecipientResult>> withoutRefusal = {
      {Result("一郎", "one@example.jp", MailOutcome::Sent)},
      {Result("一郎", "one@example.jp", MailOutcome::InDoubt, 111),
       Result("二郎", "two@example.jp", MailOutcome::NotSent)},
      {},
  };
  for (const auto& other : withoutRefusal) {
    dlg.ShowResults(other, "/tmp/r.csv");
    EXPECT_FALSE(dlg.ResendButton()->isEnabled()) << other.size();
  }
}

TEST_F(ResultListTest, CopiesTheListInListOrderAsTabSeparatedText) {
  QGuiApplication::clipboard()->clear();
  ResultDialog& dlg = Dialog({
      Result("一郎", "one@example.jp", MailOutcome::Sent, 0, "250 2.0.0 queued as 1A2B"),
      Result("二郎", "two@example.jp", MailOutcome::Refused, 106, "550 5.1.1 no such user"),
      Result("三郎", "three@example.jp", MailOutcome::NotSent),
  });
  QTest::mouseClick(dlg.CopyButton(), Qt::LeftButton);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
            "No\t名前\tアドレス\t結果\tコード\tサーバーの応答\n"
            "1\t一郎\tone@example.jp\t送信済み\t\t250 2.0.0 queued as 1A2B\n"
            "2\t二郎\ttwo@example.jp\t拒否\t106\t550 5.1.1 no such user\n"
            "3\t三郎\tthree@example.jp\t未送信\t\t\n");
}

TEST_F(ResultListTest, AFieldWithATabOrLineBreakStaysInItsRow) {
  RecipientResult odd = Result("一郎", "one@example.jp", MailOutcome::Refused, 106, "550 a\tb");
  odd.name = S("一\r\n郎");  // shown as "一\n郎"
  EXPECT_EQ(dialogs::ResultListText({odd}).toStdString(),
            "No\t名前\tアドレス\t結果\tコード\tサーバーの応答\n"
            "1\t一 郎\tone@example.jp\t拒否\t106\t550 a b\n");
}

// A run with personal attachments shows each recipient's files, and a
// recipient refused before sending shows why in Japanese.
TEST_F(ResultListTest, PersonalFilesHaveAColumnOnlyWhenARunHadThem) {
  RecipientResult sent = Result("一郎", "one@example.jp", MailOutcome::Sent, 0, "250 ok");
  sent.attachments = "1001.pdf; 案内.pdf";
  RecipientResult missing = Result("二郎", "two@example.jp", MailOutcome::Refused, 104,
                                   S("個別の添付ファイルを開けません: /請求書/1002.pdf"));
  ResultDialog& dlg = Dialog({sent, missing});
  QTableWidget& table = *dlg.Table();
  EXPECT_FALSE(table.isColumnHidden(ResultDialog::kAttachmentsColumn));
  EXPECT_EQ(table.item(0, ResultDialog::kReplyColumn)->text(),
            QStringLiteral("個別の添付ファイルを開けません: /請求書/1002.pdf"));
  EXPECT_EQ(table.item(1, ResultDialog::kAttachmentsColumn)->text(),
            QStringLiteral("1001.pdf; 案内.pdf"));
  EXPECT_EQ(dialogs::ResultListText({sent}).toStdString(),
            "No\t名前\tアドレス\t結果\tコード\tサーバーの応答\t添付ファイル\n"
            "1\t一郎\tone@example.jp\t送信済み\t\t250 ok\t1001.pdf; 案内.pdf\n");

  dlg.ShowResults({Result("三郎", "three@example.jp", MailOutcome::Sent, 0, "250 ok")}, {});
  EXPECT_TRUE(table.isColumnHidden(ResultDialog::kAttachmentsColumn));
}

// --- the main window ---

class FrameResults : public FrameTest {
 protected:
  FrameResults() {
    network.Add("smtp.test", smtp);
    platform.SetSocketFactory([this] { return network.NewSocket(); });
  }
  static void Server(Settings& settings) {
    SetFieldText(settings.record.server.smtpServer, "smtp.test");
    SetFieldText(settings.record.server.senderAddress, "from@example.jp");
  }
  void Greeting() { smtp.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n"); }
  void Accepted(const std::string& to) {
    smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    smtp.Expect("RCPT TO:<" + to + ">\r\n").Send("250 ok\r\n");
    smtp.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n").Send("250 queued\r\n");
  }
  void Refused(const std::string& to) {
    smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    smtp.Expect("RCPT TO:<" + to + ">\r\n").Send("550 5.1.1 no such user\r\n");
  }
  void Quit() { smtp.Expect("QUIT\r\n").Send("221 bye\r\n"); }
  void ThreeRecipients() {
    editor().setPlainText(QStringLiteral("件名\n本文\n"));
    job().recipientLines = Entry("一郎", "一郎", "one@example.jp") +
                           Entry("二郎", "二郎", "two@example.jp") +
                           Entry("三郎", "三郎", "three@example.jp");
    job().RebuildRecipientList();
  }
  void Send() { frame->OnCommand(kCommandSend); }

  ScriptedServer smtp;
  ScriptedNetwork network;
};

TEST_F(FrameResults, ARunWithARefusalShowsTheListAndTheMenuReopensIt) {
  Start({}, Server);
  frame->CommandAction(kCmdShowResults)->trigger();
  EXPECT_EQ(Boxes(), std::vector<std::string>{"まだ送信していません。"});
  EXPECT_EQ(frame->ResultList(), nullptr);

  ThreeRecipients();
  Greeting();
  Accepted("one@example.jp");
  Refused("two@example.jp");
  Quit();
  Send();
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  ResultDialog* dlg = frame->ResultList();
  ASSERT_NE(dlg, nullptr);
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_FALSE(dlg->isModal());
  EXPECT_EQ(dlg->SummaryLabel()->text(), QStringLiteral("送信済み 1 / 拒否 1 / 不明 0 / 未送信 1"));
  ASSERT_FALSE(job().resultCsvPath.empty());
  EXPECT_TRUE(std::filesystem::exists(job().resultCsvPath));
  EXPECT_EQ(dlg->CsvLabel()->text().toStdString(), "結果一覧: " + job().resultCsvPath);
  QTableWidget& table = *dlg->Table();
  EXPECT_EQ(ShownNumbers(table), (std::vector<int>{2, 3, 1}));
  EXPECT_EQ(table.item(0, ResultDialog::kNameColumn)->text(), QStringLiteral("二郎"));
  EXPECT_EQ(table.item(0, ResultDialog::kReplyColumn)->text(),
            QStringLiteral("550 5.1.1 no such user"));

  // Sending to the refused again takes the list's button and a new run.
  QTest::mouseClick(dlg->ResendButton(), Qt::LeftButton);
  EXPECT_EQ(job().recipientLines, Entry("二郎", "二郎", "two@example.jp"));
  EXPECT_EQ(view().RecipientList()->topLevelItemCount(), 1);

  dlg->close();
  frame->CommandAction(kCmdShowResults)->trigger();
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(table.rowCount(), 3);
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(FrameResults, ARunTheChecksRefuseShowsNoListAndKeepsTheLastOne) {
  Start({}, Server);
  ThreeRecipients();
  editor().clear();  // no body: the checks refuse the run
  Send();
  EXPECT_EQ(smtp.Connects(), 0);
  ASSERT_EQ(Boxes().size(), 1u);  // the checks' own message
  EXPECT_FALSE(job().results.empty());
  EXPECT_EQ(frame->ResultList(), nullptr);
  frame->CommandAction(kCmdShowResults)->trigger();
  EXPECT_EQ(Boxes().back(), "まだ送信していません。");

  // After a real run, a refused one leaves its list alone.
  editor().setPlainText(QStringLiteral("件名\n本文\n"));
  Greeting();
  Accepted("one@example.jp");
  Refused("two@example.jp");
  Quit();
  Send();
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  ASSERT_NE(frame->ResultList(), nullptr);
  frame->ResultList()->close();
  editor().clear();
  Send();
  EXPECT_EQ(Boxes().size(), 3u);
  EXPECT_FALSE(frame->ResultList()->isVisible());
  EXPECT_EQ(frame->ResultList()->SummaryLabel()->text(),
            QStringLiteral("送信済み 1 / 拒否 1 / 不明 0 / 未送信 1"));
}

TEST_F(FrameResults, ASuccessfulRunShowsTheListUnlessTheProgramQuits) {
  for (const bool autoQuit : {false, true}) {
    SCOPED_TRACE(autoQuit ? "auto quit" : "stays");
    ScriptedServer server;
    network.Add("smtp.test", server);
    Start({}, Server);
    editor().setPlainText(QStringLiteral("件名\n本文\n"));
    job().recipientLines = Entry("一郎", "一郎", "one@example.jp");
    job().RebuildRecipientList();
    static_cast<QAbstractButton*>(view().Control(kAutoQuitBox))->setChecked(autoQuit);
    server.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
    server.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    server.Expect("RCPT TO:<one@example.jp>\r\n").Send("250 ok\r\n");
    server.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n").Send("250 ok\r\n");
    server.Expect("QUIT\r\n").Send("221 bye\r\n");
    Send();
    EXPECT_TRUE(server.Finished()) << server.Mismatch();
    if (autoQuit) {
      EXPECT_EQ(frame->ResultList(), nullptr);
    } else {
      ASSERT_NE(frame->ResultList(), nullptr);
      EXPECT_TRUE(frame->ResultList()->isVisible());
      EXPECT_FALSE(frame->ResultList()->ResendButton()->isEnabled());
    }
  }
}

}  // namespace
}  // namespace velkaro::ui::testing
