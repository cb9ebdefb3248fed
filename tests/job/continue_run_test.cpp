// Runs that go on past refused recipients, try temporary failures again on
// a new connection and keep a provider's limits (onRecipientFailure=
// continue, retries, mailsPerMinute/Hour/Connection), against scripted
// servers: the exact bytes the client sends, the result and the list.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "job/run_fixture.h"
#include "job/run_journal.h"

namespace velkaro::testing {
namespace {

class ContinueRunTest : public RunTest {
 protected:
  ContinueRunTest() { Policy("continue", 2, 5); }
  void Policy(const char* onFailure, int retries, int waitSeconds) {
    ASSERT_EQ(settings->ini.Set("onRecipientFailure", onFailure), 0);
    ASSERT_EQ(settings->ini.Set("retries", std::to_string(retries)), 0);
    ASSERT_EQ(settings->ini.Set("retryWaitSeconds", std::to_string(waitSeconds)), 0);
    job->onRunEvent = [this](const RunEvent& e) {
      events.push_back(e);
      eventTimes.push_back(platform.Now());
    };
  }
  void Recipients(int count) {
    for (int i = 1; i <= count; ++i) {
      AddRecipient(Sjis("宛先") + std::to_string(i), "r" + std::to_string(i) + "@example.jp");
    }
    job->bodyText = Sjis("件名\r\n本文\r\n");
  }
  void Envelope(int n) {
    smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    smtp.Expect("RCPT TO:<r" + std::to_string(n) + "@example.jp>\r\n");
  }
  std::string Outcomes() const {
    std::string out;
    for (const RecipientResult& r : job->results) {
      out += std::string(OutcomeName(r.outcome)) + (r.code ? " " + std::to_string(r.code) : "") +
             (r.reply.empty() ? "" : " " + r.reply) + ";";
    }
    return out;
  }
  std::vector<RunEventKind> Kinds() const {
    std::vector<RunEventKind> kinds;
    for (const RunEvent& e : events) kinds.push_back(e.kind);
    return kinds;
  }

  std::vector<RunEvent> events;
  std::vector<std::time_t> eventTimes;
};

TEST_F(ContinueRunTest, GoesOnPastARefusedRecipientAndARefusedMailWithResult30) {
  Recipients(4);
  Greeting();
  Accepted("r1@example.jp");
  Envelope(2);
  smtp.Send("550 5.1.1 no such user\r\n");
  // The sender's MAIL is still open on the server: RSET ends it.
  smtp.Expect("RSET\r\n").Send("250 reset\r\n");
  Envelope(3);
  smtp.Send("250 ok\r\n").Expect("DATA\r\n").Send("354 go\r\n");
  smtp.ExpectThrough("\r\n.\r\n").Send("550 5.7.1 rejected as spam\r\n");
  smtp.Expect("RSET\r\n").Send("250 reset\r\n");
  Accepted("r4@example.jp");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 30);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(Outcomes(),
            "sent 250 queued;refused 106 550 5.1.1 no such user;"
            "refused 111 550 5.7.1 rejected as spam;sent 250 queued;");
  EXPECT_EQ(LastStatus(),
            " 4通のうち2通を送信できませんでした RetCode=30 (結果一覧をご覧ください)");
  EXPECT_NE(ReadBytes(job->resultCsvPath).find("2,宛先2,r2@example.jp,refused,106,550 5.1.1"),
            std::string::npos);

  const std::vector<RunEventKind> kinds = Kinds();
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), RunEventKind::MailRefused), 2);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), RunEventKind::MailSent), 2);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().kind, RunEventKind::RunStarted);
  EXPECT_EQ(events.front().count, 4);
  EXPECT_EQ(events.back().kind, RunEventKind::RunEnded);
  EXPECT_EQ(events.back().code, 30);

  // The journal knows the same, and that the run ended.
  const std::optional<JournalState> journal = ReadJournal(job->journalPath, nullptr);
  ASSERT_TRUE(journal);
  EXPECT_TRUE(journal->finished);
  EXPECT_EQ(journal->result, 30);
  EXPECT_EQ(journal->mails[1].outcome, MailOutcome::Refused);
  EXPECT_EQ(journal->mails[3].outcome, MailOutcome::Sent);
}

TEST_F(ContinueRunTest, TheSenderRefusedStopsTheRunAsBefore) {
  Recipients(2);
  Greeting();
  smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("550 sender not allowed\r\n");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 106);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(Outcomes(), "refused 106 550 sender not allowed;not-sent;");
}

// A 4xx or a lost connection: the mail goes again on a new connection
// after the wait, and arrives once.
TEST_F(ContinueRunTest, TriesATemporaryFailureAgainOnANewConnection) {
  const struct {
    const char* what;
    void (*fail)(ScriptedServer&);
    bool quits;  // the old connection is still in step
  } cases[] = {
      {"421 to RCPT", [](ScriptedServer& s) { s.Send("421 4.7.0 try again later\r\n"); }, true},
      {"hang-up after RCPT", [](ScriptedServer& s) { s.Close(); }, false},
      {"hang-up in the data",
       [](ScriptedServer& s) {
         s.Send("250 ok\r\n").Expect("DATA\r\n").Send("354 go\r\n").Close();
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    smtp = ScriptedServer();
    job->recipientLines.clear();
    events.clear();
    eventTimes.clear();
    Recipients(2);
    Greeting();
    Accepted("r1@example.jp");
    Envelope(2);
    c.fail(smtp);
    if (c.quits) Quit();
    Greeting();
    Accepted("r2@example.jp");
    Quit();
    EXPECT_EQ(job->RunSendJob(), 0);
    EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
    EXPECT_EQ(Outcomes(), "sent 250 queued;sent 250 queued;");
    const auto again = std::find_if(events.begin(), events.end(), [](const RunEvent& e) {
      return e.kind == RunEventKind::Reconnecting;
    });
    ASSERT_NE(again, events.end());
    EXPECT_EQ(again->mail, 1);
    EXPECT_EQ(again->attempt, 2);
    EXPECT_EQ(again->seconds, 5);
    const std::size_t at = static_cast<std::size_t>(again - events.begin());
    EXPECT_GE(eventTimes.back() - eventTimes[at], 5) << "the wait was kept";
  }
}

TEST_F(ContinueRunTest, AfterTheLastTryTheMailIsRefusedAndTheRunGoesOn) {
  Policy("continue", 1, 2);
  Recipients(2);
  Greeting();
  Envelope(1);
  smtp.Send("450 4.2.1 mailbox busy\r\n");
  Quit();
  Greeting();
  Envelope(1);
  smtp.Send("450 4.2.1 mailbox busy\r\n");
  // The last try's connection is still in step: it carries the next mail.
  smtp.Expect("RSET\r\n").Send("250 reset\r\n");
  Accepted("r2@example.jp");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 30);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(Outcomes(), "refused 106 450 4.2.1 mailbox busy;sent 250 queued;");
}

// The server may have the mail: it is never sent again, and the run goes
// on with the next on a new connection.
TEST_F(ContinueRunTest, AMailInDoubtIsListedAndNotSentAgain) {
  Recipients(2);
  Greeting();
  Envelope(1);
  smtp.Send("250 ok\r\n").Expect("DATA\r\n").Send("354 go\r\n");
  smtp.ExpectThrough("\r\n.\r\n").Close();
  Greeting();
  Accepted("r2@example.jp");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 30);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(Outcomes(), "in-doubt 111;sent 250 queued;");
  const std::optional<JournalState> journal = ReadJournal(job->journalPath, nullptr);
  ASSERT_TRUE(journal);
  EXPECT_EQ(journal->mails[0].outcome, MailOutcome::InDoubt);
}

TEST_F(ContinueRunTest, TheDefaultStopsAtTheFirstFailureWithoutRetrying) {
  Policy("stop", 2, 5);
  Recipients(2);
  Greeting();
  Envelope(1);
  smtp.Send("421 4.7.0 try again later\r\n");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 106);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(Outcomes(), "refused 106 421 4.7.0 try again later;not-sent;");
  for (const RunEvent& e : events) EXPECT_NE(e.kind, RunEventKind::Reconnecting);
}

TEST_F(ContinueRunTest, KeepsMailsPerMinuteWithTheClock) {
  ASSERT_EQ(settings->ini.Set("mailsPerMinute", "2"), 0);
  UseReceivingServer();
  Recipients(5);
  EXPECT_EQ(job->RunSendJob(), 0);
  ASSERT_EQ(receiver.Mails().size(), 5u);
  std::vector<std::time_t> starts;
  int waits = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i].kind == RunEventKind::MailStarted) starts.push_back(eventTimes[i]);
    if (events[i].kind == RunEventKind::WaitingForLimit) {
      ++waits;
      EXPECT_EQ(events[i].reason, "mailsPerMinute");
    }
  }
  ASSERT_EQ(starts.size(), 5u);
  EXPECT_EQ(waits, 2);
  // No minute holds more than two starts.
  for (std::size_t i = 2; i < starts.size(); ++i) EXPECT_GE(starts[i] - starts[i - 2], 60) << i;
  const std::vector<std::string> statuses = Statuses();
  EXPECT_TRUE(std::any_of(statuses.begin(), statuses.end(), [](const std::string& s) {
    return s.starts_with("送信数の上限(1分あたり2通)のため、次の送信まであと");
  }));
}

TEST_F(ContinueRunTest, OpensANewConnectionAfterMailsPerConnection) {
  Policy("stop", 2, 5);
  ASSERT_EQ(settings->ini.Set("mailsPerConnection", "2"), 0);
  UseReceivingServer();
  Recipients(5);
  EXPECT_EQ(job->RunSendJob(), 0);
  EXPECT_EQ(receiver.Mails().size(), 5u);
  EXPECT_EQ(receiver.Connects(), 3);
  EXPECT_EQ(std::count(receiver.Commands().begin(), receiver.Commands().end(), "QUIT"), 3);
}

TEST_F(ContinueRunTest, TheStopButtonEndsAWaitWith40) {
  ASSERT_EQ(settings->ini.Set("mailsPerHour", "1"), 0);
  UseReceivingServer();
  Recipients(2);
  job->onRunEvent = [this](const RunEvent& e) {
    if (e.kind == RunEventKind::WaitingForLimit) job->RequestStop();
  };
  EXPECT_EQ(job->RunSendJob(), 40);
  EXPECT_EQ(receiver.Mails().size(), 1u);
  EXPECT_EQ(Outcomes(), "sent 250 queued;not-sent;");
  EXPECT_FALSE(job->Running());
}

}  // namespace
}  // namespace velkaro::testing
