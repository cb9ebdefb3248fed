// The result list of a run: every recipient with its outcome, in list
// order, kept on the job and written as Log/result-YYYYMMDD-hhmmss.csv. A
// mail whose end of data got no reply is in doubt, never sent nor refused.
#include <gtest/gtest.h>

#include <string>

#include "core/encoding.h"
#include "job/run_fixture.h"

namespace velkaro::testing {
namespace {

class RunResultsTest : public RunTest {
 protected:
  void ThreeRecipients() {
    AddRecipient(Sjis("一郎"), "one@example.jp");
    AddRecipient(Sjis("二郎, \"次男\""), "two@example.jp");
    AddRecipient(Sjis("三郎"), "three@example.jp");
    job->bodyText = Sjis("件名\r\n本文\r\n");
  }
  std::string Csv() const { return ReadBytes(dir.File("Log/result-20261206-093015.csv")); }
};

TEST_F(RunResultsTest, ARefusedMailStopsTheRunAndTheListSaysWhoGotWhat) {
  ThreeRecipients();
  Greeting();
  Accepted("one@example.jp");
  smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("RCPT TO:<two@example.jp>\r\n").Send("550 5.1.1 no such user\r\n");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 106);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();

  EXPECT_EQ(job->resultCsvPath, dir.File("Log/result-20261206-093015.csv"));
  EXPECT_EQ(Csv(),
            "\xEF\xBB\xBF"
            "no,name,address,outcome,code,reply\r\n"
            "1,一郎,one@example.jp,sent,,250 queued\r\n"
            "2,\"二郎, \"\"次男\"\"\",two@example.jp,refused,106,550 5.1.1 no such user\r\n"
            "3,三郎,three@example.jp,not-sent,,\r\n");
  EXPECT_EQ(ResultSummary(job->results), "1 sent, 1 refused, 0 in doubt, 1 not sent");
}

TEST_F(RunResultsTest, AnEndOfDataWithoutReplyIsInDoubt) {
  ThreeRecipients();
  Greeting();
  smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("RCPT TO:<one@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("DATA\r\n").Send("354 go\r\n");
  smtp.ExpectThrough("\r\n.\r\n").Close();
  EXPECT_EQ(job->RunSendJob(), 111);
  ASSERT_EQ(job->results.size(), 3u);
  EXPECT_EQ(job->results[0].outcome, MailOutcome::InDoubt);
  EXPECT_EQ(job->results[0].code, 111);
  EXPECT_EQ(job->results[1].outcome, MailOutcome::NotSent);
  EXPECT_NE(Csv().find("1,一郎,one@example.jp,in-doubt,111,\r\n"), std::string::npos) << Csv();
}

TEST_F(RunResultsTest, ARefusedEndOfDataIsRefusedNotInDoubt) {
  ThreeRecipients();
  Greeting();
  smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("RCPT TO:<one@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("DATA\r\n").Send("354 go\r\n");
  smtp.ExpectThrough("\r\n.\r\n").Send("554 5.7.1 rejected as spam\r\n");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 111);
  ASSERT_EQ(job->results.size(), 3u);
  EXPECT_EQ(job->results[0].outcome, MailOutcome::Refused);
  EXPECT_EQ(job->results[0].reply, "554 5.7.1 rejected as spam");
}

TEST_F(RunResultsTest, ARunThatCannotConnectListsEveryoneAsNotSent) {
  ThreeRecipients();
  smtp.Close();
  EXPECT_EQ(job->RunSendJob(), 10);
  ASSERT_EQ(job->results.size(), 3u);
  for (const RecipientResult& r : job->results) EXPECT_EQ(r.outcome, MailOutcome::NotSent);
  EXPECT_NE(Csv().find("3,三郎,three@example.jp,not-sent,,\r\n"), std::string::npos);
}

}  // namespace
}  // namespace velkaro::testing
